#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (FUZZ_SECONDS, default 30) from the
# seed corpus in fuzz/corpus, under AddressSanitizer and
# UndefinedBehaviorSanitizer. A crash, a sanitizer's report or a leak fails,
# once the input that caused it fails again on its own (the command to do so
# is printed). A unit that is only slow (a busy machine, a sanitizer's cost)
# fails nothing: it is reported and kept in build/fuzz/findings/TARGET/slow
# (a seed to add to fuzz/corpus once it is made fast), and the fuzzing goes on
# for the time that is left.
# The seeds in the repository are left alone. Prints executions and coverage
# (cov, ft) per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
status=0
timeout_exit=70  # libFuzzer's exit status for a unit past -timeout
for target in entry dispatch sim_input; do
  work="build/fuzz/findings/$target"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/slow"
  log="$work/log.txt"
  # libmatio sizes its buffers from lengths in the file before it reads them:
  # a damaged MAT-file can make it ask for gigabytes. Allocations above 1 GiB
  # return null, as they would on a smaller machine, and libmatio must cope.
  limits=(-rss_limit_mb=2048)
  asan="${ASAN_OPTIONS:-}"
  if [ "$target" = sim_input ]; then
    limits+=(-malloc_limit_mb=4096)
    asan="max_allocation_size_mb=1024:allocator_may_return_null=1${asan:+:$asan}"
  fi
  fuzzer=build/fuzz/fuzz/fuzz_$target
  left=$seconds executions=0 coverage="" failed=""
  unit_seconds=${FUZZ_UNIT_SECONDS:-10}
  while [ "$left" -gt 0 ]; do
    started=$(date +%s)
    code=0
    ASAN_OPTIONS="$asan" "$fuzzer" -max_total_time="$left" -timeout="$unit_seconds" -timeout_exitcode="$timeout_exit" "${limits[@]}" \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "fuzz/corpus/$target" >"$log" 2>&1 || code=$?
    left=$((left - ($(date +%s) - started)))
    ran=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -1)
    executions=$((executions + ${ran:-0}))
    coverage=$(grep -E '#[0-9]+\s+(DONE|pulse|NEW|REDUCE)' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
    [ "$code" -eq 0 ] && break
    if [ "$code" -eq "$timeout_exit" ]; then
      for unit in "$work"/artifacts/timeout-*; do
        [ -e "$unit" ] || continue
        [ -e "$work/slow/$(basename "$unit")" ] ||
          echo "fuzz_$target: a slow unit (over $unit_seconds s here), kept as a seed: $work/slow/$(basename "$unit")"
        # Out of the working corpus, so that the fuzzing that goes on does not start on it again.
        for seed in "$work"/corpus/*; do
          [ -e "$seed" ] && cmp -s "$seed" "$unit" && rm -f "$seed"
        done
        mv "$unit" "$work/slow/"
      done
      continue
    fi
    # A crash, a report or a leak: its input again, alone.
    unit=$(ls -t "$work"/artifacts/crash-* "$work"/artifacts/leak-* "$work"/artifacts/oom-* 2>/dev/null | head -1 || true)
    if [ -n "$unit" ] && ! ASAN_OPTIONS="$asan" "$fuzzer" "${limits[@]}" "$unit" >"$work/reproduced.txt" 2>&1; then
      failed="fails again on its own: ASAN_OPTIONS=$asan $fuzzer ${limits[*]} $unit"
    elif [ -z "$unit" ]; then
      failed="ended with status $code and no input to show for it"
    else
      echo "fuzz_$target: $unit failed once but not again on its own (kept in $work/artifacts); fuzzing goes on"
      continue
    fi
    break
  done
  if [ -n "$failed" ]; then
    echo "fuzz_$target FAILED ($failed); the end of its log ($log):"
    tail -40 "$log"
    status=1
  else
    echo "fuzz_$target: ${executions} executions in ${seconds} s, ${coverage}"
  fi
done
exit $status
