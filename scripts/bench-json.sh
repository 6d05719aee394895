#!/usr/bin/env bash
# Throughput of the JSON reader on multi-megabyte documents (a large reply,
# one long string, a list of numbers, containers nested to the limit), in
# MB/s. Builds a native optimised copy without sanitizers in
# build/native-json-bench. A benchmark, not a test: figures depend on the
# machine.
#
#   scripts/bench-json.sh [megabytes]   (default 8)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=lib/environment.sh
. "$repo/scripts/lib/environment.sh"
build=${VULMO_JSON_BENCH_BUILD:-$repo/build/native-json-bench}

cmake -S "$repo/base/json/native" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
  -DVULMO_JSON_SANITIZE=OFF -DVULMO_JSON_FUZZER=OFF >/dev/null
ninja -C "$build" -j2 json_reader_benchmark >/dev/null
"$build/json_reader_benchmark" "${1:-8}"
