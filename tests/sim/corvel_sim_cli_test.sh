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
expect 0 "4 samples of nan.csv" -- --input nan.csv --order 2 --no-plot
grep -q '^0.02,nan' corvel-out.csv || { echo "FAIL: NaN sample not logged"; failures=$((failures + 1)); }
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
expect 1 "is nan: tuning needs a finite signal" -- tune --input nan.csv
expect 2 "--orders: 0-3 must be an order or a range A-B of orders within 1-10" -- tune --orders 0-3

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "corvel-sim command line: all cases passed"
