#!/usr/bin/env bash
# build.sh [plain|asan|fuzz|tsan]: configures and builds one tree.
#   plain -> build/       the programs and libraries the demo runs (build/bin, build/lib)
#   asan  -> build-asan/  the same with AddressSanitizer and UndefinedBehaviorSanitizer, plus tests
#   fuzz  -> build-fuzz/  the libFuzzer targets of fuzz/ (clang), and only what they link
#   tsan  -> build-tsan/  the threaded tests under ThreadSanitizer, and only what they link
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-plain}
jobs=${ORDELLA_JOBS:-2}
case "$kind" in
  plain) dir=build;      flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORDELLA_SANITIZE=OFF -DORDELLA_TESTS=OFF -DORDELLA_BENCH=ON) ;;
  asan)  dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DORDELLA_SANITIZE=ON -DORDELLA_TESTS=ON -DORDELLA_BENCH=OFF) ;;
  fuzz)  dir=build-fuzz; target=ordella_fuzz_targets
         flags=(-DCMAKE_BUILD_TYPE=Fuzz "-DCMAKE_CXX_FLAGS_FUZZ=-O1 -gline-tables-only"
                "-DCMAKE_C_FLAGS_FUZZ=-O1 -gline-tables-only"
                -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
                -DORDELLA_FUZZ=ON -DORDELLA_TESTS=OFF -DORDELLA_BENCH=OFF) ;;
  tsan)  dir=build-tsan; target=ordella_tsan_tests
         flags=(-DCMAKE_BUILD_TYPE=Tsan "-DCMAKE_CXX_FLAGS_TSAN=-O1 -g1" "-DCMAKE_C_FLAGS_TSAN=-O1 -g1"
                -DORDELLA_TSAN=ON -DORDELLA_TESTS=ON -DORDELLA_BENCH=OFF) ;;
  *) echo "usage: $0 [plain|asan|fuzz|tsan]" >&2; exit 2 ;;
esac
# A compiler cache, when the machine has one, makes rebuilds of several checkouts cheap.
command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$jobs" ${target:+--target "$target"}
