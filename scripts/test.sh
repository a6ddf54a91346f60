#!/usr/bin/env bash
# Sets up, builds the trees and runs every test: unit and end-to-end under the address and
# undefined-behaviour sanitizers (build-asan), the threaded tests under ThreadSanitizer
# (build-tsan), and a short run of each fuzz target (build-fuzz; scripts/fuzz.sh runs them
# longer). Arguments go to the first ctest (build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh plain
scripts/package.sh --check  # the .deb, unpacked and looked at (reuses the plain tree)
scripts/build.sh asan
scripts/build.sh tsan
scripts/build.sh fuzz
jobs=${ORDELLA_JOBS:-2}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd build-asan && ctest --output-on-failure -j "$jobs" "$@")
# A report stops the test that raised it; the suppressions name only code that is not ours.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}
(cd build-tsan && ctest --output-on-failure -j "$jobs" -L threads)
(cd build-fuzz && ctest --output-on-failure -j "$jobs")
