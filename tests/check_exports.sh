#!/usr/bin/env bash
# Fails unless the shared library given exports exactly one symbol,
# mexFunction, and takes from the host's array API only the names listed for
# the host's libraries (windows/libmx.def, windows/libmex.def).
# Usage: check_exports.sh LIBRARY DEF_DIR
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '{print $NF}' | sort)
if [ "$exports" != "mexFunction" ]; then
  echo "exports of $1:" >&2
  echo "$exports" >&2
  exit 1
fi
used=$(nm -D --undefined-only "$1" | awk '{print $NF}' | grep -E '^(mx|mex)[A-Z]' | sort)
listed=$(awk '/^EXPORTS/{on=1; next} on && NF{print $1}' "$2/libmx.def" "$2/libmex.def" | sort)
extra=$(comm -23 <(echo "$used") <(echo "$listed"))
if [ -n "$extra" ]; then
  echo "$1 uses array-API names missing from the host library lists: $extra" >&2
  exit 1
fi
echo "$1 exports only mexFunction and uses $(echo "$used" | wc -l) listed array-API names"
