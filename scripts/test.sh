#!/usr/bin/env bash
# Builds everything and runs every test: a normal build and a one-second run
# of the benchmark's smallest row on it, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of every
# fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
# The benchmark still runs: its smallest row, for a second, on this build.
if scripts/stations.sh check >/dev/null 2>&1; then
  OVI_BENCH_BUILD="$PWD/build" bench/forward --smoke
else
  echo "test: no network namespaces here: the benchmark's smoke run is skipped" >&2
fi

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOVI_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
   LSAN_OPTIONS=suppressions=$PWD/../scripts/lsan.supp \
   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j"$jobs")

scripts/fuzz.sh 10
echo "all tests passed"
