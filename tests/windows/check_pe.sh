#!/usr/bin/env bash
# File check of a Windows MEX file from its PE headers: the architecture, the
# one export mexFunction, imports from libmx.dll and libmex.dll limited to our
# lists of names, and otherwise only DLLs every Windows machine has.
# Usage: check_pe.sh OBJDUMP FILE DEF_DIR
set -euo pipefail
objdump=$1 file=$2 defs=$3
headers=$("$objdump" -p "$file")
failures=0
fail() { echo "FAIL: $file: $*"; failures=$((failures + 1)); }

case "$file" in
  *.mexw64) want_format="pei-x86-64" ;;
  *.mexw32) want_format="pei-i386" ;;
  *) fail "not a .mexw64 or .mexw32 file"; want_format="?" ;;
esac
"$objdump" -f "$file" | grep -q "file format $want_format" || fail "file format is not $want_format"

# The export table's name list.
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{on=0}' <<<"$headers" | sort)
[ "$exports" = "mexFunction" ] || fail "exports are: $(echo $exports)"

# Imports by DLL: "DLL Name: X" starts a block; its names follow as "hint name".
imports=$(awk '/DLL Name:/{dll=tolower($3); next} dll && /^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+/{print dll, $3} /^[ \t]*$/{dll=""}' <<<"$headers")
dlls=$(awk '{print $1}' <<<"$imports" | sort -u)
for dll in $dlls; do
  case "$dll" in
    libmx.dll|libmex.dll|kernel32.dll|msvcrt.dll) ;;
    *) fail "depends on $dll, which a Windows machine may lack" ;;
  esac
done
for lib in libmx libmex; do
  grep -q "^$lib.dll " <<<"$imports" || fail "imports nothing from $lib.dll"
  listed=$(awk '/^EXPORTS/{on=1; next} on && NF{print $1}' "$defs/$lib.def" | sort)
  used=$(awk -v d="$lib.dll" '$1 == d {print $2}' <<<"$imports" | sed 's/^_//' | sort)
  extra=$(comm -13 <(echo "$listed") <(echo "$used"))
  [ -z "$extra" ] || fail "imports from $lib.dll names not in $lib.def: $extra"
done

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "$file: $want_format, exports mexFunction only, imports $(echo $dlls)"
