#!/usr/bin/env bash
# The release bundle: builds the Linux, 64-bit Windows and 32-bit Windows MEX
# files (presets default, mingw64, mingw32) when they are not built yet, and
# collects them with INSTALL.md, LICENSE and SHA256SUMS into
# build/release/corvel-VERSION.zip. Prints the zip's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
version=$(sed -nE 's/^project\(corvel VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
for preset in default mingw64 mingw32; do
  if [ ! -f "build/$preset/build.ninja" ]; then cmake --preset "$preset" > /dev/null; fi
  cmake --build --preset "$preset" --target corvel_mex > /dev/null
done
out="build/release/corvel-$version"
rm -rf "$out" "$out.zip"
mkdir -p "$out"
cp build/default/corvel.mexa64 build/mingw64/corvel.mexw64 build/mingw32/corvel.mexw32 LICENSE "$out/"
sed "s/@VERSION@/$version/" release/INSTALL.md > "$out/INSTALL.md"
(cd "$out" && sha256sum corvel.mexa64 corvel.mexw64 corvel.mexw32 INSTALL.md LICENSE > SHA256SUMS)
(cd build/release && cmake -E tar cf "corvel-$version.zip" --format=zip "corvel-$version")
echo "$root/$out.zip"
