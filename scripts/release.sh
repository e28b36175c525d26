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
  cmake --build --preset "$preset" --target corvel_mex > /dev/null
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
cp LICENSE release/corvel.m "$out/"
sed "s/@VERSION@/$version/" release/INSTALL.md > "$out/INSTALL.md"
# The Python package as a wheel for x86-64 Linux, built with Debian's Python
# by the project's CMake (in build/python-package).
/usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index --quiet -w "$out" . > /dev/null
wheel=$(cd "$out" && ls corvel-*.whl)
files=(corvel.mexa64 corvel.mex corvel.mexw64 corvel.mexw32 corvel.m "$wheel" INSTALL.md LICENSE)
(cd "$out" && sha256sum "${files[@]}" > SHA256SUMS)
(cd build/release && cmake -E tar cf "corvel-$version.zip" --format=zip "corvel-$version")
echo "$root/$out.zip"
