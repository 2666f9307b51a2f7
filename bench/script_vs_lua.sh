#!/usr/bin/env bash
# Runs the three script benchmarks in our engine and in Lua 5.4 and prints the ratios
# (our time / Lua's time; the target is at most 2). Times are processor time of the
# algorithm alone (compile and start-up excluded), best of N runs:
#   bench/script_vs_lua.sh [BUILD_DIR] [RUNS]     (defaults: build-test, 3)
#  (a) loop_calls:   10 million iterations of an integer loop calling a user function
#  (b) string_build: a string of 200,000 numbers
#  (c) host_calls:   1 million calls of a host (library) routine with one argument
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
runs=${2:-3}
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target script_engine_bench >/dev/null
lua=$(command -v lua5.4 || true)
[ -n "$lua" ] || { echo "lua5.4 not found (apt-get install lua5.4)" >&2; exit 2; }

best() {  # best time_ms of $runs runs of a command; checks it printed the expected result
  local expect=$1; shift
  local t=""
  for _ in $(seq "$runs"); do
    local out err
    out=$("$@" 2>/tmp/script_bench_err.$$)
    err=$(cat /tmp/script_bench_err.$$)
    [ "$(echo "$out" | tail -n 1)" = "$expect" ] || { echo "unexpected output: $out" >&2; exit 1; }
    local ms
    ms=$(echo "$err" | sed -n 's/^time_ms //p' | tail -n 1)
    if [ -z "$t" ] || awk "BEGIN{exit !($ms < $t)}"; then t=$ms; fi
  done
  rm -f /tmp/script_bench_err.$$
  echo "$t"
}

printf '%-14s %12s %12s %8s\n' benchmark "ours (ms)" "lua (ms)" ratio
status=0
for b in loop_calls:4995000000 string_build:1288895 host_calls:500000500000; do
  name=${b%%:*}
  expect=${b#*:}
  ours=$(best "$expect" "$build/bench/script_engine_bench" "bench/script/$name.pas")
  theirs=$(best "$expect" "$lua" "bench/script/$name.lua")
  ratio=$(awk "BEGIN{printf \"%.2f\", $ours / $theirs}")
  printf '%-14s %12.1f %12.1f %8s\n' "$name" "$ours" "$theirs" "$ratio"
  awk "BEGIN{exit !($ratio > 2)}" && status=1
done
exit $status
