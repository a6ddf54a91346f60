#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS [libFuzzer options...]
# Runs one fuzz target for SECONDS on its seed corpus. New inputs it finds go to WORK_DIR/corpus
# (the seed corpus is only read), a crashing, leaking or hanging input to WORK_DIR/artifacts/.
# Exits non-zero when the target found a fault.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
shift 4
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" "$work/corpus" "$seeds" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=16384 -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$@"
