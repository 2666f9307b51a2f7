#!/usr/bin/env bash
# Builds with warnings as errors and runs every test.
#   scripts/test.sh            normal build in build-test/
#   scripts/test.sh --asan     ASan + UBSan build in build-asan/
#   scripts/test.sh --tsan     TSan build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
dir=build-test
san=""
case "${1:-}" in
  --asan) dir=build-asan; san=address ;;
  --tsan) dir=build-tsan; san=thread ;;
  "") ;;
  *) echo "usage: $0 [--asan|--tsan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNIX_WERROR=ON \
      -DVARNIX_SANITIZE="$san" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
