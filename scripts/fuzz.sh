#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS]   (default 20 per target)
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNIX_FUZZ=ON -DVARNIX_TESTS=OFF -DVARNIX_BENCH=OFF >/dev/null
cmake --build build-fuzz
shopt -s nullglob
for src in fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  corpus="fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "== $name ($secs s)"
  "build-fuzz/fuzz/$name" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 "$work" \
    2>&1 | tail -n 3
  rm -rf "$work"
done
