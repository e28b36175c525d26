#!/usr/bin/env bash
# A fleet's wall times as ratios measured in one run: RECORDINGS recordings
# (default 200) of ROWS rows (default 100 000) at 1 kHz, made once under
# build/bench-data/fleet, run with --jobs 2 against --jobs 1, as one fleet
# against a corvel-sim command for each recording, and as a Slurm array job of
# TASKS tasks (default 2) on a one-node cluster of this machine against the
# local --jobs 2 run (as root, with Debian's munge and Slurm).
#   bench/fleet_bench.sh [RECORDINGS] [ROWS] [TASKS]   (after cmake --build --preset default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
recordings=${1:-200} rows=${2:-100000} tasks=${3:-2}
sim="$root/build/default/corvel-sim"
data="$root/build/bench-data/fleet-$recordings-$rows"
mkdir -p "$data"
cd "$data"
if [ ! -s list.txt ]; then
  echo "writing $recordings recordings of $rows rows ..."
  mkdir -p rec
  awk -v n="$rows" 'BEGIN { srand(3); print "t,u"; for (k = 0; k < n; k++) { t = k * 0.001;
    printf "%.3f,%.17g\n", t, sin(2 * 3.141592653589793 * 1.3 * t) + 0.002 * (rand() - 0.5) } }' > rec/r0.csv
  for i in $(seq 1 $((recordings - 1))); do cp rec/r0.csv "rec/r$i.csv"; done
  ls rec/*.csv > list.txt
fi
options=(--order 3 --gain 30 --no-plot)
seconds() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }

rm -rf out1 out2 out-each out-slurm
start=$(date +%s.%N); "$sim" --inputs-from list.txt --out-dir out1 --jobs 1 "${options[@]}" > /dev/null; one=$(seconds "$start")
start=$(date +%s.%N); "$sim" --inputs-from list.txt --out-dir out2 --jobs 2 "${options[@]}" > /dev/null; two=$(seconds "$start")
mkdir -p out-each
start=$(date +%s.%N)
while read -r f; do "$sim" "$f" "${options[@]}" --out "out-each/$(basename "$f" .csv).est.csv" > /dev/null; done < list.txt
each=$(seconds "$start")
slurm="n/a"
if [ "$(id -u)" -eq 0 ] && command -v sbatch > /dev/null; then
  cluster=$(mktemp -d)
  "$root/scripts/slurm-cluster.sh" start "$cluster" > /dev/null
  export SLURM_CONF="$cluster/slurm.conf" CORVEL_SIM="$sim"
  start=$(date +%s.%N)
  "$root/tools/corvel-sim/fleet/slurm/corvel-fleet-submit" "$tasks" list.txt out-slurm "${options[@]}" > /dev/null
  while [ -n "$(squeue -h)" ]; do sleep 0.2; done
  slurm=$(seconds "$start")
  "$root/scripts/slurm-cluster.sh" stop "$cluster"
  rm -rf "$cluster" corvel-fleet-*.out
fi
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == "n/a" || a == "n/a") print "n/a"; else printf "%.2f", a / b }'; }
echo "$recordings recordings of $rows rows, $(nproc) cores:"
echo "  --jobs 1: $one s; --jobs 2: $two s (ratio $(ratio "$two" "$one"))"
echo "  a corvel-sim command for each: $each s (the fleet --jobs 1 over them: $(ratio "$one" "$each"))"
echo "  Slurm array of $tasks tasks and its summary: $slurm s (over the local --jobs 2: $(ratio "$slurm" "$two"))"
