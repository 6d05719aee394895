#!/usr/bin/env bash
# Vulmo NetInstaller - the benchmark: the program's steps side by side with
# curl, sha256sum, 7z and cp, and a whole installation against the sum of
# those tools; medians, ratios and peak memory in one table. Not a test: the
# figures depend on the machine. Everything runs in a private network
# namespace on loopback, under Xvfb.
#
#   scripts/bench.sh [--runs N] [--no-gigabyte]
#
# Builds the release, makes its data once in build/bench/data (about 3 GB;
# the first run takes a few minutes longer), prints the table and writes it
# to build/bench/results.md.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/environment.sh
. "$repo/scripts/lib/environment.sh"
build_dir=${VULMO_BUILD_DIR:-$repo/build/cross}
say() { printf '[bench] %s\n' "$*"; }
# shellcheck source=lib/setup_and_build.sh
. "$repo/scripts/lib/setup_and_build.sh"

say "building the release and the benchmark program"
setup_and_build "$build_dir" "$repo/build/bench-build.log" \
  net_installer net_installer_bench installer_standin trust_root sfx_stub

exec "$repo/scripts/netns-run.sh" --hosts "autoupdate.vulmo.com" -- \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  python3 "$repo/tools/bench/run_bench.py" --build-dir "$build_dir" "$@"
