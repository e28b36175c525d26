#!/usr/bin/env bash
# The release bundle as a user gets it: unpacked into an empty folder, every
# file matches its sum; each MEX file is what its name says (PE32+ x86-64,
# PE32 i386, ELF x86-64) and exports mexFunction alone; no shipped binary
# carries a library search path, debug information or a path of the machine
# that built it; and each MEX file loads from the bundle and answers: the
# Octave build in Octave (the sizes vector INSTALL.md promises, and `help
# corvel`), the Linux build in our engine and the 64-bit Windows build under
# wine, each giving the numbers of the build it came from.
# Usage: check_bundle.sh ZIP SOURCE_DIR [OCTAVE_CLI [WINE64]]
set -uo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") src=$2
octave=${3:-$(command -v octave-cli || true)}
wine=${4:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mkdir "$work/unpacked" "$work/empty"
(cd "$work/unpacked" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
dir=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d -name 'corvel-*')
[ -n "$dir" ] || { echo "FAIL: no corvel-VERSION folder in $zip"; exit 1; }
cd "$dir"
wheel=$(ls corvel-*-linux_x86_64.whl 2>/dev/null | head -1)
shipped=(corvel.mexw64 corvel.mexw32 corvel.mexa64 corvel.mex corvel.m "${wheel:-corvel-VERSION-linux_x86_64.whl}" INSTALL.md LICENSE)
for f in "${shipped[@]}" SHA256SUMS; do
  [ -s "$f" ] || fail "$f missing"
done
sha256sum --quiet -c SHA256SUMS || fail "a sum does not match"
tools=(linux-x86_64/corvel-sim linux-x86_64/corvel.mexa64 linux-x86_64/libmx.so linux-x86_64/libmex.so
  linux-x86_64/corvel-fleet-submit linux-x86_64/corvel-fleet.sbatch
  windows-x64/corvel-sim.exe windows-x64/corvel.mexw64 windows-x64/libmx.dll windows-x64/libmex.dll
  windows-x86/corvel-sim.exe windows-x86/corvel.mexw32 windows-x86/libmx.dll windows-x86/libmex.dll)
for f in "${tools[@]}"; do [ -s "bin/$f" ] || fail "bin/$f missing"; done
[ "$(wc -l < SHA256SUMS)" -eq $((${#shipped[@]} + ${#tools[@]})) ] ||
  fail "SHA256SUMS does not cover the $((${#shipped[@]} + ${#tools[@]})) files"
grep -q "20, -1, 3" INSTALL.md || fail "INSTALL.md has no parameter string"
! grep -q "@VERSION@" INSTALL.md || fail "INSTALL.md has no version"
objdump -f corvel.mexa64 | grep -q "file format elf64-x86-64" || fail "corvel.mexa64 is not ELF x86-64"
objdump -f corvel.mex | grep -q "file format elf64-x86-64" || fail "corvel.mex is not ELF x86-64"
"$src/tests/check_exports.sh" corvel.mexa64 "$src/windows" > /dev/null || fail "corvel.mexa64 exports"
"$src/tests/windows/check_pe.sh" x86_64-w64-mingw32-objdump corvel.mexw64 "$src/windows" > /dev/null || fail "corvel.mexw64"
"$src/tests/windows/check_pe.sh" i686-w64-mingw32-objdump corvel.mexw32 "$src/windows" > /dev/null || fail "corvel.mexw32"
for f in corvel.mexw64 corvel.mexw32; do
  strings -el "$f" | grep -qx "$(sed -n 's/^# corvel \([0-9.]*\):.*/\1/p' INSTALL.md)" || fail "$f has no version resource"
done

# Nothing of the build machine in a shipped binary. (Each tool's output is
# read whole before it is searched: a search that stops at the first match
# would end the tool early and, under pipefail, turn the match into a failure.)
# A MEX file names no folder at all (the host has its libraries loaded); a
# tool only its own ($ORIGIN: the folder it is unpacked in).
for f in corvel.mexa64 corvel.mex bin/linux-x86_64/corvel-sim bin/linux-x86_64/corvel.mexa64 bin/linux-x86_64/libmx.so \
  bin/linux-x86_64/libmex.so; do
  dynamic=$(readelf -d "$f") sections=$(readelf -S "$f")
  paths=$(sed -n 's/.*Library r[a-z]*path: \[\(.*\)\]/\1/p' <<<"$dynamic" | tr ':' '\n')
  case $f in
    bin/*) [ -z "$paths" ] || ! grep -qv '^\$ORIGIN' <<<"$paths" || fail "$f names a library search path outside itself: $paths" ;;
    *) [ -z "$paths" ] || fail "$f names a library search path: $paths" ;;
  esac
  ! grep -qE '\.debug_|\.symtab' <<<"$sections" || fail "$f carries debug information or a symbol table"
done
for f in corvel.mexw64 corvel.mexw32 bin/windows-*/*.exe bin/windows-*/*.dll bin/windows-*/*.mexw*; do
  sections=$(objdump -h "$f") symbols=$(objdump -t "$f" 2>/dev/null)
  ! grep -qE '\.debug_' <<<"$sections" || fail "$f carries debug information"
  ! grep -q '^\[' <<<"$symbols" || fail "$f carries a symbol table"
done
build_path_words=("$src" "$(basename "$src")/build" "/build/default" "/build/mingw")
for f in corvel.mexa64 corvel.mex corvel.mexw64 corvel.mexw32 bin/*/*; do
  text=$(strings -a "$f"; strings -a -el "$f")
  for word in "${build_path_words[@]}"; do
    ! grep -qF -- "$word" <<<"$text" || fail "$f holds the build path '$word'"
  done
done
objdump -f bin/windows-x86/corvel-sim.exe | grep -q "file format pei-i386" || fail "bin/windows-x86/corvel-sim.exe is not PE32 i386"

# The smoke test INSTALL.md gives, with the answer it promises.
smoke="s = corvel([], [], [], 0, 20, -1, 3); fprintf('%d x %d:', size(s)); fprintf(' s(%d) = %d', [find(s) s(find(s))]'); fprintf('\\n')"
promised="40 x 1: s(2) = 11 s(3) = 3 s(4) = 1 s(7) = 1 s(8) = 3 s(20) = 8480229 s(24) = 537403394 s(32) = 2"
grep -qxF -- "$smoke" "$dir/INSTALL.md" || fail "INSTALL.md does not give the smoke test"
grep -qxF -- "$promised" "$dir/INSTALL.md" || fail "INSTALL.md does not give the smoke test's answer"
if [ -n "$octave" ]; then
  answer=$("$octave" --no-gui --norc --quiet --eval "addpath('$dir'); $smoke; disp(help('corvel'));" 2>&1 |
    grep -v 'ignoring const execution_exception')
  [ "$(head -1 <<<"$answer")" = "$promised" ] || fail "corvel.mex from the bundle in Octave: $(head -1 <<<"$answer")"
  grep -q "CORVEL  Differentiator block" <<<"$answer" || fail "help corvel in Octave does not show corvel.m: $answer"
else
  fail "no octave-cli to load corvel.mex"
fi
run_sim() {  # run_sim LOG PROGRAM...: a short run of the built-in signal
  local log=$1
  shift
  "$@" --signal chirp --duration 2 --order 3 --gain 40 --no-plot --out "$log" > /dev/null 2>&1
}
run_sim bundle.csv "$src/build/default/corvel-sim" --mex "$dir/corvel.mexa64" || fail "corvel.mexa64 from the bundle does not run"
run_sim built.csv "$src/build/default/corvel-sim" --mex "$src/build/default/corvel.mexa64" || fail "the built corvel.mexa64 does not run"
cmp -s bundle.csv built.csv || fail "corvel.mexa64 from the bundle gives other numbers than the build's"
# The tools from the unpacked bundle, run from an empty folder with no
# library path of ours: the numbers of the build's own corvel-sim.
env -u LD_LIBRARY_PATH "$dir/bin/linux-x86_64/corvel-sim" --version > /dev/null 2>&1 || fail "bin/linux-x86_64/corvel-sim does not start"
run_sim tool.csv env -u LD_LIBRARY_PATH "$dir/bin/linux-x86_64/corvel-sim" || fail "bin/linux-x86_64/corvel-sim does not run"
run_sim tool-built.csv "$src/build/default/corvel-sim" || fail "the built corvel-sim does not run"
cmp -s tool.csv tool-built.csv || fail "bin/linux-x86_64/corvel-sim gives other numbers than the build's"
"$dir/bin/linux-x86_64/corvel-fleet-submit" > /dev/null 2>&1
[ $? -eq 2 ] || fail "bin/linux-x86_64/corvel-fleet-submit without arguments does not print its usage"
if [ -x "$src/build/mingw64/corvel-sim.exe" ]; then
  WINEDEBUG=-all run_sim tool-w64.csv "$wine" "$dir/bin/windows-x64/corvel-sim.exe" ||
    fail "bin/windows-x64/corvel-sim.exe does not run under wine"
  WINEDEBUG=-all run_sim tool-w64-built.csv "$wine" "$src/build/mingw64/corvel-sim.exe" || fail "the built corvel-sim.exe does not run"
  cmp -s tool-w64.csv tool-w64-built.csv || fail "bin/windows-x64/corvel-sim.exe gives other numbers than the build's"
fi
if [ -x "$src/build/mingw64/corvel-sim.exe" ]; then
  WINEDEBUG=-all run_sim bundle-w64.csv "$wine" "$src/build/mingw64/corvel-sim.exe" --mex "$(winepath -w "$dir/corvel.mexw64" 2>/dev/null || echo "$dir/corvel.mexw64")" ||
    fail "corvel.mexw64 from the bundle does not run under wine"
  WINEDEBUG=-all run_sim built-w64.csv "$wine" "$src/build/mingw64/corvel-sim.exe" || fail "the built corvel.mexw64 does not run under wine"
  cmp -s bundle-w64.csv built-w64.csv || fail "corvel.mexw64 from the bundle gives other numbers than the build's"
else
  fail "no build/mingw64/corvel-sim.exe to load corvel.mexw64"
fi
# The wheel into a fresh venv (Debian's numpy), imported and run from an empty
# folder: the numbers of the build's own package, to the bit.
if [ -n "$wheel" ]; then
  /usr/bin/python3 -m venv --system-site-packages "$work/venv"
  "$work/venv/bin/pip" install --no-index --no-deps --quiet "$dir/$wheel" > "$work/pip.log" 2>&1 ||
    fail "the wheel does not install: $(tail -3 "$work/pip.log")"
  digest='import corvel, hashlib, numpy as np, sys
u = np.sin(np.arange(20000) * 0.003) + 0.01 * np.cos(np.arange(20000) * 1.3)
e = corvel.estimate(u, 0.001, 35, 4)
print(corvel.__file__.startswith(sys.argv[1]), hashlib.sha256(e.derivatives.tobytes() + e.error.tobytes()).hexdigest())'
  installed=$("$work/venv/bin/python" -c "$digest" "$work/venv" 2>&1)
  built=$(PYTHONPATH="$src/build/default/python" /usr/bin/python3 -c "$digest" "$src/build/default/python" 2>&1)
  [ "$installed" = "$built" ] && [ "${built%% *}" = "True" ] ||
    fail "the wheel's package in a fresh venv: '$installed', the build's: '$built'"
fi
if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "release bundle $(basename "$zip"): ${#shipped[@]} files, sums, formats, exports, stripped, loaded from the bundle"
