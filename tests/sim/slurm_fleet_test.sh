#!/usr/bin/env bash
# A fleet as a Slurm array job, on a one-node cluster of this machine
# (scripts/slurm-cluster.sh): 24 recordings, two of them bad, submitted with
# corvel-fleet-submit as 6 tasks and a summary job. Every output equals a
# local --jobs 2 run's, byte for byte; the bad recordings are isolated and
# listed; a task cancelled while it runs leaves no partial output, its
# recordings are missing from the summary, and the same submission again
# completes the fleet, running only what was missing.
# Usage: slurm_fleet_test.sh CORVEL_SIM SOURCE_DIR
set -uo pipefail
sim=$1
src=$2
work=$(mktemp -d)
cluster="$work/cluster"
writer=""
cleanup() {
  [ -z "$writer" ] || kill "$writer" 2> /dev/null
  "$src/scripts/slurm-cluster.sh" stop "$cluster"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
"$src/scripts/slurm-cluster.sh" start "$cluster" || { echo "FAIL: the Slurm cluster did not start"; exit 1; }
export SLURM_CONF="$cluster/slurm.conf" CORVEL_SIM="$sim"
submit="$src/tools/corvel-sim/fleet/slurm/corvel-fleet-submit"
cd "$work"

# Waits until no job is left, 180 s at most.
wait_for_jobs() {
  for _ in $(seq 360); do
    [ -z "$(squeue -h 2> /dev/null)" ] && return 0
    sleep 0.5
  done
  fail "the jobs did not end: $(squeue)"
}
same_outputs() {  # same_outputs DIR_A DIR_B: the same files (but the records of runs), byte for byte, and summaries
  (cd "$1" && find . -type f ! -name '*.run.txt' ! -name '*.failed.txt' ! -name summary.csv | sort) > a.list
  (cd "$2" && find . -type f ! -name '*.run.txt' ! -name '*.failed.txt' ! -name summary.csv | sort) > b.list
  cmp -s a.list b.list || { fail "$2 holds other files than $1: $(diff a.list b.list | head -5)"; return; }
  while read -r f; do cmp -s "$1/$f" "$2/$f" || fail "$2/$f differs from $1's"; done < a.list
  cmp -s <(cut -d, -f1,2,5,6 "$1/summary.csv") <(cut -d, -f1,2,5,6 "$2/summary.csv") ||
    fail "the summaries differ: $(diff <(cut -d, -f1-6 "$1/summary.csv") <(cut -d, -f1-6 "$2/summary.csv") | head -6)"
}

mkdir -p rec/a rec/b
for i in $(seq 1 11); do
  for d in a b; do
    awk -v f="$i" -v d="$d" 'BEGIN { print "t,u"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g\n", k * 0.001,
      sin(f * k * 0.001) + (d == "b" ? 0.5 : 0) }' > "rec/$d/run$i.csv"
  done
done
printf 't,u\n0,1\n0.001,x\n' > rec/b/bad1.csv
printf 't,u\n0,1\n0.001,2\n0.0025,3\n' > rec/b/bad2.csv
ls rec/a/*.csv rec/b/*.csv > list.txt
[ "$(wc -l < list.txt)" -eq 24 ] || fail "the fleet has $(wc -l < list.txt) recordings, not 24"
options=(--order 2 --gain 30)

"$sim" --inputs-from list.txt --out-dir local --jobs 2 "${options[@]}" > local.txt 2>&1
[ $? -eq 1 ] || fail "the local run of a fleet with bad recordings does not exit 1"

# The whole fleet as an array job.
start=$(date +%s.%N)
"$submit" 6 list.txt array "${options[@]}" > submit.txt 2>&1 || fail "corvel-fleet-submit: $(cat submit.txt)"
wait_for_jobs
echo "the array job of 24 recordings in 6 tasks and its summary: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
same_outputs local array
grep -q '^rec/b/bad1.csv,,failed,' array/summary.csv && grep -q '^rec/b/bad2.csv,,failed,' array/summary.csv ||
  fail "the bad recordings are not listed as failed: $(grep -v ',done,' array/summary.csv)"
[ "$(grep -c ',done,' array/summary.csv)" -eq 22 ] || fail "not 22 recordings done: $(cat array/summary.csv)"
grep -q "2 of 24 recordings failed" corvel-fleet-summary-*.out || fail "the summary job does not list the failures"

# A task cancelled while it runs: one recording (the 13th in the list, index
# 12: task 0's third) stalls on a pipe until the task is cancelled.
rm -f corvel-fleet-*.out
mkfifo rec/a/slow.csv
{ head -12 list.txt; echo rec/a/slow.csv; tail -n +13 list.txt; } > list2.txt
(
  printf 't,u\n'
  awk 'BEGIN { for (k = 0; k < 500; k++) printf "%.3f,%g\n", k * 0.001, k }'
  exec sleep 120
) > rec/a/slow.csv &
writer=$!
"$submit" 6 list2.txt cancelled "${options[@]}" > submit.txt 2>&1 || fail "corvel-fleet-submit: $(cat submit.txt)"
array=$(sed -n 's/^array job \([0-9]*\) .*/\1/p' submit.txt)
for _ in $(seq 240); do
  ls cancelled/rec/a/.slow.est.csv.part-* > /dev/null 2>&1 && break
  sleep 0.5
done
ls cancelled/rec/a/.slow.est.csv.part-* > /dev/null 2>&1 || fail "the slow recording's run never started"
scancel "${array}_0"
wait_for_jobs
kill "$writer" 2> /dev/null
writer=""
! find cancelled -name '*.part-*' | grep -q . || fail "a cancelled task left temporaries: $(find cancelled -name '*.part-*')"
[ ! -e cancelled/rec/a/slow.est.csv ] || fail "a cancelled task left an output"
grep -q '^rec/a/slow.csv,[^,]*,missing,' cancelled/summary.csv || fail "the cancelled recording is not missing: $(cat cancelled/summary.csv)"
missing=$(grep -c ',missing,' cancelled/summary.csv)

# The same submission again completes the fleet, running only what is missing.
rm rec/a/slow.csv
awk 'BEGIN { print "t,u"; for (k = 0; k < 500; k++) printf "%.3f,%g\n", k * 0.001, k }' > rec/a/slow.csv
before=$(find cancelled -name '*.est.csv' -printf '%p %T@\n' | sort)
"$submit" 6 list2.txt cancelled "${options[@]}" > submit.txt 2>&1 || fail "corvel-fleet-submit again: $(cat submit.txt)"
wait_for_jobs
[ "$(grep -c ',done,' cancelled/summary.csv)" -eq 23 ] && [ "$(grep -c ',failed,' cancelled/summary.csv)" -eq 2 ] ||
  fail "the fleet is not complete after the second submission: $(grep -v ',done,' cancelled/summary.csv)"
after=$(find cancelled -name '*.est.csv' -printf '%p %T@\n' | sort)
rewritten=$(comm -12 <(echo "$before") <(echo "$after") | wc -l)
[ "$rewritten" -eq "$(echo "$before" | grep -c .)" ] || fail "the second submission rewrote outputs that were current"
echo "cancelled: $missing recordings missing, completed by the second submission"
if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "Slurm: 24 recordings as an array job equal to a local run, bad ones isolated, a cancelled task completed on resubmission"
