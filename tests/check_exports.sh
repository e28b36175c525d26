#!/usr/bin/env bash
# Fails unless the shared library given exports exactly one symbol, mexFunction.
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '{print $NF}' | sort)
if [ "$exports" != "mexFunction" ]; then
  echo "exports of $1:" >&2
  echo "$exports" >&2
  exit 1
fi
echo "$1 exports only mexFunction"
