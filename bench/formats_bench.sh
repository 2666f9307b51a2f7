#!/usr/bin/env bash
# Loading and saving a 16 MiB image in Intel HEX and S-record, varnix22 side by side with
# srec_cat doing the same conversions. Prints seconds (best of N runs), image MB/s and the
# ratio of our throughput to srec_cat's (target: at least 3).
#   bench/formats_bench.sh [VARNIX22] [RUNS]     (default build/varnix22, 3 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
varnix=${1:-build/varnix22}
runs=${2:-3}
command -v srec_cat >/dev/null || { echo "srec_cat (Debian package srecord) is not installed" >&2; exit 2; }
[ -x "$varnix" ] || { echo "no $varnix: build first (cmake --build build)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=$((16 << 20))
head -c "$size" /dev/urandom > "$work/image.bin"
# The files both tools load, written by srec_cat with its default layout.
srec_cat "$work/image.bin" -binary -o "$work/in.hex" -intel
srec_cat "$work/image.bin" -binary -o "$work/in.s28" -motorola 2>/dev/null

# Best wall time of $runs runs of the command, in seconds.
best() {
  local best_ns="" t0 t1 i
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    if [ -z "$best_ns" ] || [ $((t1 - t0)) -lt "$best_ns" ]; then best_ns=$((t1 - t0)); fi
  done
  echo "$best_ns"
}

row() {  # name ours_ns theirs_ns
  awk -v n="$1" -v a="$2" -v b="$3" -v s="$size" 'BEGIN {
    printf "%-22s %9.3f %9.1f %9.3f %9.1f %7.2fx\n", n, a / 1e9, s / 1e6 / (a / 1e9),
           b / 1e9, s / 1e6 / (b / 1e9), b / a }'
}

printf "16 MiB image, best of %d runs\n" "$runs"
printf "%-22s %9s %9s %9s %9s %8s\n" "" "varnix22" "MB/s" "srec_cat" "MB/s" "ratio"
row "save Intel HEX" \
  "$(best "$varnix" convert --force "$work/image.bin" "$work/ours.hex")" \
  "$(best srec_cat "$work/image.bin" -binary -o "$work/theirs.hex" -intel)"
row "load Intel HEX" \
  "$(best "$varnix" convert --force "$work/in.hex" "$work/ours-hex.bin")" \
  "$(best srec_cat "$work/in.hex" -intel -o "$work/theirs-hex.bin" -binary)"
row "save S-record" \
  "$(best "$varnix" convert --force "$work/image.bin" "$work/ours.s28")" \
  "$(best srec_cat "$work/image.bin" -binary -o "$work/theirs.s28" -motorola)"
row "load S-record" \
  "$(best "$varnix" convert --force "$work/in.s28" "$work/ours-s28.bin")" \
  "$(best srec_cat "$work/in.s28" -motorola -o "$work/theirs-s28.bin" -binary)"

# The conversions must agree before the numbers mean anything.
cmp -s "$work/ours-hex.bin" "$work/image.bin" && cmp -s "$work/ours-s28.bin" "$work/image.bin" ||
  { echo "varnix22 read back something else" >&2; exit 1; }
srec_cat "$work/ours.hex" -intel -o "$work/check.bin" -binary &&
  cmp -s "$work/check.bin" "$work/image.bin" || { echo "srec_cat disagrees with our Intel HEX" >&2; exit 1; }
srec_cat "$work/ours.s28" -motorola -o "$work/check.bin" -binary 2>/dev/null &&
  cmp -s "$work/check.bin" "$work/image.bin" || { echo "srec_cat disagrees with our S-records" >&2; exit 1; }
echo "ratio = varnix22 throughput / srec_cat throughput (target >= 3)"
