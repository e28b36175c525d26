#!/usr/bin/env bash
# What a fleet of long recordings costs, as per-sample figures and ratios
# measured in one run: one recording of SAMPLES rows (default 1 000 000, 1 kHz,
# two sines and a little noise) made once under build/bench-data, then, each
# under GNU time: a run with a CSV log, a MAT log and a CSV log of t,d1 only;
# the block alone over the same samples; a tune with the default search; and a
# fleet of RECORDINGS copies (default 8) with --jobs 1 and --jobs 2. Prints
# CPU nanoseconds and bytes per sample and peak memory per process, then what
# 10 000 one-hour recordings at 1 kHz take at those rates (docs/cluster.md).
#   bench/cluster_bench.sh [SAMPLES] [RECORDINGS]   (after cmake --build --preset default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/default"
sim="$build/corvel-sim"
samples=${1:-1000000} recordings=${2:-8}
data="$root/build/bench-data/cluster-$samples"
mkdir -p "$data"
cd "$data"
if [ ! -s rec.csv ]; then
  echo "writing $samples samples ..."
  awk -v n="$samples" 'BEGIN { srand(7); print "t,u"; for (k = 0; k < n; k++) { t = k * 0.001;
    printf "%.3f,%.17g\n", t, sin(2 * 3.141592653589793 * 1.3 * t) + 0.4 * sin(2 * 3.141592653589793 * 7.1 * t) + 0.002 * (rand() - 0.5) } }' \
    > rec.part
  mv rec.part rec.csv
fi
mkdir -p fleet
for i in $(seq 1 "$recordings"); do [ -e "fleet/r$i.csv" ] || ln rec.csv "fleet/r$i.csv"; done
options=(--order 3 --gain 50 --no-plot --quiet)

# measure NAME COMMAND...: wall, CPU (user + system) and peak resident memory.
declare -A wall cpu peak
measure() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" > /dev/null 2> err.txt || { cat err.txt; exit 1; }
  read -r w u s m < time.txt
  wall[$name]=$w
  cpu[$name]=$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
  peak[$name]=$((m / 1024))
}
sync
measure csv "$sim" rec.csv "${options[@]}" --out log.csv
measure mat "$sim" rec.csv "${options[@]}" --out log.mat
measure chosen "$sim" rec.csv "${options[@]}" --out chosen.csv --log-columns t,d1
measure chosen_mat "$sim" rec.csv "${options[@]}" --out chosen.mat --log-columns t,d1
block=$("$build/bench/corvel_block_only" "$build/corvel.mexa64" "$samples" 3 50)
block_s=$(awk '{ print $6 }' <<<"$block")
measure tune "$sim" tune rec.csv --jobs 1 --no-plot --quiet
rm -rf out1 out2
measure fleet1 "$sim" fleet/*.csv --out-dir out1 --jobs 1 "${options[@]}"
measure fleet2 "$sim" fleet/*.csv --out-dir out2 --jobs 2 "${options[@]}"
bytes() { stat -c %s "$1"; }

per_sample() { awk -v x="$1" -v n="$2" 'BEGIN { printf "%.0f", x * 1e9 / n }'; }
fleet_samples=$((samples * recordings))
echo "one recording of $samples samples, a fleet of $recordings; $(nproc) cores"
printf '  %-28s %8s %9s %12s %10s %12s\n' "what" "wall s" "CPU s" "CPU ns/sample" "peak MB" "bytes/sample"
row() {  # row LABEL NAME SAMPLES [FILE]
  local b=""
  [ -n "${4:-}" ] && b=$(awk -v s="$(bytes "$4")" -v n="$3" 'BEGIN { printf "%.1f", s / n }')
  printf '  %-28s %8s %9s %12s %10s %12s\n' "$1" "${wall[$2]}" "${cpu[$2]}" "$(per_sample "${cpu[$2]}" "$3")" "${peak[$2]}" "$b"
}
row "run, CSV log" csv "$samples" log.csv
row "run, MAT log" mat "$samples" log.mat
row "run, CSV log of t,d1" chosen "$samples" chosen.csv
row "run, MAT log of t,d1" chosen_mat "$samples" chosen.mat
row "tune (default search)" tune "$samples"
row "fleet --jobs 1" fleet1 "$fleet_samples"
row "fleet --jobs 2" fleet2 "$fleet_samples"
echo "  block alone: $block_s s"
awk -v c="${wall[csv]}" -v m="${wall[mat]}" -v b="$block_s" -v t="${wall[tune]}" -v f1="${wall[fleet1]}" -v f2="${wall[fleet2]}" 'BEGIN {
  printf "  ratios: CSV run / block alone %.2f; MAT run / CSV run %.2f; tune / CSV run %.2f; fleet --jobs 2 / --jobs 1 %.2f\n",
    c / b, m / c, t / c, f2 / f1 }'

# 10 000 recordings of one hour at 1 kHz: 3.6e10 samples.
total=36000000000
echo "10 000 one-hour recordings at 1 kHz ($total samples), at these rates:"
awk -v ns_csv="$(per_sample "${cpu[csv]}" "$samples")" -v ns_mat="$(per_sample "${cpu[mat]}" "$samples")" \
    -v ns_chosen="$(per_sample "${cpu[chosen]}" "$samples")" -v ns_tune="$(per_sample "${cpu[tune]}" "$samples")" \
    -v b_csv="$(bytes log.csv)" -v b_mat="$(bytes log.mat)" -v b_chosen="$(bytes chosen.csv)" -v b_cmat="$(bytes chosen.mat)" \
    -v n="$samples" -v total="$total" -v peak_csv="${peak[csv]}" -v peak_mat="${peak[mat]}" 'BEGIN {
  printf "  run, CSV log:          %6.1f CPU-hours, %5.2f TB written, %4d MB a task\n", ns_csv * total / 3.6e12, b_csv / n * total / 1e12, peak_csv
  printf "  run, MAT log:          %6.1f CPU-hours, %5.2f TB written, %4d MB a task\n", ns_mat * total / 3.6e12, b_mat / n * total / 1e12, peak_mat
  printf "  run, CSV log of t,d1:  %6.1f CPU-hours, %5.2f TB written\n", ns_chosen * total / 3.6e12, b_chosen / n * total / 1e12
  printf "  run, MAT log of t,d1:  %6s             %5.2f TB written\n", "", b_cmat / n * total / 1e12
  printf "  tune:                  %6.1f CPU-hours\n", ns_tune * total / 3.6e12 }'
rm -f log.csv log.mat chosen.csv chosen.mat time.txt err.txt
rm -rf out1 out2
