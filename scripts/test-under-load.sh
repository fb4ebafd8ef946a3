#!/usr/bin/env bash
# Runs the test command (scripts/test.sh) RUNS times in a row (default 5) while two
# CPU-bound busy loops run beside it, as a check for tests that flake on a loaded
# 2-core machine. Prints each run's result and wall time; fails on the first failed run.
#   scripts/test-under-load.sh [RUNS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
log_dir=$root/build/under-load
mkdir -p "$log_dir"

busy=()
for _ in 1 2; do
  ( while :; do :; done ) &
  busy+=($!)
done
trap 'kill "${busy[@]}" 2>/dev/null' EXIT

for run in $(seq 1 "$runs"); do
  start=$(date +%s)
  "$root/scripts/test.sh" >"$log_dir/run-$run.log" 2>&1
  status=$?
  seconds=$(( $(date +%s) - start ))
  echo "run $run of $runs: $([ $status -eq 0 ] && echo passed || echo FAILED) in ${seconds} s (log: $log_dir/run-$run.log)"
  [ $status -eq 0 ] || exit 1
done
echo "All $runs runs passed under load."
