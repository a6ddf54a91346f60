#!/usr/bin/env bash
# fuzz.sh [seconds] [target...]: builds the fuzz tree and runs each fuzz target (all of fuzz/
# when none is named) for `seconds` (default 600), one after the other. The inputs a run finds
# are kept in build-fuzz/fuzz/<target>.work/corpus for the next run; a crashing input goes to
# build-fuzz/fuzz/<target>.work/artifacts/ and makes the script fail at the end, naming it.
# Each run's last lines (executions, coverage) are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
scripts/build.sh fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for corpus in fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done
fi
failed=()
for target in "${targets[@]}"; do
  work=build-fuzz/fuzz/$target.work
  echo "== $target: ${seconds}s"
  if fuzz/run_fuzzer.sh "build-fuzz/fuzz/$target" "fuzz/corpus/$target" "$work" "$seconds" \
       >"$work.log" 2>&1; then
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|Done )' "$work.log" || tail -n 3 "$work.log"
  else
    tail -n 30 "$work.log"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: faults found by ${failed[*]}; inputs in build-fuzz/fuzz/<target>.work/artifacts/" >&2
  exit 1
fi
