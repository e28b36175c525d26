#!/usr/bin/env bash
# Builds the default preset and runs the differentiator over a built-in sine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target corvel-kernel-demo >/dev/null
build/default/tools/kernel-demo/corvel-kernel-demo
