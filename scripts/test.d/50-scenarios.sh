#!/usr/bin/env bash
# The end-to-end scenario suite: the real net_installer.exe under Wine against
# the local test server (HTTPS on 443 with a test CA trusted in the suite's
# own prefix, HTTP on 80), with signed test packages and the installer.exe
# stand-in, inside a private network namespace whose hosts file maps the
# product's host names to 127.0.0.1. See test/e2e/README.md.
#
#   scripts/test.d/50-scenarios.sh [BUILD_DIR] [-- run_scenarios.py args...]
#   e.g. scripts/test.d/50-scenarios.sh -- --only cancel
#
# BUILD_DIR (default $VULMO_BUILD_DIR, else build/cross): the programs the
# suite needs are built there if they are missing or stale. Exit code: the suite's;
# 77 when no network namespace can be created (the suite is skipped).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
hosts="autoupdate.vulmo.com autoupdate.vulmo.io downloads.vulmo.com cdn.example other.example"

build_dir=${VULMO_BUILD_DIR:-$repo/build/cross}
if [[ $# -gt 0 && $1 != "--" ]]; then
  build_dir=$1
  shift
fi
if [[ $# -gt 0 && $1 == "--" ]]; then
  shift
fi
mkdir -p "$build_dir" 2>/dev/null
build_dir=$(cd "$build_dir" 2>/dev/null && pwd) || {
  echo "50-scenarios.sh: no build directory '$build_dir'" >&2
  exit 1
}

if [[ -z ${VULMO_NETNS:-} ]]; then
  # Outside the namespace: bring the programs up to date first (cheap when
  # they are), then enter it.
  if [[ ! -f $build_dir/build.ninja ]]; then
    cmake -S "$repo" -B "$build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" >/dev/null || exit 1
  fi
  targets=(net_installer installer_standin ui_actions trust_root sfx_stub)
  if ! ninja -C "$build_dir" -j2 "${targets[@]}" >"$build_dir/e2e-build.log" 2>&1; then
    tail -n 40 "$build_dir/e2e-build.log" >&2
    echo "50-scenarios.sh: building ${targets[*]} failed" >&2
    exit 1
  fi
  exec "$repo/scripts/netns-run.sh" --hosts "$hosts" -- bash "$0" "$build_dir" -- "$@"
fi

# --- Inside the namespace from here on. ---

prefix=$build_dir/wineprefix-e2e
# One run per prefix at a time: each run owns the prefix's wineserver.
exec 9>"$prefix.lock"
if ! flock -w 900 9; then
  echo "50-scenarios.sh: $prefix is busy" >&2
  exit 1
fi
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
"$repo/scripts/make-wineprefix.sh" "$prefix" || exit 1

cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Wine's sockets belong to the wineserver, so it must run in this namespace:
# end one that an earlier run (in another namespace) may have left.
timeout 30 wineserver -k >/dev/null 2>&1
timeout 30 wineserver -w >/dev/null 2>&1

python3 "$repo/test/e2e/run_scenarios.py" --build-dir "$build_dir" --prefix "$prefix" "$@"
