#!/usr/bin/env bash
# Every test of every build: installs what it needs, then configures, builds
# and runs the suites of the default, sanitizer and i386 presets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
for preset in default sanitizer i386; do
  echo "=== ${preset} ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
