#!/usr/bin/env bash
# corvel-sim tune on a long record, against another build of corvel-sim in the
# same run: generates a 1 kHz two-column CSV of SAMPLES rows (default
# 1 000 000; two sines plus a little pseudo-random noise) once under
# build/bench-data, then tunes orders 1-5 with --jobs 2 with each corvel-sim
# given (default: build/default's), printing the wall time, the block runs and
# the recommendation of each, and the ratio of each time to the first one's.
#   bench/tune_bench.sh [SAMPLES] [CORVEL_SIM ...]   (after cmake --build --preset default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
samples=${1:-1000000}
shift || true
sims=("$@")
[ ${#sims[@]} -gt 0 ] || sims=("$root/build/default/corvel-sim")
data="$root/build/bench-data"
mkdir -p "$data"
csv="$data/tune-$samples.csv"
if [ ! -s "$csv" ]; then
  echo "writing $csv ..."
  awk -v n="$samples" 'BEGIN { srand(7); print "t,u"; for (k = 0; k < n; k++) { t = k * 0.001;
    printf "%.3f,%.17g\n", t, sin(2 * 3.141592653589793 * 1.3 * t) + 0.4 * sin(2 * 3.141592653589793 * 7.1 * t) + 0.002 * (rand() - 0.5) } }' \
    > "$csv.part"
  mv "$csv.part" "$csv"
fi
echo "input: $(du -h "$csv" | cut -f1), $samples samples"

first=""
for sim in "${sims[@]}"; do
  /usr/bin/time -f '%e' -o "$data/time.txt" "$sim" tune "$csv" --orders 1-5 --jobs 2 --no-plot > "$data/tune.txt"
  wall=$(cat "$data/time.txt")
  [ -n "$first" ] || first=$wall
  runs=$(grep -o '[0-9]* block runs' "$data/tune.txt" | head -1 || true)
  echo "$sim: $wall s wall ($(awk -v a="$wall" -v b="$first" 'BEGIN { printf "%.2f", a / b }') of the first), ${runs:-? block runs}"
  grep -i -E '^recommended|^  *corvel-sim ' "$data/tune.txt" | sed 's/^/    /'
done
