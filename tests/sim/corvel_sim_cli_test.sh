#!/usr/bin/env bash
# corvel-sim as a user meets it: a good run writes its files; every bad run
# exits non-zero with a one-line message naming the problem, never a crash.
set -uo pipefail
sim=("$@")  # the program, behind an emulator where there is one
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

expect() {  # expect STATUS PATTERN -- ARGS...
  local status=$1 pattern=$2
  shift 3
  local out
  out=$("${sim[@]}" "$@" 2>&1)
  local got=$?
  if [ "$got" -ne "$status" ] || ! grep -qF -- "$pattern" <<<"$out"; then
    echo "FAIL: corvel-sim $* -> exit $got, output:"
    echo "$out"
    failures=$((failures + 1))
  fi
}

expect 0 "RMS error against the true derivatives" -- --signal poly --order 3 --duration 2
head -1 corvel-out.csv | grep -qx 't,u,error,z0,d1,d2,d3' || { echo "FAIL: CSV header"; failures=$((failures + 1)); }
grep -q '</svg>' corvel-plot.svg || { echo "FAIL: no plot"; failures=$((failures + 1)); }
expect 0 "Usage:" -- --help

printf 't,u\n0,1\n0.1,2\n0.2,x\n' > bad.csv
expect 1 "bad.csv:4: 'u': 'x' is not a number" -- --input bad.csv
printf 'u\n1\n2\nnan\n4\n' > nan.csv
printf '4\n4\n4\n4\n' > const.csv
expect 0 "4 samples of nan.csv" -- --input nan.csv --order 2 --no-plot --missing keep
grep -q '^0.02,nan' corvel-out.csv || { echo "FAIL: NaN sample not logged"; failures=$((failures + 1)); }
printf '\xff\xfet\x00,\x00u\x00\n\x000\x00,\x001\x00\n\x00' > utf16.csv
expect 1 "utf16.csv: this is UTF-16 text, not CSV; save it as CSV (UTF-8)" -- utf16.csv
expect 1 "Order of the differantiator must be a positive integer." -- --order 2.5
expect 1 "The step size either has to be -1" -- --step 0
expect 1 "This block cannot be assigned a continuous sample time." -- --step -1 --variable-step
expect 1 "cannot open the file" -- --input missing.csv
expect 1 "cannot load MEX file nowhere.mexa64" -- --mex nowhere.mexa64
expect 2 "--gain: 'x' is not a number" -- --gain x
expect 2 "--signal: unknown signal 'square'" -- --signal square

expect 0 "Recommended: order" -- tune --signal sine --snr 30 --orders 1-2 --duration 3
grep -q '</svg>' corvel-tune.svg || { echo "FAIL: no tuning plot"; failures=$((failures + 1)); }
expect 1 "the signal is constant (4)" -- tune --input const.csv
expect 1 "is nan: tuning needs a finite signal" -- tune --input nan.csv --missing keep
expect 1 "nan.csv:4: no sample of 'u'" -- tune --input nan.csv
expect 2 "--orders: 0-3 must be an order or a range A-B of orders within 1-10" -- tune --orders 0-3

check() {  # check DESCRIPTION COMMAND...: a condition on the files a run left
  local what=$1
  shift
  "$@" || { echo "FAIL: $what"; failures=$((failures + 1)); }
}
no_outputs() { ! ls -A | grep -qE '^corvel-out.csv$|^corvel-plot.svg$|\.part-'; }

# Recorded data: every row is a sample at the file's own step.
awk 'BEGIN { print "t,u"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g\n", k * 0.001, sin(6 * k * 0.001) }' > khz.csv
expect 0 "3000 samples of khz.csv" -- khz.csv --order 2 --gain 30 --no-plot
# A gain that predicts worse than holding the last sample is named, with the
# tune command for the same input; a suitable one is not.
expect 0 "predicts it worse than repeating the last sample would, so gain 2 does not suit this recording. To find the gain and order: corvel-sim tune --input khz.csv" -- khz.csv --gain 2 --order 1 --no-plot
# Its two RMS, from the log itself: the error output from the end of the first
# third on, and the input's change from the row before over the same rows.
out=$("${sim[@]}" khz.csv --gain 2 --order 1 --no-plot 2>&1)
rms=$(awk -F, 'NR > 1 { t[NR] = $1; u[NR] = $2; e[NR] = $3; n = NR }
  END { from = t[2] + (t[n] - t[2]) / 3
        for (k = 2; k <= n; k++) if (t[k] >= from) { se += e[k] ^ 2; ne++; if (k > 2) { sc += (u[k] - u[k - 1]) ^ 2; nc++ } }
        printf "(RMS %.4g) is larger than its change from one sample to the next (RMS %.4g)", sqrt(se / ne), sqrt(sc / nc) }' corvel-out.csv)
grep -qF "$rms" <<<"$out" || { echo "FAIL: the note's RMS are not the log's ($rms): $out"; failures=$((failures + 1)); }
out=$("${sim[@]}" khz.csv --gain 300 --order 2 --no-plot 2>&1)
! grep -q "does not suit" <<<"$out" || { echo "FAIL: a suitable gain is called unsuitable: $out"; failures=$((failures + 1)); }
check "kHz log has every row" test "$(wc -l < corvel-out.csv)" -eq 3001
expect 0 "the block samples one row in 10 of khz.csv, 300 of 3000 rows" -- --input khz.csv --step 0.01 --no-plot
check "every 10th row logged" test "$(wc -l < corvel-out.csv)" -eq 301
expect 2 "--step 0.0025 is not a whole multiple of the step 0.001 s of khz.csv; --step -1" -- khz.csv --step 0.0025
expect 2 "--step: 2 sample times for 1 signal of khz.csv (one --step for all, or one for each)" -- khz.csv --step 0.001,0.01
expect 2 "--step: corvel-sim tune takes one sample time, not a list" -- tune khz.csv --step 0.001,0.01
# A gain the block takes but cannot track with: one warning, and the run goes on.
expect 0 "warning: --gain 0: the block never corrects its prediction" -- khz.csv --gain 0 --no-plot
expect 0 "warning: --gain -3 is negative: the block's error grows" -- khz.csv --gain -3 --no-plot
expect 0 "warning: --gain nan is not a number: every estimate from the first error on is NaN" -- khz.csv --gain nan --no-plot
check "a plain gain warns of nothing" test -z "$("${sim[@]}" khz.csv --gain 30 --no-plot 2>&1 >/dev/null)"
check "a warning is said once" test "$("${sim[@]}" khz.csv --gain 0 --no-plot 2>&1 | grep -c warning)" -eq 1
# Tune searches only the gains asked for.
check "tune --gains 5:6 keeps the best gain within them" awk 'NR == 3 { exit !($2 >= 5 && $2 <= 6) }' \
  <("${sim[@]}" tune khz.csv --orders 1 --gains 5:6 --no-plot 2> /dev/null | tr -d '\r')
# Faults that once passed the suite, each held by a check: a header name with
# a quote is quoted in the log with the quote doubled; --warmup 0 is a warm-up
# of nothing, not "not given"; a bad field late in a many-column run is an
# input error with its file:line; tune names a column of a repeated name by its
# number in the command it prints.
printf 't,a"b,c\n0,1,2\n0.001,2,3\n0.002,3,4\n' > quote.csv
expect 0 "3 samples of quote.csv" -- quote.csv --column all --no-plot --out quote-log.csv
check "a quote in a header name is doubled in the log" grep -q '^t,"a""b.u","a""b.e",' quote-log.csv
expect 0 "from t = 0 s on" -- --signal sine --duration 3 --warmup 0 --no-plot --out warm.csv
awk 'BEGIN { print "t,a,b"; for (k = 0; k < 6000; k++) printf "%.3f,%.17g,%s\n", k * 0.001, sin(k * 0.001),
  (k == 4999 ? "x" : sprintf("%.17g", cos(k * 0.001))) }' > late.csv
expect 1 "late.csv:5001: 'b': 'x' is not a number" -- late.csv --column all --no-plot --out late-log.csv
awk 'BEGIN { print "t,a,a"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g,%.17g\n", k * 0.001, sin(6 * k * 0.001),
  cos(3 * k * 0.001) }' > repeated.csv
tune_out=$("${sim[@]}" tune repeated.csv --column all --orders 1 --no-plot 2>&1 | tr -d '\r')
check "tune names the repeated column 2 by its number" grep -qE "^  corvel-sim --input repeated.csv --column 2 --gain" <<<"$tune_out"
check "tune names the repeated column 3 by its number" grep -qE "^  corvel-sim --input repeated.csv --column 3 --gain" <<<"$tune_out"
# Tune checks every column before its first run and names the one it cannot tune.
awk 'BEGIN { print "t,a,b,c"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g,%.17g,4\n", k * 0.001, sin(6 * k * 0.001),
  cos(3 * k * 0.001) }' > constant-column.csv
expect 1 "constant-column.csv [c]: the signal is constant (4)" -- tune constant-column.csv --column all --orders 1 --no-plot
# A header in a Windows code page (m/s² with ² as the byte 0xB2) is read as
# Windows-1252, said once, and every figure and log is UTF-8 text.
printf 't,acc (m/s\xb2),v\n0,1,2\n0.001,2,3\n0.002,3,5\n' > ansi.csv
expect 0 "ansi.csv: its header is not UTF-8 text; its names were read as Windows-1252 (ANSI)" -- ansi.csv --column all --out ansi-log.csv --plot ansi.svg
check "the log's header is UTF-8" grep -q "^t,acc (m/s$(printf '\xc2\xb2')).u," ansi-log.csv
for f in ansi-log.csv ansi.*.svg; do check "$f is UTF-8 text" iconv -f UTF-8 -t UTF-8 "$f" -o /dev/null; done
# The command line's courtesy: nothing typed is a short guide and writes
# nothing; `help` is the help; a folder is said to be one; the block's refusal
# names the option typed, its own words unchanged.
mkdir -p quiet && (cd quiet && "${sim[@]}" > guide.txt 2>&1; echo $? > status.txt)
check "no arguments: exit 0" test "$(cat quiet/status.txt)" = 0
check "no arguments: what to type next" grep -q "corvel-sim tune rec.csv" quiet/guide.txt
check "no arguments: nothing written" test "$(ls quiet)" = "$(printf 'guide.txt\nstatus.txt')"
expect 0 "Usage:" -- help
expect 1 "quiet is a folder, not a recording" -- quiet --no-plot
expect 1 "--order 11: Order of the differantiator must be an integer greater than zero and less or equal than 10." -- --order 11 --no-plot
# Tune's header gives the samples and step the block sees.
expect 0 "khz.csv, 300 samples at 0.01 s (one row in 10 of 3000)" -- tune khz.csv --step 0.01 --orders 1 --no-plot
awk 'BEGIN { print "t;u"; for (k = 0; k < 500; k++) printf "%.3f;%.17g\n", k * 0.004, sin(k * 0.004) }' > s4.csv
expect 0 "500 samples of s4.csv" -- s4.csv --no-plot
printf 'time,a,b,c,d\n0,1,2,3,4\n0.5,5,6,7,8\n1,9,10,11,12\n' > five.csv
expect 1 "five.csv has 5 columns (1 time, 2 a, 3 b, 4 c, 5 d): choose the signal with --column" -- five.csv
expect 0 "3 samples of five.csv" -- five.csv --column c --no-plot
check "--column c picks c" grep -q '^0.5,7,' corvel-out.csv

# Several columns: a block each in one run, a log column group and a plot each;
# every list that cannot be run is refused on one line, exit 2, nothing left.
rm -f corvel-out.csv corvel-plot.svg
expect 0 "3 samples of five.csv (2 columns, a block each), order 1, log in corvel-out.csv, plot in corvel-plot.d.svg, corvel-plot.b.svg" -- five.csv --column d,b --order 1
check "the log of d,b" test "$(head -2 corvel-out.csv)" = "$(printf 't,d.u,d.e,d.z0,d.d1,b.u,b.e,b.z0,b.d1\n0,4,0,4,0,2,0,2,0')"
check "a plot for each column" grep -q '\[b\]' corvel-plot.b.svg
printf 'a,a,,note\n1,2,3,ok\n4,5,6,fine\n' > names.csv
rm -f corvel-out.csv
expect 2 "--column: 'note' of names.csv is text ('ok' on line 2), not a signal: leave it out of the list" -- names.csv --column all --time-column none
check "a refused list leaves no outputs" no_outputs
expect 0 "2 samples of names.csv (3 columns" -- names.csv --column 1-3 --time-column none --order 1 --plot ''
check "repeated and missing names made unique" test "$(head -1 corvel-out.csv)" = "t,a.u,a.e,a.z0,a.d1,a_2.u,a_2.e,a_2.z0,a_2.d1,column 3.u,column 3.e,column 3.z0,column 3.d1"
expect 2 "--column 2,a,2: column 2 ('a') is chosen twice" -- names.csv --column 2,a,2 --time-column none
expect 2 "--column 1-3 names the time column 'time' (--time-column none reads every column as a signal)" -- five.csv --column 1-3
awk 'BEGIN { print "t,a,b"; for (k = 0; k < 2000; k++) printf "%.3f,%.17g,%.17g\n", k * 0.001, sin(6 * k * 0.001) + 1e-3 * sin(977 * k), 40 * cos(3 * k * 0.001) + 1e-2 * sin(1311 * k) }' > ab.csv
expect 0 "Recommended for all 2 columns, one parameter set: order" -- tune ab.csv --column all --orders 1-2 --jobs 2 --no-plot
# A page's size stays the same whatever its number of columns; more than a
# browser shows is refused before anything is written.
awk 'BEGIN { printf "t"; for (c = 1; c <= 20; c++) printf ",c%d", c; print ""
             for (k = 0; k < 50000; k++) { printf "%g", k / 1000; for (c = 1; c <= 20; c++) printf ",%.4g", sin(c * k / 1000); print "" } }' > twenty.csv
expect 0 "2 columns, a block each" -- twenty.csv --column c1,c2 --plot two.html --out two.csv
expect 0 "20 columns, a block each" -- twenty.csv --column all --plot twenty.html --out twenty.out.csv
[ "$(stat -c %s twenty.html)" -lt $(( 14 * $(stat -c %s two.html) / 10 )) ] || { echo "FAIL: a page of 20 columns is $(stat -c %s twenty.html) bytes, of 2 columns $(stat -c %s two.html)"; failures=$((failures + 1)); }
# Blocks at their own rates: each figure spans its own block's samples in
# the window, and its title says its block's sample time.
expect 0 "2 columns, a block each at its own rate" -- twenty.csv --column c1,c2 --step 0.001,0.01 --plot-window 10:30 --plot rates.svg --out rates.csv
for want in "c1 0.001 20001" "c2 0.01 2001"; do
  read -r name step count <<<"$want"
  grep -qF "[$name], order 3, gain 20, sample time $step s<" "rates.$name.svg" && grep -qF ">$count samples, drawn" "rates.$name.svg" ||
    { echo "FAIL: the figure of $name at $step s: $(grep -o '<text[^>]*>[^<]*</text>' "rates.$name.svg" | head -2)"; failures=$((failures + 1)); }
done
awk 'BEGIN { for (k = 0; k < 3; k++) { for (c = 0; c <= 101; c++) printf "%d%s", c + k, c < 101 ? "," : "\n" } }' > wide101.csv
rm -f corvel-out.csv
expect 2 "--plot w.html: a page of 101 columns is more than a browser shows (at most 100)" -- wide101.csv --column all --plot w.html
[ ! -e w.html ] && [ ! -e corvel-out.csv ] || { echo "FAIL: a refused page left files"; failures=$((failures + 1)); }

# Every search the tables print is drawn: the joint one under the name given,
# each column's beside it, each titled and labelled with what it shows.
expect 0 "Plot of the score against gain, the columns together: tj.svg; each column alone: tj.a.svg tj.b.svg" -- tune ab.csv --column all --orders 1-2 --plot tj.svg
check "the joint search's figure says what it shows" grep -q ">corvel-sim tune: ab.csv, 2 columns together<.*" tj.svg
check "the joint figure's score" grep -q ">sum of each column.*s error RMS over its variation<" tj.svg
check "a column's own figure" grep -q ">corvel-sim tune: ab.csv \[b\], alone<" tj.b.svg
check "a column's figure's score" grep -q ">RMS of the error output<" tj.a.svg
check "tune gives each column its recommendation and command" grep -qE "^  corvel-sim --input ab.csv --column b --gain [0-9.e+]+ --order [12]$" <("${sim[@]}" tune ab.csv --column all --orders 1-2 --no-plot 2>&1 | tr -d '\r')
expect 2 "--variable a names a MAT-file variable; five.csv is read as a CSV file (its columns are chosen with --column)" -- five.csv --variable a
awk 'BEGIN { for (k = 0; k < 1002; k++) printf "%d%s", k, k < 1001 ? "," : "\n" }' > wide.csv
expect 2 "--column all: 1001 columns, more than the 1000 one run takes" -- wide.csv --column all
expect 2 "--frequency shapes the built-in signal and means nothing with --input khz.csv" -- khz.csv --frequency 3
printf 't,u\n# nothing yet\n' > empty.csv
expect 1 "empty.csv: no samples" -- empty.csv
printf 'u\n1\n2\n' | sed 's/^u$/\xEF\xBB\xBFsignal/' > bom.csv
expect 0 "2 samples of bom.csv" -- bom.csv --no-plot

# A missing sample (NaN, an empty cell) is refused with its gap and the ways
# to fill it; kept, a warning naming where, or with --strict a failed run that
# leaves no output behind.
printf 't,u\n0,1\n0.01,2\n0.02,nan\n0.03,4\n' > gap.csv
rm -f corvel-out.csv corvel-plot.svg
expect 1 "gap.csv:4: no sample of 'u' (an empty cell or NaN), a gap of one sample: fill gaps with --missing hold" -- gap.csv
check "a refused gap leaves no output" no_outputs
printf 't;x\n0;1\n0,01;2\n0,02;\n0,03;\n0,04;5\n0,05;;\n' > commas.csv
expect 1 "commas.csv:7: found 3 field(s) where line 1 has 2" -- commas.csv
head -6 commas.csv > comma-gap.csv
expect 1 "comma-gap.csv:4: no sample of 'x' (an empty cell or NaN), the first of a gap of 2 samples" -- comma-gap.csv
expect 0 "2 of the 5 inputs of 'x' fill gaps (--missing interpolate): marked in the log (filled)" -- comma-gap.csv --missing interpolate --order 1 --no-plot
sed -n 4,5p corvel-out.csv | cut -d, -f1,2,6 | tr '\n' ' ' | grep -qx '0.02,3,1 0.03,4,1 ' || { echo "FAIL: interpolated gap"; sed -n 4,5p corvel-out.csv; failures=$((failures + 1)); }
expect 0 "fill gaps (--missing hold)" -- comma-gap.csv --missing hold --order 1 --no-plot --decimal-comma --out held.csv
sed -n 1p held.csv | grep -qx 't;u;error;z0;d1;filled' && sed -n 5p held.csv | grep -q '^0,03;2;' || { echo "FAIL: held gap, decimal-comma log"; cat held.csv; failures=$((failures + 1)); }
expect 2 "--missing: 'fill' is not one of refuse, hold, interpolate, keep" -- comma-gap.csv --missing fill
expect 0 "warning: gap.csv:4 (t = 0.02 s): the input is nan; every estimate from there on is NaN" -- gap.csv --missing keep
rm -f corvel-out.csv corvel-plot.svg
expect 1 "gap.csv:4 (t = 0.02 s): the input is nan; every estimate from there on is NaN (--strict)" -- gap.csv --strict --missing keep
check "a failed run leaves no output" no_outputs

# Text from the user is escaped in the plot: the path ('<' is no part of a
# Windows file name) and the column's name.
mkdir -p 'R&D raw'
sed '1s/.*/t,<u>\&/' khz.csv > 'R&D raw/k.csv'
expect 0 "3000 samples of R&D raw/k.csv" -- 'R&D raw/k.csv' --plot amp.svg
check "title escaped" grep -q 'corvel: R&amp;D raw/k.csv \[&lt;u&gt;&amp;\]' amp.svg
if command -v rsvg-convert >/dev/null; then
  check "the plot parses and renders" rsvg-convert amp.svg -o amp.png
fi

# MAT-files: read and written by the Linux build; the others say so.
printf 'not a MAT-file' > junk.mat
expect 1 "junk.mat: " -- junk.mat

# A full disk (a 64 KiB file system, where one can be mounted): the run fails
# with the reason, and no output is left behind.
if [ "${#sim[@]}" -eq 1 ] && [ "$(id -u)" -eq 0 ] && mkdir -p small && mount -t tmpfs -o size=64k tmpfs small 2>/dev/null; then
  expect 1 "writing the log to small/full.csv failed: No space left on device" -- khz.csv --out small/full.csv --no-plot
  check "a full disk leaves no log" test -z "$(ls -A small)"
  umount small
fi

# Tuning over worker processes, and on a span of the record.
"${sim[@]}" tune --signal sine --snr 30 --orders 1-3 --duration 3 --jobs 1 --plot one.svg > one.txt 2>/dev/null
"${sim[@]}" tune --signal sine --snr 30 --orders 1-3 --duration 3 --jobs 2 --plot two.svg > two.txt 2>/dev/null
check "tune --jobs 2 gives what --jobs 1 gives" cmp -s one.svg two.svg
check "tune --jobs 2 prints what --jobs 1 prints" diff <(grep -v Plot one.txt) <(grep -v Plot two.txt)
expect 0 "corvel-sim tune: khz.csv from t = 1 s, 1001 samples at 0.001 s" -- tune khz.csv --window 1:2 --orders 1
expect 2 "--window 5:6 holds no sample of khz.csv, which runs from t = 0 to 2.999 s" -- tune khz.csv --window 5:6

# An interrupt ends the run cleanly: its own message and status, no output.
if [ "${#sim[@]}" -eq 1 ] && command -v mkfifo >/dev/null; then
  mkfifo pipe.csv
  rm -f corvel-out.csv corvel-plot.svg
  "${sim[@]}" pipe.csv > interrupt.txt 2>&1 &
  pid=$!
  exec 3<> pipe.csv  # a writer that sends nothing (opened without waiting for a reader): the run waits on it
  sleep 0.5
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  exec 3>&-
  check "SIGTERM gives status 143 (got $status)" test "$status" -eq 143
  check "SIGTERM is said" grep -q "corvel-sim: interrupted by SIGTERM; the unfinished outputs were removed" interrupt.txt
  check "an interrupted run leaves no output" no_outputs
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "corvel-sim command line: all cases passed"
