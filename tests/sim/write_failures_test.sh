#!/usr/bin/env bash
# A write that fails part-way, at every output: under a file-size limit
# (SIGXFSZ ignored, so that a write past it fails with EFBIG) at several
# sizes, through the CSV log, the MAT log, the SVG and HTML plots and the call
# trace. Each time either every output is complete (the same bytes as a run
# without the limit) or none changed: the earlier files are intact and no
# temporary is left.
#   write_failures_test.sh CORVEL-SIM [MAT]   (MAT: the build writes MAT-files)
set -uo pipefail
sim=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mat=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
runs=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

awk 'BEGIN { print "t,u"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g\n", k * 0.001, sin(7 * k * 0.001) }' > data.csv
outputs_of() {  # the option sets, one a line: log, plot and trace names
  echo "log.csv plot.svg trace.txt"
  echo "log.csv plot.html trace.txt"
  [ -n "$mat" ] && echo "log.mat plot.svg trace.txt"
}

while read -r log plot trace; do
  mkdir -p reference
  cp data.csv reference/
  (cd reference && "$sim" data.csv --out "$log" --plot "$plot" --trace "$trace" > /dev/null 2>&1) ||
    fail "the run without a limit failed"
  # Round sizes, and for each output a limit within its last KiB: the end
  # of a file, which only the final flush writes.
  ends=$(for f in "$log" "$plot" "$trace"; do echo $((($(stat -c %s "reference/$f") - 1) / 1024)); done)
  for kib in 1 8 64 256 1024 4096 65536 $ends; do
    runs=$((runs + 1))
    for f in "$log" "$plot" "$trace"; do printf 'earlier %s\n' "$f" > "$f" && cp "$f" "$f.earlier"; done
    # bash's ulimit -f counts KiB; an ignored SIGXFSZ passes on to the program.
    out=$( (trap '' XFSZ; ulimit -f "$kib"; exec "$sim" data.csv --out "$log" --plot "$plot" --trace "$trace") 2>&1)
    status=$?
    complete=0 earlier=0
    for f in "$log" "$plot" "$trace"; do
      # (the trace's first line holds an address, which differs from run to run)
      cmp -s <(sed '1s/vector=\[[^]]*\]//' "$f") <(sed '1s/vector=\[[^]]*\]//' "reference/$f") && complete=$((complete + 1))
      cmp -s "$f" "$f.earlier" && earlier=$((earlier + 1))
    done
    ls -A | grep -q '\.part-' && fail "$log $plot $trace at $kib KiB: a temporary was left"
    if [ "$status" -eq 0 ]; then
      [ "$complete" -eq 3 ] || fail "$log $plot $trace at $kib KiB: exit 0 with $complete of 3 outputs complete"
    else
      [ "$earlier" -eq 3 ] || fail "$log $plot $trace at $kib KiB: exit $status, $earlier of 3 earlier files intact"
      grep -qE 'File too large|failed' <<<"$out" || fail "$log $plot $trace at $kib KiB: no reason given: $out"
    fi
  done
  rm -rf reference
done < <(outputs_of)

if [ "$failures" -ne 0 ]; then
  echo "write failures: $failures failed over $runs runs"
  exit 1
fi
echo "write failures: all $runs runs left every output complete or none"
