#!/usr/bin/env bash
# Installs what Varnix needs on Debian 12, builds it and starts it. Without an adapter
# (no /dev/parport0) it runs on the simulated bench. Arguments go to varnix22.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ $# -eq 0 ]; then
  # First start: measure the timing and keep it, so every later command has its waits.
  echo "varnix22 built in build/. Calibrating (on the simulated bench when no adapter is found):" >&2
  set -- calibrate --save
fi
exec ./build/varnix22 "$@"
