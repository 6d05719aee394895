#!/usr/bin/env bash
# Builds payload_stamper for the machine it runs on (pure byte handling, so
# the same sources serve a Linux release pipeline).
#   build_native.sh OUTPUT_FILE
set -euo pipefail
out="${1:?usage: build_native.sh OUTPUT_FILE}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
mkdir -p "$(dirname "$out")"
"${CXX:-g++}" -std=c++17 -O2 -Wall -Wextra -I"$repo" \
  "$here/payload_stamper.cc" "$here/payload_stamper_main.cc" -o "$out"
