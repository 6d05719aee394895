#!/usr/bin/env bash
# A release as a maker makes and serves it: the program and its packages
# signed plain, time-stamped (a local RFC 3161 authority), with a nested
# second signature, and both; the payload stamped into the program; Debian's
# nginx serving deploy/nginx's configuration with packages published by
# publish_package.py; the real net_installer.exe under Wine installing
# through it, also across an nginx restart mid-download. Inside a private
# network namespace whose hosts file maps autoupdate.vulmo.com to 127.0.0.1.
# See test/release/run_release_tests.py.
#
#   scripts/test.d/60-release.sh [BUILD_DIR] [-- run_release_tests.py args...]
#
# BUILD_DIR (default $VULMO_BUILD_DIR, else build/cross): the programs the
# suite needs are built there if they are missing or stale. It shares the
# scenario suite's Wine prefix (and its lock). Exit code: the suite's; 77
# when no network namespace can be created (the suite is skipped).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
hosts="autoupdate.vulmo.com"

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
  echo "60-release.sh: no build directory '$build_dir'" >&2
  exit 1
}

if [[ -z ${VULMO_NETNS:-} ]]; then
  for tool in nginx osslsigncode openssl 7zz; do
    command -v "$tool" >/dev/null || {
      echo "60-release.sh: $tool is missing (scripts/setup.sh installs it)" >&2
      exit 1
    }
  done
  if [[ ! -f $build_dir/build.ninja ]]; then
    cmake -S "$repo" -B "$build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" >/dev/null || exit 1
  fi
  targets=(net_installer installer_standin trust_root sfx_stub)
  if ! ninja -C "$build_dir" -j2 "${targets[@]}" >"$build_dir/release-build.log" 2>&1; then
    tail -n 40 "$build_dir/release-build.log" >&2
    echo "60-release.sh: building ${targets[*]} failed" >&2
    exit 1
  fi
  exec "$repo/scripts/netns-run.sh" --hosts "$hosts" -- bash "$0" "$build_dir" -- "$@"
fi

# --- Inside the namespace from here on. ---

prefix=$build_dir/wineprefix-e2e
# One run per prefix at a time: each run owns the prefix's wineserver.
exec 9>"$prefix.lock"
if ! flock -w 900 9; then
  echo "60-release.sh: $prefix is busy" >&2
  exit 1
fi
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# osslsigncode reaches the local time-stamp authority directly.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
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

python3 "$repo/test/release/run_release_tests.py" --build-dir "$build_dir" --prefix "$prefix" "$@"
