#!/usr/bin/env bash
# corvel-sim over many recordings (a fleet): each recording's outputs are
# those of a run of it alone, in mirrored folders; a bad recording is isolated
# and reported; a rerun does only what is missing, failed or out of date;
# --jobs changes no byte; an interrupted fleet leaves complete recordings
# complete and nothing half-written; shards and a summary-only step make the
# summary of the whole; a fleet that cannot run is refused before anything is
# written.
# Usage: fleet_test.sh CORVEL_SIM
set -uo pipefail
sim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

recording() {  # recording PATH FREQUENCY: a 1 kHz t,u file of 1 500 rows
  mkdir -p "$(dirname "$1")"
  awk -v f="$2" 'BEGIN { print "t,u"; for (k = 0; k < 1500; k++) printf "%.3f,%.17g\n", k * 0.001, sin(f * k * 0.001) }' > "$1"
}
for day in day1 day2; do
  for i in 1 2 3 4; do recording "rig/$day/run$i.csv" "$i"; done  # the same names in two folders
done
printf 't,u\n0,1\n0.001,x\n' > rig/day2/bad.csv
printf 't,v\n0,1\n0.001,2\n' > rig/day2/nocolumn.csv
ls rig/day1/*.csv rig/day2/*.csv > list.txt
options=(--order 2 --gain 30)

# The first run: the bad ones reported, the others done, each as it runs alone.
out=$("$sim" --inputs-from list.txt --out-dir out "${options[@]}" --column u 2>&1)
status=$?
[ $status -eq 1 ] || fail "a fleet with bad recordings exits $status, not 1"
grep -qF "corvel-sim: 10 recordings: 8 done, 0 up-to-date, 2 failed; summary in out/summary.csv" <<<"$out" || fail "the count line: $out"
grep -qF "rig/day2/bad.csv:3: 'u': 'x' is not a number" <<<"$out" || fail "the bad recording's line: $out"
grep -qF "rig/day2/nocolumn.csv" <<<"$(grep -A3 'recordings failed' <<<"$out")" || fail "the list of failures: $out"
[ "$(head -1 out/summary.csv)" = "recording,column,status,message,rows,error_rms,outputs,seconds" ] || fail "summary header"
[ "$(grep -c ',done,' out/summary.csv)" -eq 8 ] && [ "$(grep -c ',failed,' out/summary.csv)" -eq 2 ] || fail "summary rows: $(cat out/summary.csv)"
[ ! -e out/rig/day2/bad.est.csv ] && [ -s out/rig/day2/bad.failed.txt ] || fail "a failed recording leaves an output or no failure record"
"$sim" rig/day2/run3.csv "${options[@]}" --column u --out alone.csv --plot alone.svg > /dev/null 2>&1
cmp -s alone.csv out/rig/day2/run3.est.csv && cmp -s alone.svg out/rig/day2/run3.plot.svg ||
  fail "a fleet's outputs differ from a run of the recording alone"
cmp -s out/rig/day1/run1.est.csv out/rig/day2/run1.est.csv || fail "the same recording in two folders gives two logs"
! ls -A out/rig/day1 out/rig/day2 | grep -q '\.part-' || fail "temporaries left behind"

# A rerun changes nothing that is current; a touched input and a mended one run again.
snapshot() { find out -type f ! -name summary.csv ! -name '*.failed.txt' -printf '%p %T@\n' | sort; }
before=$(snapshot)
out=$("$sim" --inputs-from list.txt --out-dir out "${options[@]}" --column u 2>&1)
grep -qF "10 recordings: 0 done, 8 up-to-date, 2 failed" <<<"$out" || fail "a rerun: $out"
[ "$(snapshot)" = "$before" ] || fail "a rerun rewrote current outputs"
echo 'not the log' > out/rig/day1/run1.est.csv  # an output replaced by someone else: the recording runs again
out=$("$sim" --inputs-from list.txt --out-dir out "${options[@]}" --column u 2>&1)
grep -qF "10 recordings: 1 done, 7 up-to-date, 2 failed" <<<"$out" || fail "a replaced output is taken as current: $out"
cmp -s out/rig/day1/run1.est.csv out/rig/day2/run1.est.csv || fail "the replaced output was not written again"
touch -d '+2 seconds' rig/day1/run2.csv
printf 't,u\n0,1\n0.001,2\n' > rig/day2/bad.csv
out=$("$sim" --inputs-from list.txt --out-dir out "${options[@]}" --column u 2>&1)
grep -qF "10 recordings: 2 done, 7 up-to-date, 1 failed" <<<"$out" || fail "a rerun after a touch and a mend: $out"
[ ! -e out/rig/day2/bad.failed.txt ] || fail "a mended recording keeps its failure record"
out=$("$sim" --inputs-from list.txt --out-dir out --order 2 --gain 31 --column u 2>&1)
grep -qF "10 recordings: 9 done, 0 up-to-date, 1 failed" <<<"$out" || fail "other options redo every recording: $out"
out=$("$sim" --inputs-from list.txt --out-dir out --order 2 --gain 31 --column u --force 2>&1)
grep -qF "10 recordings: 9 done, 0 up-to-date, 1 failed" <<<"$out" || fail "--force redoes every recording: $out"

# --jobs: the same bytes.
"$sim" --inputs-from list.txt --out-dir serial "${options[@]}" --column u > /dev/null 2>&1
"$sim" --inputs-from list.txt --out-dir parallel "${options[@]}" --column u --jobs 3 > /dev/null 2>&1
(cd serial && find . -type f ! -name summary.csv ! -name '*.run.txt' ! -name '*.failed.txt' | sort) > serial.list
(cd parallel && find . -type f ! -name summary.csv ! -name '*.run.txt' ! -name '*.failed.txt' | sort) > parallel.list
cmp -s serial.list parallel.list || fail "--jobs 3 leaves other files than --jobs 1"
while read -r f; do cmp -s "serial/$f" "parallel/$f" || fail "--jobs 3 gives another $f"; done < serial.list
cut -d, -f1-6 serial/summary.csv > serial.summary
cut -d, -f1-6 parallel/summary.csv > parallel.summary
cmp -s serial.summary parallel.summary || fail "--jobs 3 gives another summary"
cut -d, -f7 parallel/summary.csv | sed 's#parallel/#serial/#g' | cmp -s - <(cut -d, -f7 serial/summary.csv) ||
  fail "--jobs 3 names other outputs: $(cut -d, -f7 parallel/summary.csv)"

# Shards, then the summary of the whole from what they left.
for i in 0 1 2; do
  out=$("$sim" --inputs-from list.txt --out-dir sharded "${options[@]}" --column u --shard "$i/3" 2>&1)
  share=$(( (10 - i + 2) / 3 ))  # the recordings i, i+3, ... of ten
  grep -qF "corvel-sim: $share recordings: " <<<"$out" || fail "shard $i/3 does not run its share of $share: $(tail -1 <<<"$out")"
done
[ ! -e sharded/summary.csv ] || fail "a shard writes a summary"
"$sim" --inputs-from list.txt --out-dir sharded "${options[@]}" --column u --summary-only > summary.txt 2>&1
[ $? -eq 1 ] || fail "the summary of a fleet with a failure exits 0"
cut -d, -f1-6 sharded/summary.csv | sed 's/,done,/,X,/' > sharded.summary
sed 's/,done,/,X,/' serial.summary | cmp -s - sharded.summary || fail "the shards' summary differs: $(cat sharded/summary.csv)"
rm sharded/rig/day1/run4.run.txt
"$sim" --inputs-from list.txt --out-dir sharded "${options[@]}" --column u --summary-only > summary.txt 2>&1
grep -q '^rig/day1/run4.csv,u,missing,' sharded/summary.csv || grep -q '^rig/day1/run4.csv,[^,]*,missing,' sharded/summary.csv ||
  fail "a recording without its record is not missing: $(cat sharded/summary.csv)"

# An interrupt: the finished recordings stay, the one under way leaves nothing.
mkfifo rig/stall.csv
printf '%s\n' rig/day1/run1.csv rig/stall.csv rig/day1/run3.csv > stall-list.txt

# A fleet over stall-list.txt into DIR (with more options), killed by TERM
# to its own process once a worker has begun the stalling recording (which
# a writer keeps open); sets `status` and `fleet`.
stall_and_kill() {  # DIR OPTIONS...
  local dir=$1 writer
  shift
  (
    printf 't,u\n'
    awk 'BEGIN { for (k = 0; k < 200; k++) printf "%.3f,%g\n", k * 0.001, k }'
    exec sleep 30
  ) > rig/stall.csv &
  writer=$!
  "$sim" --inputs-from stall-list.txt --out-dir "$dir" "${options[@]}" "$@" > stalled.txt 2>&1 &
  fleet=$!
  for _ in $(seq 100); do
    ls "$dir"/rig/.stall.est.csv.part-* > /dev/null 2>&1 && break
    sleep 0.1
  done
  kill -TERM "$fleet"
  wait "$fleet"
  status=$?
  kill "$writer" 2> /dev/null
}
stall_and_kill stalled
[ $status -eq 143 ] || fail "an interrupted fleet exits $status, not 143"
[ -s stalled/rig/day1/run1.est.csv ] && [ -s stalled/rig/day1/run1.run.txt ] || fail "the finished recording was not kept"
! find stalled -name '*.part-*' | grep -q . || fail "an interrupt left temporaries: $(find stalled -name '*.part-*')"
[ ! -e stalled/rig/stall.est.csv ] && [ ! -e stalled/rig/day1/run3.est.csv ] || fail "an interrupt left outputs of unfinished recordings"

# The same with worker processes and the signal sent to the fleet's own
# process alone (a job manager's kill): it is passed on to the workers, which
# remove their unfinished outputs before the fleet ends.
stall_and_kill stalled-jobs --jobs 2
[ $status -eq 143 ] || fail "an interrupted fleet of workers exits $status, not 143"
! find stalled-jobs -name '*.part-*' | grep -q . || fail "the workers left temporaries: $(find stalled-jobs -name '*.part-*')"
[ -z "$(pgrep -P "$fleet" 2> /dev/null)" ] || fail "workers outlived the fleet"

# Tune over the fleet: each recording's recommendation, the spread, and a rerun that does nothing.
out=$("$sim" tune --inputs-from list.txt --out-dir tuned --orders 1-2 --column u 2>&1)
[ $? -eq 1 ] || fail "a tune fleet with a bad recording does not exit 1"
[ "$(head -1 tuned/summary.csv)" = "recording,column,status,message,rows,order,gain,error_rms,outputs,seconds" ] ||
  fail "the tune summary's header: $(head -1 tuned/summary.csv)"
# The spread, from the summary's own orders and gains (the median of an even count the mean of the middle two).
spread=$(awk -F, 'NR > 1 && $3 == "done" { print $6, $7 }' tuned/summary.csv | sort -k2,2g | awk '
  { order[$1]++; gain[NR] = $2 }
  END {
    line = "corvel-sim tune: the fleet'"'"'s recommendations: order"
    for (o = 1; o <= 10; o++) if (o in order) line = line sprintf(" %d (%d)", o, order[o])
    median = NR % 2 ? gain[(NR + 1) / 2] : (gain[NR / 2] + gain[NR / 2 + 1]) / 2
    printf "%s; gain %.6g to %.6g, median %.6g\n", line, gain[1], gain[NR], median
  }')
grep -qxF "$spread" <<<"$out" || fail "the spread of the recommendations: $(grep recommendations <<<"$out"), not $spread"
alone=$("$sim" tune rig/day1/run3.csv --orders 1-2 --column u --no-plot 2>&1 | sed -n 's/^Recommended: order \([0-9]*\), gain \([^.]*\.[0-9]*\).*/\1 \2/p')
row=$(grep '^rig/day1/run3.csv,' tuned/summary.csv | cut -d, -f6,7 | tr , ' ')
[ "$(printf '%s %.6g' ${row%% *} ${row##* })" = "$(printf '%s %.6g' ${alone%% *} ${alone##* })" ] ||
  fail "a tune fleet's recommendation ($row) is not the recording's alone ($alone)"
[ -s tuned/rig/day1/run3.tune.svg ] || fail "no tuning plot for a recording"
out=$("$sim" tune --inputs-from list.txt --out-dir tuned --orders 1-2 --column u 2>&1)
grep -qF "0 done, 8 up-to-date, 2 failed" <<<"$out" || fail "a tune fleet's rerun: $(tail -2 <<<"$out")"
"$sim" tune --inputs-from list.txt --out-dir tuned-jobs --orders 1-2 --column u --jobs 3 > /dev/null 2>&1
cut -d, -f1-9 tuned-jobs/summary.csv | sed 's#tuned-jobs/#tuned/#g' > tuned-jobs.summary
cut -d, -f1-9 tuned/summary.csv | sed 's/,up-to-date,/,done,/' > tuned.summary
cmp -s tuned-jobs.summary tuned.summary || fail "--jobs 3 gives another tune summary: $(diff tuned-jobs.summary tuned.summary)"

# What a fleet keeps of each recording is what it did, whatever the names hold and whatever happens around it.
mkdir -p edge
printf 'Time;pos\tleft;pos\tright\n' > edge/tabs.csv
awk 'BEGIN { for (k = 0; k < 300; k++) printf "%.3f;%g;%g\n", k * 0.001, k, 2 * k }' >> edge/tabs.csv
recording edge/plain.csv 2
"$sim" edge/tabs.csv edge/plain.csv --out-dir tabs1 --column all --no-plot > /dev/null 2>&1 || fail "a tab in a column name fails a fleet"
out=$("$sim" edge/tabs.csv edge/plain.csv --out-dir tabs2 --column all --no-plot --jobs 2 2>&1)
[ $? -eq 0 ] || fail "a tab in a column name fails a fleet of workers: $out"
cut -d, -f1-6 tabs1/summary.csv > tabs1.summary
cut -d, -f1-6 tabs2/summary.csv | cmp -s - tabs1.summary || fail "--jobs 2 gives another summary for a tab in a name"
grep -qF 'pos	left' tabs2/summary.csv || fail "the name with its tab is not in the summary: $(cat tabs2/summary.csv)"
out=$("$sim" edge/tabs.csv edge/plain.csv --out-dir tabs2 --column all --no-plot --jobs 2 2>&1)
grep -qF "2 recordings: 0 done, 2 up-to-date, 0 failed" <<<"$out" || fail "a rerun of names with tabs: $out"
grep -q '^edge/tabs.csv,pos	left,up-to-date,,300,' tabs2/summary.csv || fail "the rerun lost the results: $(cat tabs2/summary.csv)"

# A tuning without a plot: its record is its result.
"$sim" tune edge/plain.csv edge/tabs.csv --out-dir tuned-np --orders 1-2 --column all --no-plot > /dev/null 2>&1 || fail "tune --no-plot fleet"
out=$("$sim" tune edge/plain.csv edge/tabs.csv --out-dir tuned-np --orders 1-2 --column all --no-plot 2>&1)
grep -qF "0 done, 2 up-to-date, 0 failed" <<<"$out" || fail "a tuning without a plot is redone: $(tail -1 <<<"$out")"
cp tuned-np/summary.csv tuned-np.summary
"$sim" tune edge/plain.csv edge/tabs.csv --out-dir tuned-np --orders 1-2 --column all --no-plot --summary-only > /dev/null 2>&1 ||
  fail "--summary-only calls tunings without a plot missing: $(cat tuned-np/summary.csv)"
cut -d, -f1,2,5-8 tuned-np/summary.csv | cmp -s - <(cut -d, -f1,2,5-8 tuned-np.summary) || fail "--summary-only replaced the recommendations"

# A plot of the kind asked for.
"$sim" edge/plain.csv edge/tabs.csv --out-dir kinds --column all --plot p.html > /dev/null 2>&1
[ -s kinds/edge/plain.plot.html ] && [ ! -e kinds/edge/plain.plot.svg ] || fail "--plot p.html in a fleet: $(ls kinds/edge)"

# A failure's record says what it was run with: under other options it is not current.
"$sim" edge/plain.csv rig/day2/nocolumn.csv --out-dir failing --column u > /dev/null 2>&1
"$sim" edge/plain.csv rig/day2/nocolumn.csv --out-dir failing --column u --order 2 --summary-only > /dev/null 2>&1
grep -q '^rig/day2/nocolumn.csv,[^,]*,missing,' failing/summary.csv || fail "an old failure is reported as current: $(cat failing/summary.csv)"
"$sim" edge/plain.csv rig/day2/nocolumn.csv --out-dir failing --column u --summary-only > /dev/null 2>&1
grep -q '^rig/day2/nocolumn.csv,u,failed,' failing/summary.csv || fail "a current failure is not reported: $(cat failing/summary.csv)"

# An input changed while it runs fails, and leaves no record. (The log is a
# FIFO, which holds the run until it is read: the input is touched meanwhile.)
recording changing/rec.csv 3
mkdir -p changed/changing
mkfifo changed/changing/rec.est.csv
"$sim" changing/rec.csv edge/plain.csv --out-dir changed --no-plot > changed.txt 2>&1 &
fleet=$!
sleep 0.5
touch -d '+5 seconds' changing/rec.csv
timeout 30 cat changed/changing/rec.est.csv > /dev/null
wait "$fleet"
grep -qF "changing/rec.csv changed while it was run" changed.txt || fail "an input changed during its run: $(cat changed.txt)"
[ ! -e changed/changing/rec.run.txt ] || fail "a run record for an input that changed"

# A record that cannot be put in place leaves no earlier record beside the new
# outputs (a log that streams, to a FIFO, and no file may grow: only the record fails).
recording stale/rec.csv 4
"$sim" stale/rec.csv edge/plain.csv --out-dir stale-out --order 2 --no-plot > /dev/null 2>&1
[ -s stale-out/stale/rec.run.txt ] || fail "no first record"
rm stale-out/stale/rec.est.csv
mkfifo stale-out/stale/rec.est.csv
(timeout 30 cat stale-out/stale/rec.est.csv > /dev/null &
 trap '' XFSZ; ulimit -f 0; exec "$sim" stale/rec.csv --out-dir stale-out --order 3 --no-plot) > /dev/null 2>&1
[ ! -e stale-out/stale/rec.run.txt ] || fail "the earlier run's record outlives outputs of another order: $(cat stale-out/stale/rec.run.txt)"

# A worker killed outright: its temporaries go, and its end is named.
(
  printf 't,u\n'
  awk 'BEGIN { for (k = 0; k < 200; k++) printf "%.3f,%g\n", k * 0.001, k }'
  exec sleep 30
) > rig/stall.csv &
writer=$!
"$sim" rig/stall.csv rig/day1/run1.csv --out-dir killed "${options[@]}" --jobs 2 > killed.txt 2>&1 &
fleet=$!
for _ in $(seq 100); do
  ls killed/rig/.stall.est.csv.part-* > /dev/null 2>&1 && break
  sleep 0.1
done
worker=$(ls killed/rig/.stall.est.csv.part-* 2> /dev/null | sed 's/.*part-//')
[ -n "$worker" ] && kill -KILL "$worker"
wait "$fleet"
kill "$writer" 2> /dev/null
! find killed -name '*.part-*' | grep -q . || fail "a killed worker's temporaries were left: $(find killed -name '*.part-*')"
grep -qF "ended by signal 9" killed.txt || fail "a killed worker's end is not named: $(cat killed.txt)"
[ -s killed/rig/day1/run1.est.csv ] || fail "the other recording was lost with the killed worker"

# A fleet that cannot run: one line, exit 2, nothing written.
mkdir folder
touch out-file
cp rig/day1/run1.csv rig/day1/summary.csv
# Chosen log columns: each recording's log has just those, as its run alone
# writes it; the choice is one of the options its record keeps, so changing
# it runs the recordings again.
"$sim" rig/day1/run1.csv rig/day1/run2.csv --out-dir chosen "${options[@]}" --log-columns t,d2 --no-plot > /dev/null 2>&1 ||
  fail "a fleet of chosen log columns"
"$sim" rig/day1/run2.csv "${options[@]}" --log-columns t,d2 --no-plot --out chosen-alone.csv > /dev/null 2>&1
[ "$(head -1 chosen/rig/day1/run2.est.csv)" = "t,d2" ] && cmp -s chosen/rig/day1/run2.est.csv chosen-alone.csv ||
  fail "a fleet's log of chosen columns is not its run alone's: $(head -2 chosen/rig/day1/run2.est.csv)"
out=$("$sim" rig/day1/run1.csv rig/day1/run2.csv --out-dir chosen "${options[@]}" --log-columns t,d1 --no-plot 2>&1)
grep -qF "2 recordings: 2 done, 0 up-to-date" <<<"$out" && [ "$(head -1 chosen/rig/day1/run1.est.csv)" = "t,d1" ] ||
  fail "other log columns did not run the fleet again: $out"

# Progress on standard error: through a pipe plain lines (here the last
# one alone), on a terminal one line rewritten in place, with --quiet none.
"$sim" rig/day1/run1.csv rig/day1/run2.csv --out-dir shown "${options[@]}" --no-plot 2> shown.err > /dev/null
[ "$(cat shown.err)" != "" ] && grep -qE '^corvel-sim: 2/2 recordings, 0 failed, [0-9.e+]+ samples/s, in [0-9.]+ s$' shown.err &&
  [ "$(wc -l < shown.err)" -eq 1 ] && ! grep -q $'\r' shown.err || fail "a fleet's progress through a pipe: $(cat -A shown.err)"
if command -v script > /dev/null; then
  script -qc "'$sim' rig/day1/run1.csv rig/day1/run2.csv --out-dir shown --force ${options[*]} --no-plot > /dev/null" /dev/null > tty.txt
  grep -qF $'\rcorvel-sim: 1/2 recordings, 0 failed' tty.txt && grep -qF $'\rcorvel-sim: 2/2 recordings, 0 failed' tty.txt ||
    fail "a fleet's progress on a terminal: $(cat -A tty.txt)"
fi
"$sim" tune rig/day1/run1.csv rig/day1/run2.csv --out-dir shown-tune --orders 1-2 --no-plot 2> tune.err > /dev/null
grep -qE '^corvel-sim: 2/2 recordings, 0 failed, [0-9.e+]+ samples/s, in ' tune.err ||
  fail "a tune fleet's progress does not count its samples: $(cat tune.err)"
"$sim" rig/day1/run1.csv rig/day1/run2.csv --out-dir shown --force "${options[@]}" --no-plot --quiet 2> quiet.err > /dev/null
[ ! -s quiet.err ] || fail "--quiet showed: $(cat quiet.err)"

printf 'rig/day1/run1.csv\nmissing.csv\n' > missing-list.txt
printf 'rig/day1/run1.csv\nfolder\n' > folder-list.txt
printf '# nothing\n\n' > empty-list.txt
cp rig/day1/run1.csv rig/day1/run1.txt
while IFS='|' read -r message args; do
  read -ra words <<<"$args"
  rm -rf refused
  got=$("$sim" "${words[@]}" 2>&1)
  status=$?
  [ $status -eq 2 ] && [ "$got" = "corvel-sim: $message" ] || fail "corvel-sim $args -> exit $status: $got"
  [ ! -e refused ] || fail "corvel-sim $args wrote the output folder"
done <<'EOF'
--inputs-from empty-list.txt lists no recordings|--inputs-from empty-list.txt --out-dir refused
--inputs-from nowhere.txt: the list cannot be read|--inputs-from nowhere.txt --out-dir refused
missing-list.txt:2: missing.csv does not exist|--inputs-from missing-list.txt --out-dir refused
folder-list.txt:2: folder is a folder, not a recording|--inputs-from folder-list.txt --out-dir refused
the recording ./rig/day1/run1.csv is named twice (first as rig/day1/run1.csv)|rig/day1/run1.csv ./rig/day1/run1.csv --out-dir refused
--out names one file; a fleet writes a log for each recording under --out-dir refused|rig/day1/run1.csv rig/day1/run2.csv --out-dir refused --out x.csv
several recordings need --out-dir DIR for their outputs (a log and a plot for each)|rig/day1/run1.csv rig/day1/run2.csv
--out-dir out-file is a file, not a folder|rig/day1/run1.csv --out-dir out-file
the output rig/day1/summary.csv (the fleet's summary) would replace a recording of the fleet|rig/day1/summary.csv rig/day1/run2.csv --out-dir rig/day1
--out-dir tuned holds a tune fleet's summary (tuned/summary.csv): give the run fleet an --out-dir of its own|rig/day1/run1.csv --out-dir tuned
the recordings rig/day1/run1.csv and rig/day1/run1.txt would both write refused/rig/day1/run1.*: give them other names or folders|rig/day1/run1.csv rig/day1/run1.txt --out-dir refused
EOF

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "fleets: isolation, resumption, --jobs, shards, interrupts and refusals as promised"
