#!/usr/bin/env bash
# The JSON reader and value tree, built natively with clang under
# AddressSanitizer + UndefinedBehaviorSanitizer (any report is fatal): runs
# the same unit tests as the Wine build, then fuzzes the reader with
# libFuzzer for a bounded time, starting from a seed corpus of update-server
# replies and edge cases. The reader parses bytes from the network first of
# all, so this runs on every test run.
#
#   scripts/test.d/20-json-native.sh
#
# Environment:
#   VULMO_JSON_NATIVE_BUILD  build directory (default: <repo>/build/native-json)
#   VULMO_JSON_FUZZ_SECONDS  fuzzing time (default: 60; 0 skips fuzzing)
#
# The corpus is copied to a temporary directory, so the repository stays
# clean; an input that makes the fuzzer fail is kept as
# <build>/fuzz-artifacts/crash-* (or leak-*, timeout-*, oom-*) to reproduce
# with: <build>/json_reader_fuzzer <file>
# Exit code: 0 on success, 1 on any failure, 77 when clang or its fuzzer
# runtime is not installed (nothing was tested).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${VULMO_JSON_NATIVE_BUILD:-$repo/build/native-json}
fuzz_seconds=${VULMO_JSON_FUZZ_SECONDS:-60}
native=$repo/base/json/native

if ! command -v clang++ >/dev/null 2>&1; then
  echo "20-json-native.sh: clang++ is not installed (apt-get install clang" \
       "libclang-rt-14-dev libfuzzer-14-dev); skipped" >&2
  exit 77
fi

echo "== JSON (native, ASan+UBSan): build in $build"
cmake -S "$native" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DVULMO_JSON_SANITIZE=ON -DVULMO_JSON_FUZZER=ON >/dev/null
ninja -C "$build" -j2 json_unittests json_reader_fuzzer

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== JSON (native, ASan+UBSan): unit tests"
timeout --kill-after=10 600 "$build/json_unittests" --gtest_brief=1

if [[ $fuzz_seconds -le 0 ]]; then
  echo "== JSON fuzzing skipped (VULMO_JSON_FUZZ_SECONDS=$fuzz_seconds)"
  exit 0
fi

echo "== JSON (native, ASan+UBSan): fuzzing the reader for ${fuzz_seconds}s"
work=$(mktemp -d "${TMPDIR:-/tmp}/vulmo-json-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/fuzz-artifacts"
cp "$native"/corpus/* "$work/corpus/"
# -timeout: a single input taking seconds means the reader is not linear.
# -rss_limit_mb: a bounded input must not need unbounded memory.
timeout --kill-after=10 $((fuzz_seconds + 120)) \
  "$build/json_reader_fuzzer" \
  -dict="$native/json.dict" \
  -max_total_time="$fuzz_seconds" \
  -max_len=16384 \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -malloc_limit_mb=1024 \
  -print_final_stats=1 \
  -artifact_prefix="$build/fuzz-artifacts/" \
  "$work/corpus" 2>"$work/fuzz.log" || {
    tail -n 60 "$work/fuzz.log" >&2
    echo "20-json-native.sh: the fuzzer failed; see $build/fuzz-artifacts/" >&2
    exit 1
  }
grep -E "^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)" \
  "$work/fuzz.log" || true
echo "== JSON (native): passed"
