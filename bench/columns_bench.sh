#!/usr/bin/env bash
# Several columns in one run against one run per column: generates a 1 kHz
# CSV of a time column and six signals (SAMPLES rows, default 1 000 000) once
# under build/bench-data, then runs corvel-sim at order 3 with a CSV log
# and no plot: all six columns in one run, each column in a run of its own,
# and one column alone. Prints each wall time and peak memory, and the
# ratios of the six-column run to the six one-column runs together and to one.
#   bench/columns_bench.sh [SAMPLES] [CORVEL_SIM]   (after cmake --build --preset default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
samples=${1:-1000000}
sim=${2:-$root/build/default/corvel-sim}
data="$root/build/bench-data"
mkdir -p "$data"
csv="$data/columns-$samples.csv"
if [ ! -s "$csv" ]; then
  echo "writing $csv ..."
  awk -v n="$samples" 'BEGIN { srand(11); print "t,ax,ay,az,gx,gy,gz"; pi = 3.141592653589793
    for (k = 0; k < n; k++) { t = k * 0.001; printf "%.3f", t
      for (c = 1; c <= 6; c++) printf ",%.17g", sin(2 * pi * (0.7 + 0.9 * c) * t + c) + 0.002 * (rand() - 0.5)
      printf "\n" } }' > "$csv.part"
  mv "$csv.part" "$csv"
fi
echo "input: $(du -h "$csv" | cut -f1), $samples rows of 6 signals"

# One corvel-sim run: prints "WALL PEAK_KB".
measure() {
  /usr/bin/time -f '%e %M' -o "$data/time.txt" "$sim" "$csv" --order 3 --plot "" --out "$data/columns-out.csv" "$@" \
    > /dev/null
  cat "$data/time.txt"
}

read -r all_wall all_kb < <(measure --column all)
echo "six columns, one run:   $all_wall s, peak $((all_kb / 1024)) MB"
singles_wall=0
single_wall=""
for column in ax ay az gx gy gz; do
  read -r wall kb < <(measure --column "$column")
  echo "column $column alone:        $wall s, peak $((kb / 1024)) MB"
  [ -n "$single_wall" ] || single_wall=$wall
  singles_wall=$(awk -v a="$singles_wall" -v b="$wall" 'BEGIN { print a + b }')
done
rm -f "$data/columns-out.csv"
awk -v a="$all_wall" -v s="$singles_wall" -v o="$single_wall" 'BEGIN {
  printf "six one-column runs together: %.2f s\n", s
  printf "ratio, six-column run to six one-column runs: %.2f\n", a / s
  printf "ratio, six-column run to one one-column run:  %.2f\n", a / o }'
