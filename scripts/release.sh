#!/usr/bin/env bash
# The release bundle: builds the Linux, GNU Octave, 64-bit Windows and 32-bit
# Windows MEX files (presets default, mingw64, mingw32) when they are not built
# yet and collects them, stripped, with corvel.m (the help the host shows for
# `help corvel`), INSTALL.md, LICENSE and SHA256SUMS into
# build/release/corvel-VERSION.zip. Prints the zip's path.
# A shipped binary carries no symbols, no debug information and no path of the
# machine that built it: the debug information of each is kept apart in
# build/release/corvel-VERSION-debug/NAME.debug (not shipped), which the
# binary names (a debug link) for a debugger to find.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
version=$(sed -nE 's/^project\(corvel VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
for preset in default mingw64 mingw32; do
  if [ ! -f "build/$preset/build.ninja" ]; then cmake --preset "$preset" > /dev/null; fi
  cmake --build --preset "$preset" --target corvel_mex corvel-sim > /dev/null
done
cmake --build --preset default --target corvel_octave_mex > /dev/null
out="build/release/corvel-$version"
debug="build/release/corvel-$version-debug"
rm -rf "$out" "$out.zip" "$debug"
mkdir -p "$out" "$debug"

# ship FILE TOOL_PREFIX: the file, stripped, into the bundle; its debug
# information into the debug folder.
ship() {
  local name
  name=$(basename "$1")
  cp "$1" "$out/$name"
  "${2}objcopy" --only-keep-debug "$out/$name" "$debug/$name.debug"
  "${2}strip" --strip-all "$out/$name"
  (cd "$debug" && "${2}objcopy" --add-gnu-debuglink="$name.debug" "$root/$out/$name")
}
ship build/default/corvel.mexa64 ""
ship build/default/octave/corvel.mex ""
ship build/mingw64/corvel.mexw64 x86_64-w64-mingw32-
ship build/mingw32/corvel.mexw32 i686-w64-mingw32-
# The runnable tools, each folder whole: corvel-sim with the MEX file and the
# array API it loads beside it, so that it runs from wherever it is unpacked;
# on Linux also the scripts that run a fleet as a Slurm array job.
tools() {  # tools FOLDER BUILD TOOL_PREFIX FILE...
  local folder=$1 build=$2 prefix=$3
  shift 3
  mkdir -p "$out/bin/$folder" "$debug/bin/$folder"
  for f in "$@"; do
    cp "$build/$f" "$out/bin/$folder/$f"
    "${prefix}objcopy" --only-keep-debug "$out/bin/$folder/$f" "$debug/bin/$folder/$f.debug"
    "${prefix}strip" --strip-all "$out/bin/$folder/$f"
    (cd "$debug/bin/$folder" && "${prefix}objcopy" --add-gnu-debuglink="$f.debug" "$root/$out/bin/$folder/$f")
  done
}
tools linux-x86_64 build/default "" corvel-sim corvel.mexa64
cp build/default/host/libmx.so build/default/host/libmex.so "$out/bin/linux-x86_64/"
strip --strip-all "$out/bin/linux-x86_64/libmx.so" "$out/bin/linux-x86_64/libmex.so"
cp tools/corvel-sim/fleet/slurm/corvel-fleet-submit tools/corvel-sim/fleet/slurm/corvel-fleet.sbatch "$out/bin/linux-x86_64/"
tools windows-x64 build/mingw64 x86_64-w64-mingw32- corvel-sim.exe corvel.mexw64 libmx.dll libmex.dll
tools windows-x86 build/mingw32 i686-w64-mingw32- corvel-sim.exe corvel.mexw32 libmx.dll libmex.dll
cp LICENSE release/corvel.m "$out/"
sed "s/@VERSION@/$version/" release/INSTALL.md > "$out/INSTALL.md"
# The Python package as a wheel for x86-64 Linux, built with Debian's Python
# by the project's CMake (in build/python-package).
/usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index --quiet -w "$out" . > /dev/null
wheel=$(cd "$out" && ls corvel-*.whl)
files=(corvel.mexa64 corvel.mex corvel.mexw64 corvel.mexw32 corvel.m "$wheel" INSTALL.md LICENSE)
(cd "$out" && sha256sum "${files[@]}" $(find bin -type f | sort) > SHA256SUMS)
(cd build/release && cmake -E tar cf "corvel-$version.zip" --format=zip "corvel-$version")
echo "$root/$out.zip"
