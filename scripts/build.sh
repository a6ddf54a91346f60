#!/usr/bin/env bash
# build.sh [plain|asan]: configures and builds one tree.
#   plain -> build/       the programs and libraries the demo runs (build/bin, build/lib)
#   asan  -> build-asan/  the same with AddressSanitizer and UndefinedBehaviorSanitizer, plus tests
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-plain}
jobs=${ORDELLA_JOBS:-2}
case "$kind" in
  plain) dir=build;      flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORDELLA_SANITIZE=OFF -DORDELLA_TESTS=OFF -DORDELLA_BENCH=ON) ;;
  asan)  dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DORDELLA_SANITIZE=ON -DORDELLA_TESTS=ON -DORDELLA_BENCH=OFF) ;;
  *) echo "usage: $0 [plain|asan]" >&2; exit 2 ;;
esac
# A compiler cache, when the machine has one, makes rebuilds of several checkouts cheap.
command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
