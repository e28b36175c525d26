#!/usr/bin/env bash
# A long recording through corvel-sim against the block alone, in one run:
# generates a two-column CSV of SAMPLES rows (default 10 000 000, 1 kHz) once
# under build/bench-data, runs corvel-sim on it at order 3 with a CSV log
# (peak memory and time from GNU time), then the block alone over the same
# samples in memory (bench/block_only.cpp). Prints samples/s, the ratio (of
# medians over REPEATS turns of each), peak resident memory and the log's size. OUT_DIR (default: beside the
# record) is where the log goes: /dev/shm leaves the disk out of it.
#   [OUT_DIR=/dev/shm] bench/sim_bench.sh [SAMPLES]   (after cmake --build --preset default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/default"
samples=${1:-10000000}
data="$root/build/bench-data"
mkdir -p "$data"
csv="$data/record-$samples.csv"
if [ ! -s "$csv" ]; then
  echo "writing $csv ..."
  awk -v n="$samples" 'BEGIN { print "t,u"; for (k = 0; k < n; k++) { t = k * 0.001;
    printf "%.3f,%.17g\n", t, sin(6.0 * t) + 0.01 * sin(1.7 * k) } }' > "$csv.part"
  mv "$csv.part" "$csv"
fi
echo "input: $(du -h "$csv" | cut -f1), $samples samples"

out_dir=${OUT_DIR:-$data}
for plot in "--no-plot" "--plot $data/out.svg"; do
  # The last run's log is gone and on disk, so that its write-back does not
  # slow this one.
  rm -f "$out_dir/out.csv"
  sync
  /usr/bin/time -f '%e %M' -o "$data/time.txt" "$build/corvel-sim" "$csv" --order 3 --gain 30 \
    --out "$out_dir/out.csv" $plot > /dev/null
  read -r wall rss_kb < "$data/time.txt"
  echo "corvel-sim ($plot): $wall s wall, $(awk -v s="$samples" -v w="$wall" 'BEGIN { printf "%.0f", s / w }') samples/s, peak resident $((rss_kb / 1024)) MB, log $(du -h "$out_dir/out.csv" | cut -f1)"
  whole=$wall
done
# The ratio, from REPEATS (default 5) runs of each taking turns, as the
# median of each: one run of either on a shared machine says little.
repeats=${REPEATS:-5}
wholes=() blocks=()
for _ in $(seq "$repeats"); do
  rm -f "$out_dir/out.csv"
  sync
  /usr/bin/time -f '%e' -o "$data/time.txt" "$build/corvel-sim" "$csv" --order 3 --gain 30 \
    --out "$out_dir/out.csv" --plot "$data/out.svg" > /dev/null
  wholes+=("$(cat "$data/time.txt")")
  blocks+=("$("$build/bench/corvel_block_only" "$build/corvel.mexa64" "$samples" 3 30 | awk '{ print $6 }')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
whole=$(median "${wholes[@]}") block_s=$(median "${blocks[@]}")
echo "block alone: median $block_s s of ${blocks[*]}; whole run (with plot): median $whole s of ${wholes[*]}"
awk -v w="$whole" -v b="$block_s" 'BEGIN { printf "whole run (with plot) / block alone: %.2f (goal <= 1.5)\n", w / b }'
rm -f "$out_dir/out.csv" "$data/out.svg"
