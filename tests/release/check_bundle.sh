#!/usr/bin/env bash
# The release bundle as a user gets it: unpacked, every file matches its sum,
# and each MEX file is what its name says (PE32+ x86-64, PE32 i386, ELF
# x86-64) and exports mexFunction alone.
# Usage: check_bundle.sh ZIP SOURCE_DIR
set -uo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
(cd "$work" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'corvel-*')
[ -n "$dir" ] || { echo "FAIL: no corvel-VERSION folder in $zip"; exit 1; }
cd "$dir"
for f in corvel.mexw64 corvel.mexw32 corvel.mexa64 INSTALL.md LICENSE SHA256SUMS; do
  [ -s "$f" ] || fail "$f missing"
done
sha256sum --quiet -c SHA256SUMS || fail "a sum does not match"
[ "$(wc -l < SHA256SUMS)" -eq 5 ] || fail "SHA256SUMS does not cover the five files"
grep -q "20, -1, 3" INSTALL.md || fail "INSTALL.md has no parameter string"
! grep -q "@VERSION@" INSTALL.md || fail "INSTALL.md has no version"
objdump -f corvel.mexa64 | grep -q "file format elf64-x86-64" || fail "corvel.mexa64 is not ELF x86-64"
"$src/tests/check_exports.sh" corvel.mexa64 "$src/windows" > /dev/null || fail "corvel.mexa64 exports"
"$src/tests/windows/check_pe.sh" x86_64-w64-mingw32-objdump corvel.mexw64 "$src/windows" > /dev/null || fail "corvel.mexw64"
"$src/tests/windows/check_pe.sh" i686-w64-mingw32-objdump corvel.mexw32 "$src/windows" > /dev/null || fail "corvel.mexw32"
for f in corvel.mexw64 corvel.mexw32; do
  strings -el "$f" | grep -qx "$(sed -n 's/^# corvel \([0-9.]*\):.*/\1/p' INSTALL.md)" || fail "$f has no version resource"
done
if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "release bundle $(basename "$zip"): five files, sums, formats and exports right"
