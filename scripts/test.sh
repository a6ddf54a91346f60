#!/usr/bin/env bash
# Sets up, builds both trees and runs every test (unit and end-to-end) under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh plain
scripts/package.sh --check  # the .deb, unpacked and looked at (reuses the plain tree)
scripts/build.sh asan
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd build-asan
ctest --output-on-failure -j "${ORDELLA_JOBS:-2}" "$@"
