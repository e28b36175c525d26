#!/usr/bin/env bash
# corvel-sim against a user's only copy of their data, a row a way to hurt it:
# each row prepares a folder (a recording, links, a FIFO, a device, a
# read-only folder, names planted where temporaries go), runs one command,
# and checks its exit status, its one-line message, and that no file changed
# but the ones the row expects (every file's type, mode, link target and
# content hash, before and after).
#   hostile_usage_test.sh CORVEL-SIM
set -uo pipefail
sim=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/ro" 2>/dev/null && umount "$work/ro"
  mountpoint -q "$work/full" 2>/dev/null && umount "$work/full"
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
failures=0
rows=0
fail() { echo "FAIL [$row]: $*"; failures=$((failures + 1)); }
root=0
[ "$(id -u)" -eq 0 ] && root=1

# Every entry under the folder: type, mode, name, link target, content hash.
snapshot() {
  find . -path ./ro -prune -o -mindepth 1 -printf '%p\t%y\t%m\t%l\n' | sort | while IFS=$'\t' read -r name type mode target; do
    hash=-
    [ "$type" = f ] && hash=$(sha256sum "$name" | cut -c1-16)
    printf '%s\t%s %s %s %s\n' "$name" "$type" "$mode" "$target" "$hash"
  done
}

prepare() {
  cleanup
  mkdir -p "$work" && cd "$work" || exit 1
  awk 'BEGIN { print "t,u"; for (k = 0; k < 2000; k++) printf "%.3f,%.17g\n", k * 0.001, sin(7 * k * 0.001) }' > data.csv
  cp data.csv 'my data.csv'
  printf 'an earlier log\n' > out.csv
  chmod 640 out.csv
  printf 'victim\n' > victim.txt
  ln -s data.csv data-link.csv
  ln data.csv data-hard.csv
  mkdir -p real sub
  printf 'old target\n' > real/target.csv
  ln -s real/target.csv link.csv
  ln -s real/made.csv dangling.csv
  mkfifo fifo fifo.mat
  mkdir folder.csv
  [ "$root" -eq 1 ] && mknod null-device c 1 3
  mkdir -p ro
  if [ "$root" -eq 1 ]; then
    mount -t tmpfs -o size=64k,ro tmpfs ro 2>/dev/null || chmod 555 ro
  else
    chmod 555 ro
  fi
}

# row NAME STATUS MESSAGE CHANGED -- ARGS...: CHANGED lists the paths that
# may change (space-separated, "-" for none); MESSAGE must be in the output.
row() {
  row=$1
  local status=$2 message=$3 changed=$4
  shift 5
  rows=$((rows + 1))
  local before after out got
  before=$(snapshot)
  out=$(timeout 300 "$sim" "$@" 2>&1 < /dev/null)
  got=$?
  after=$(snapshot)
  [ "$got" -eq "$status" ] || fail "exit $got, not $status: $out"
  grep -qF -- "$message" <<<"$out" || fail "no '$message' in: $out"
  check_changes "$before" "$after" "$changed"
}

check_changes() {  # BEFORE AFTER ALLOWED
  local allowed=" $3 " name
  while read -r name; do
    [ -z "$name" ] && continue
    [[ "$allowed" == *" ${name#./} "* ]] || fail "$name changed: $(diff <(echo "$1") <(echo "$2") | grep -F "$name" | tr '\n' ' ')"
  done < <(diff <(echo "$1") <(echo "$2") | sed -n 's/^[<>] \([^\t]*\)\t.*/\1/p' | sort -u)
  ! ls -A | grep -q '\.part-' || fail "a temporary was left: $(ls -A | grep '\.part-')"
}

prepare
row out-is-input 2 "--out data.csv is the input data.csv (--input)" - -- data.csv --out data.csv --no-plot
row plot-is-input 2 "--plot data.csv is the input data.csv" - -- data.csv --plot data.csv
row trace-is-input 2 "--trace data.csv is the input data.csv" - -- data.csv --no-plot --trace data.csv
row out-is-input-spelt-otherwise 2 "is the input" - -- data.csv --out sub/../data.csv --no-plot
row out-is-a-hard-link-to-the-input 2 "--out data-hard.csv is the input data.csv" - -- data.csv --out data-hard.csv --no-plot
row input-through-a-link 2 "--out data.csv is the input data-link.csv" - -- data-link.csv --out data.csv --no-plot
row out-links-to-the-input 2 "--out data-link.csv is the input" - -- data.csv --out data-link.csv --no-plot
row two-outputs-one-file 2 "--out x.csv and --plot x.csv are one file" - -- data.csv --out x.csv --plot x.csv
row two-outputs-one-missing-target 2 "are one file" - -- data.csv --out real/made.csv --plot dangling.csv
row tune-plot-is-input 2 "--plot data.csv is the input data.csv" - -- tune data.csv --plot data.csv --orders 1
row link-stays-a-link 0 "2000 samples of data.csv" "real/target.csv" -- data.csv --out link.csv --no-plot
[ -L link.csv ] || fail "link.csv is no longer a link"
grep -q '^t,u,error,z0' real/target.csv || fail "the link's target holds no log"
row dangling-link-makes-its-target 0 "log in dangling.csv" "real/made.csv" -- data.csv --out dangling.csv --no-plot
[ -L dangling.csv ] || fail "dangling.csv is no longer a link"
row earlier-file-replaced-whole 0 "log in out.csv" "out.csv" -- data.csv --out out.csv --no-plot
[ "$(stat -c %a out.csv)" = 640 ] || fail "out.csv lost its permissions: $(stat -c %a out.csv)"
long_name=$(printf 'n%.0s' $(seq 245)).csv  # legal (249 bytes); its temporary's name must fit too
row long-output-name 0 "log in $long_name" "$long_name" -- data.csv --out "$long_name" --no-plot
prepare
row failed-run-keeps-earlier-file 1 "Order of the differantiator must be a positive integer." - -- data.csv --order 2.5 --out out.csv
row missing-folder 1 "cannot write the log to nodir/x.csv: No such file or directory" - -- data.csv --out nodir/x.csv
row output-is-a-folder 1 "cannot write the log to folder.csv: it is a folder" - -- data.csv --out folder.csv
row read-only-folder 1 "cannot write the log to ro/x.csv: " - -- data.csv --out ro/x.csv --no-plot
row plot-folder-missing-leaves-no-log 1 "cannot write the plot to nodir/p.svg" - -- data.csv --out out1.csv --plot nodir/p.svg
row trace-folder-missing 1 "cannot write the call trace to nodir/t.txt" - -- data.csv --order 11 --trace nodir/t.txt
row failed-run-keeps-no-trace 1 "Order of the differantiator must be an integer greater than zero" - -- data.csv --order 11 --trace t.txt --no-plot
row mat-log-to-a-fifo 1 "cannot write the log to fifo.mat: it must be a regular file" - -- data.csv --out fifo.mat --no-plot
# An order the block refuses is the block's to say, chosen log columns or not.
row log-columns-of-an-order-refused 1 "Order of the differantiator must be a positive integer." - -- data.csv --order 0 --log-columns t,d1 --no-plot
row log-columns-past-the-order 2 "--log-columns: 'd3' is not a column of this log; its columns are t, u, error, z0, d1, d2" - -- data.csv --order 2 --log-columns t,d3 --no-plot
row plain-run-refuses-tune-options 2 "--orders is an option of corvel-sim tune" - -- data.csv --orders 2 --no-plot
row plain-run-refuses-window 2 "--window is an option of corvel-sim tune" - -- --window 2:5 --jobs 4 --orders 2 --gains 1:10
row tune-refuses-run-options 2 "--out is an option of corvel-sim run" - -- tune data.csv --out x.csv
row warmup-longer-than-run 2 "--warmup 5 is longer than the run, from t = 0 to 1 s" - -- --duration 1 --warmup 5 --no-plot
row tune-with-many-gains 0 "Recommended: order 1" "corvel-tune.svg" -- tune data.csv --gains 1:1e250 --orders 1
row tune-with-many-gains-two-orders 0 "Recommended: order" "corvel-tune.svg" -- tune data.csv --gains 1:1e250 --orders 1-2 --jobs 2
row tune-worker-error 1 "This block cannot be assigned a continuous sample time" - -- tune data.csv --variable-step --orders 1-2 --jobs 2
out=$("$sim" tune data.csv --variable-step --orders 1-2 --jobs 2 --no-plot 2>&1)
[ "$(grep -c 'continuous sample time' <<<"$out")" -eq 1 ] || fail "the worker's error is not said once: $out"
! grep -q 'ended unexpectedly' <<<"$out" || fail "a worker's error read as a crash: $out"

# A row after the block's last sample hit is read and checked too.
printf 't,u\n0,1\n0.001,2\n0.002,3\n0.003,4\n0.004,5\n0.005,x\n0.006,7\n' > tail.csv
row skipped-rows-are-checked 1 "tail.csv:7: 'u': 'x' is not a number" - -- tail.csv --step 0.004 --no-plot

# The command tune prints runs when pasted, a path with a space included.
row tune-prints-a-quoted-command 0 "corvel-sim --input 'my data.csv'" "corvel-tune.svg" -- tune 'my data.csv' --orders 1-2 --jobs 2
command=$("$sim" tune 'my data.csv' --orders 1 --no-plot 2>/dev/null | sed -n 's/^  corvel-sim /corvel-sim /p')
sim_dir=$(dirname "$sim")
(PATH="$sim_dir:$PATH" eval "$command --out pasted.csv --no-plot" > /dev/null) || fail "the printed command did not run: $command"
[ -s pasted.csv ] || fail "the pasted command wrote no log"
rm -f pasted.csv corvel-tune.svg

# Outputs that are not files: written in place, never replaced.
row=fifo-with-a-reader
rows=$((rows + 1))
before=$(snapshot)
timeout 60 cat fifo > from-fifo.txt &
reader=$!
timeout 60 "$sim" data.csv --out fifo --no-plot > /dev/null 2>&1 || fail "a run into a FIFO failed"
wait "$reader"
[ -p fifo ] || fail "the FIFO was replaced"
[ "$(wc -l < from-fifo.txt)" -eq 2001 ] || fail "the FIFO's reader got $(wc -l < from-fifo.txt) lines"
check_changes "$before" "$(snapshot)" "from-fifo.txt"

row=stdout-into-head
rows=$((rows + 1))
before=$(snapshot)
lines=$("$sim" data.csv --out /dev/stdout --no-plot 2>/dev/null | head -3 | wc -l)
[ "$lines" -eq 3 ] || fail "--out /dev/stdout | head -3 gave $lines lines"
check_changes "$before" "$(snapshot)" -

if [ "$root" -eq 1 ]; then
  row device-written-in-place 0 "log in null-device" - -- data.csv --out null-device --no-plot
  [ -c null-device ] || fail "the device was replaced"
fi

# What someone planted at the temporary's name: the process's own PID, known
# before it starts (the subshell execs corvel-sim).
row=planted-temporaries
rows=$((rows + 1))
prepare
before=$(snapshot)
(ln -s victim.txt ".out.csv.part-$BASHPID" && printf 'mine\n' > ".out.csv.part-$BASHPID-1" &&
  exec "$sim" data.csv --out out.csv --no-plot > /dev/null 2>&1) || fail "the run with planted names failed"
after=$(snapshot)
planted=$(ls -A | grep -c '\.part-')
[ "$planted" -eq 2 ] || fail "the planted names are not both there as they were ($planted)"
rm -f .out.csv.part-*
check_changes "$before" "$(snapshot)" "out.csv"
[ "$(cat victim.txt)" = victim ] || fail "the link planted at the temporary's name was followed"

# An interrupt once the temporaries exist: the run reads a FIFO that sends
# rows and then stalls; none of its outputs remains, the earlier log is intact.
row=interrupt-with-temporaries
rows=$((rows + 1))
prepare
before=$(snapshot)
mkfifo slow.csv
"$sim" slow.csv --out out.csv --plot p.svg --trace t.txt > interrupt.txt 2>&1 &
pid=$!
exec 3<> slow.csv  # opened without waiting for the reader
head -200 data.csv >&3  # rows, then nothing more
for _ in $(seq 50); do ls -A | grep -q '\.part-' && break; sleep 0.1; done
temporaries=$(ls -A | grep -c '\.part-')
kill -TERM "$pid"
wait "$pid"
status=$?
exec 3>&-
[ "$temporaries" -eq 3 ] || fail "$temporaries temporaries existed while the run waited (3 expected)"
[ "$status" -eq 143 ] || fail "SIGTERM gave status $status"
grep -q "interrupted by SIGTERM; the unfinished outputs were removed" interrupt.txt || fail "$(cat interrupt.txt)"
rm -f interrupt.txt slow.csv
check_changes "$before" "$(snapshot)" -

# The same with more outputs than a fixed table would hold: ten columns of a
# long record, a figure for each, the log and the trace; interrupted while it
# runs.
row=interrupt-with-many-temporaries
rows=$((rows + 1))
prepare
awk 'BEGIN { print "t,a,b,c,d,e,f,g,h,i,j"; for (k = 0; k < 300000; k++) { printf "%.3f", k * 0.001;
  for (c = 1; c <= 10; c++) printf ",%.6g", sin(c * k * 0.001); print "" } }' > wide.csv
before=$(snapshot)
"$sim" wide.csv --column all --out out.csv --plot p.svg --trace t.txt > interrupt.txt 2>&1 &
pid=$!
for _ in $(seq 400); do [ "$(ls -A | grep -c '\.part-')" -ge 12 ] && break; sleep 0.02; done
temporaries=$(ls -A | grep -c '\.part-')
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$temporaries" -eq 12 ] || fail "$temporaries temporaries existed while the run went on (12 expected)"
[ "$status" -eq 143 ] || fail "SIGTERM gave status $status (the run ended first?)"
rm -f interrupt.txt
check_changes "$before" "$(snapshot)" -

# A full disk under every output format, library-written ones included: a
# small RAM disk where the run's output does not fit. Either the output is
# complete (the bytes of a run elsewhere) or the run fails and the earlier
# file is intact.
if [ "$root" -eq 1 ] && mkdir -p full && mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
  umount full
  prepare
  for out in log.csv log.mat plot.svg plot.html; do
    row=full-disk-$out
    rows=$((rows + 1))
    case $out in log.*) args=(--out "full/$out" --no-plot) ref=(--out "ref-$out" --no-plot) ;;
                 *) args=(--out /dev/null --plot "full/$out") ref=(--out /dev/null --plot "ref-$out") ;; esac
    "$sim" data.csv "${ref[@]}" > /dev/null 2>&1 || fail "the run without a full disk failed"
    mkdir -p full && mount -t tmpfs -o size=64k tmpfs full
    printf 'an earlier file\n' > "full/$out"
    head -c 40000 /dev/zero > full/filler  # the rest of the disk taken
    said=$("$sim" data.csv "${args[@]}" 2>&1)
    status=$?
    if [ "$status" -eq 0 ]; then
      cmp -s "full/$out" "ref-$out" || fail "exit 0 but full/$out is not complete ($(stat -c %s "full/$out") bytes): $said"
    else
      [ "$(cat "full/$out")" = "an earlier file" ] || fail "exit $status and the earlier full/$out is gone"
    fi
    ! ls -A full | grep -q '\.part-' || fail "a temporary was left on the full disk"
    umount full
    rm -f "ref-$out"
  done
fi

# Standard output as the log is the caller's descriptor: a shell's >> keeps
# what was there and appends, > holds the log alone, and corvel-sim's own
# words go to standard error, never into the data.
row=stdout-appended
rows=$((rows + 1))
prepare
printf 'an earlier line\n' > appended.csv
"$sim" data.csv --no-plot --out /dev/stdout >> appended.csv 2> said.txt || fail "exit $?: $(cat said.txt)"
[ "$(head -1 appended.csv)" = "an earlier line" ] && [ "$(sed -n 2p appended.csv)" = "t,u,error,z0,d1,d2,d3" ] &&
  [ "$(wc -l < appended.csv)" -eq 2002 ] || fail "the append lost the earlier line or the log's rows: $(head -3 appended.csv)"
grep -q "2000 samples of data.csv" said.txt || fail "the summary did not go to standard error: $(cat said.txt)"
row=stdout-redirected
rows=$((rows + 1))
"$sim" data.csv --no-plot --out /dev/stdout > redirected.csv 2> said.txt || fail "exit $?"
[ "$(head -1 redirected.csv)" = "t,u,error,z0,d1,d2,d3" ] && ! grep -q "samples of" redirected.csv ||
  fail "the log written over, or words in it: $(head -2 redirected.csv)"
"$sim" data.csv --no-plot --out /dev/stdout 2> /dev/null | cmp -s - redirected.csv || fail "a pipe gets another log than a file"
# A regular file under /dev is a file: replaced whole (no old tail), and made where it is missing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  row=regular-file-under-dev
  rows=$((rows + 1))
  shm=$(mktemp -d /dev/shm/corvel-test.XXXXXX)
  head -c 1000000 /dev/zero | tr '\0' x > "$shm/est.csv"
  "$sim" data.csv --no-plot --out "$shm/est.csv" > /dev/null 2>&1 || fail "exit $? writing $shm/est.csv"
  cmp -s "$shm/est.csv" redirected.csv || fail "$shm/est.csv is not the log alone ($(stat -c %s "$shm/est.csv") bytes)"
  "$sim" data.csv --no-plot --out "$shm/new.csv" > /dev/null 2>&1 && cmp -s "$shm/new.csv" redirected.csv ||
    fail "a new file under /dev/shm was not made"
  rm -rf "$shm"
fi

if [ "$failures" -ne 0 ]; then
  echo "hostile usage: $failures of the checks failed over $rows rows"
  exit 1
fi
echo "hostile usage: all $rows rows passed"
