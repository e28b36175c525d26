#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (FUZZ_SECONDS, default 30) from the
# seed corpus in fuzz/corpus, under AddressSanitizer and
# UndefinedBehaviorSanitizer; any crash, report, leak or hang fails. The
# findings go to build/fuzz/findings; the seeds in the repository are left
# alone. Prints executions and coverage (cov, ft) per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
status=0
for target in entry dispatch sim_input; do
  work="build/fuzz/findings/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
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
  if ASAN_OPTIONS="$asan" build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 "${limits[@]}" -print_final_stats=1 \
       -artifact_prefix="$work/artifacts/" "$work/corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    executions=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}')
    coverage=$(grep -E '#[0-9]+\s+DONE' "$log" | grep -oE 'cov: [0-9]+ ft: [0-9]+')
    echo "fuzz_$target: ${executions} executions in ${seconds} s, ${coverage}"
  else
    echo "fuzz_$target FAILED; the end of its log ($log):"
    tail -40 "$log"
    status=1
  fi
done
exit $status
