#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 20) over a copy of its seed corpus.  A crash fails the run and leaves the
# input in build-fuzz/artifacts/.  Longer runs by hand: scripts/fuzz.sh 600
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOVI_FUZZ=ON -DOVI_WERROR=OFF >/dev/null
list=build-fuzz/fuzzers.txt
[ -s "$list" ] || { echo "fuzz: no fuzz targets"; exit 0; }
mkdir -p build-fuzz/artifacts
while read -r name corpus; do
  cmake --build build-fuzz -j"$(nproc)" --target "$name" >/dev/null
  work=build-fuzz/corpus/$name
  mkdir -p "$work"
  [ -n "$corpus" ] && [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  bin=$(find build-fuzz -type f -name "$name" -perm -u+x | head -n 1)
  echo "fuzz: $name for ${seconds}s"
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=0 "$work" 2>build-fuzz/$name.log ||
    { tail -n 40 build-fuzz/$name.log; echo "fuzz: $name failed"; exit 1; }
done < "$list"
