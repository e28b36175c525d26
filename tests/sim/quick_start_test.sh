#!/usr/bin/env bash
# The README's quick start as a newcomer types it, on the spreadsheet export
# it names: the first run stops at the gap and says what to do, tune
# recommends the gain the README shows, and the last run writes a log a
# spreadsheet in that locale reads and a figure with units; PNG and PDF
# figures read back.
# Usage: quick_start_test.sh CORVEL_SIM SOURCE_DIR
set -uo pipefail
sim=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build/default" "$work/examples"
cp "$src/examples/rig.csv" "$work/examples/"
# The program with its MEX file and array API, as the build leaves them.
bin=$(dirname "$sim")
cp "$sim" "$bin/corvel.mexa64" "$work/build/default/"
mkdir -p "$work/build/default/host"
cp "$bin"/host/libmx.so "$bin"/host/libmex.so "$work/build/default/host/"
cd "$work/build/default"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The quick start's commands, from its sh block, in order.
mapfile -t commands < <(awk '/^## Quick start/{q=1} q&&/^```sh/{s=1;next} s&&/^```/{exit} s&&/^\.\/corvel-sim/' "$src/README.md")
[ "${#commands[@]}" -eq 3 ] || fail "the quick start has ${#commands[@]} corvel-sim commands, not 3"

out=$(eval "${commands[0]}" 2>&1); status=$?
[ "$status" -eq 1 ] && grep -qF "rig.csv:2502: no sample of 'Position [mm]' (an empty cell or NaN), the first of a gap of 40 samples" <<<"$out" ||
  fail "first run: exit $status, $out"
grep -qxF "   $out" "$src/README.md" || fail "the README shows another message than: $out"

out=$(eval "${commands[1]}" 2>&1) || fail "tune: $out"
recommended=$(sed -n 's/.*--gain \([0-9.]*\) --order \([0-9]*\)$/--gain \1 --order \2/p' <<<"$out")
grep -qF -- "$recommended" <<<"${commands[2]}" || fail "tune recommends '$recommended'; the README runs: ${commands[2]}"

out=$(eval "${commands[2]}" 2>&1) || fail "the run: $out"
grep -qF "40 of the 4000 inputs of 'Position [mm]' fill gaps (--missing interpolate)" <<<"$out" || fail "no count of filled gaps: $out"
head -1 velocity.csv | grep -qx 't;u;error;z0;d1;d2;d3;filled' || fail "log header: $(head -1 velocity.csv)"
sed -n 3p velocity.csv | grep -q '^0,001;12,657;' || fail "log row: $(sed -n 3p velocity.csv)"
[ "$(grep -c ';1$' velocity.csv)" -eq 40 ] || fail "filled rows: $(grep -c ';1$' velocity.csv)"
for label in 'u and z0 (mm)' 'd1 (mm/s)' 'd2 (mm/s^2)'; do
  grep -qF ">$label<" velocity.svg || fail "the figure has no panel '$label'"
done
! grep -qF '>d3 (' velocity.svg || fail "a panel not chosen is drawn"
grep -qF '#fbe3c4' velocity.svg || fail "the filled gap is not shaded"

# The same figure as a picture and as a page for a report.
run="${commands[2]/--plot velocity.svg/}"
eval "$run --plot velocity.png" > /dev/null 2>&1 || fail "PNG figure"
file velocity.png | grep -q 'PNG image data, 2120 x' || fail "velocity.png: $(file velocity.png)"
eval "$run --plot velocity.pdf" > /dev/null 2>&1 || fail "PDF figure"
[ "$(grep -ac '/Type /Page\b' velocity.pdf || true)" = 1 ] || fail "velocity.pdf: not one page"
cp velocity.png before.png
out=$(eval "$run --plot velocity.jpg" 2>&1); status=$?
[ "$status" -eq 2 ] && grep -qF -- "--plot velocity.jpg: a figure is .svg, .png, .pdf or .html" <<<"$out" || fail ".jpg: exit $status, $out"
[ ! -e velocity.jpg ] || fail "a refused figure was written"
cmp -s before.png velocity.png || fail "a refused run touched an earlier figure"

# Where librsvg is missing (hidden here in a mount namespace of its own), a
# PNG is refused before the run, and everything else works as before.
lib=$(ldconfig -p | sed -n 's|.* => \(.*/librsvg-2\.so\.2\)$|\1|p' | head -1)
if [ "$(id -u)" -eq 0 ] && [ -n "$lib" ] && unshare -m true 2>/dev/null; then
  out=$(unshare -m sh -c "mount --bind /dev/null '$lib' && $run --plot bare.png --out bare.csv" 2>&1); status=$?
  [ "$status" -eq 1 ] && grep -qF "bare.png: a PNG or PDF figure cannot be drawn here: this machine has no librsvg 2" <<<"$out" ||
    fail "without librsvg: exit $status, $out"
  [ ! -e bare.png ] && [ ! -e bare.csv ] || fail "a refused figure left outputs"
  unshare -m sh -c "mount --bind /dev/null '$lib' && $run --plot bare.svg --out bare.csv" > /dev/null 2>&1 ||
    fail "without librsvg an SVG figure fails"
fi

[ "$failures" -eq 0 ] && echo "quick start: passed" || { echo "$failures failed"; exit 1; }
