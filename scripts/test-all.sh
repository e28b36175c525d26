#!/usr/bin/env bash
# Every test of every build: installs what it needs, then configures, builds
# and runs the suites of each preset (x86-64 with the Octave build, sanitizers,
# i386 under qemu-i386, x86-64 Windows under wine64, i386 Windows built here
# and run under wine32 in a virtual machine),
# installs the Python package as the README says and checks it, builds and checks the release bundle, fuzzes the entry point, the dispatch and corvel-sim's input for a bounded
# time each, and compares the Windows build's simulations with the Linux
# build's.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
jobs=$(nproc)
export WINEDEBUG=-all
export WINEPREFIX="$root/build/mingw64/wine"
passed=0
for preset in default sanitizer i386 mingw64 mingw32; do
  echo "=== ${preset} ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs" | tee "build/ctest-$preset.log"
  count=$(grep -oE 'tests passed, 0 tests failed out of [0-9]+' "build/ctest-$preset.log" | grep -oE '[0-9]+$')
  passed=$((passed + count))
done
echo "=== Python package, installed ==="
python/tests/install_test.sh "$root"
passed=$((passed + 1))
echo "=== release bundle ==="
bundle=$(scripts/release.sh)
tests/release/check_bundle.sh "$bundle" "$root"
passed=$((passed + 1))
echo "=== fuzzing ==="
FUZZ_SECONDS=${FUZZ_SECONDS:-30} scripts/fuzz.sh
passed=$((passed + 3))
echo "=== Windows against Linux ==="
tests/windows/compare_with_linux.sh "$root/build/default/corvel-sim" "$root/build/mingw64/corvel-sim.exe" \
  "$root/build/default/tests/corvel_csv_compare" "$(command -v wine64 || echo /usr/lib/wine/wine64)"
passed=$((passed + 1))
echo "=== i386 Windows in a virtual machine ==="
scripts/test-win32-vm.sh "$root/build/mingw32" | tee build/win32-vm.log
count=$(grep -oE '^win32 guest: [0-9]+ passed, 0 failed' build/win32-vm.log | grep -oE '[0-9]+ passed' | grep -oE '[0-9]+')
passed=$((passed + count))
echo "all suites: $passed passed, 0 failed"
