#!/usr/bin/env bash
# Every test of every build: installs what it needs, then configures, builds
# and runs the suites of each preset (x86-64, sanitizers, i386 under
# qemu-i386, x86-64 Windows under wine64, i386 Windows as files), and compares
# the Windows build's simulations with the Linux build's; then fuzzes the entry
# point, the dispatch and corvel-sim's input for a bounded time each.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/mingw64/wine"
for preset in default sanitizer i386 mingw64 mingw32; do
  echo "=== ${preset} ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "=== fuzzing ==="
FUZZ_SECONDS=${FUZZ_SECONDS:-30} scripts/fuzz.sh
echo "=== Windows against Linux ==="
tests/windows/compare_with_linux.sh build/default/corvel-sim build/mingw64/corvel-sim.exe \
  build/default/tests/corvel_csv_compare "$(command -v wine64 || echo /usr/lib/wine/wine64)"
