#!/usr/bin/env bash
# The Debian packages Varnix builds and tests with.
set -euo pipefail
PKGS=(build-essential cmake ninja-build clang clang-format libclang-rt-14-dev
      libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
      qt6-base-dev srecord lua5.4 fpc xvfb)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
