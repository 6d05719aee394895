#!/usr/bin/env bash
# The downloader's network tests: the real WininetDownloader, under Wine,
# against the local test server (HTTP, HTTPS through a test CA, and an
# authenticating proxy), inside a private network namespace whose hosts file
# maps the test host names to 127.0.0.1, with Xvfb for the proxy prompt.
#
#   scripts/test.d/30-downloader.sh [BUILD_DIR] [-- GTEST_ARGS...]
#
# BUILD_DIR (default build/cross) must hold the built
# net_installer_downloader_unittests. Exit code: the test program's; 77 when
# no network namespace can be created here (the tests are skipped), or when
# all ran but the proxy prompt tests, for want of xvfb-run.
#
# The tests use a Wine prefix of their own (BUILD_DIR/wineprefix-network):
# Wine's sockets are opened by the wineserver, so the wineserver must run
# inside the namespace, and a shared prefix could bring one started outside.
# The test CA is trusted in that prefix only.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
hosts="autoupdate.vulmo.com allowed.vulmo.com evil.example vulmo.com"

build_dir=$repo/build/cross
if [[ $# -gt 0 && $1 != "--" ]]; then
  build_dir=$1
  shift
fi
if [[ $# -gt 0 && $1 == "--" ]]; then
  shift
fi
build_dir=$(cd "$build_dir" 2>/dev/null && pwd) || {
  echo "30-downloader.sh: no build directory '$build_dir'" >&2
  exit 1
}
exe=$build_dir/desktop/launcher/installer/net_installer/net_installer_downloader_unittests.exe
if [[ ! -f $exe ]]; then
  echo "30-downloader.sh: $exe is missing; build net_installer_downloader_unittests" >&2
  exit 1
fi

if [[ -z ${VULMO_NETNS:-} ]]; then
  exec "$repo/scripts/netns-run.sh" --hosts "$hosts" -- bash "$0" "$build_dir" -- "$@"
fi

# --- Inside the namespace from here on. ---

prefix=$build_dir/wineprefix-network
# One run per prefix at a time: each run owns the prefix's wineserver.
exec 9>"$prefix.lock"
if ! flock -w 900 9; then
  echo "30-downloader.sh: $prefix is busy" >&2
  exit 1
fi
"$repo/scripts/make-wineprefix.sh" "$prefix" || exit 1
export WINEPREFIX=$prefix VULMO_WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export VULMO_WINE_TIMEOUT=${VULMO_WINE_TIMEOUT:-300}
wine_run=$repo/scripts/wine-run.sh

work=$(mktemp -d "$build_dir/downloader-test.XXXXXX")
server_pid=
full_mounted=0
cleanup() {
  if [[ -n $server_pid ]]; then
    kill -TERM "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  if [[ $full_mounted -eq 1 ]]; then
    umount "$work/full" 2>/dev/null
  fi
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A wineserver left from an earlier run lives in another namespace.
timeout 30 wineserver -k >/dev/null 2>&1
timeout 30 wineserver -w >/dev/null 2>&1

certs=$build_dir/downloader-test-certs
bash "$repo/test/server/make_test_certs.sh" "$certs" >/dev/null || exit 1

echo '{"routes": {}}' >"$work/script.json"
python3 "$repo/test/server/vulmo_test_server.py" \
  --http-port 0 --https-port 0 --cert "$certs/server.crt" --key "$certs/server.key" \
  --proxy-port 0 --proxy-user vulmo --proxy-password "proxy-secret" \
  --script "$work/script.json" --log "$work/log.jsonl" \
  --ready-file "$work/ready.json" </dev/null 2>"$work/server-stderr.txt" &
server_pid=$!
for _ in $(seq 200); do
  [[ -s $work/ready.json ]] && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    break
  fi
  sleep 0.05
done
if [[ ! -s $work/ready.json ]]; then
  echo "30-downloader.sh: the test server did not start:" >&2
  cat "$work/server-stderr.txt" >&2
  exit 1
fi
port() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' \
    "$work/ready.json" "$1"
}
export VULMO_TEST_SERVER_DIR=$work
export VULMO_TEST_SERVER_SCRIPT=script.json
export VULMO_TEST_SERVER_LOG=log.jsonl
export VULMO_TEST_HTTP_PORT=$(port http_port)
export VULMO_TEST_HTTPS_PORT=$(port https_port)
export VULMO_TEST_PROXY_PORT=$(port proxy_port)
export VULMO_TEST_PROXY_USER=vulmo
export VULMO_TEST_PROXY_PASSWORD=proxy-secret
export VULMO_TEST_CA_CERT=$certs/ca.crt

# A file system too small for the test downloads, for the failed writes.
# `ip netns exec` gave this script a mount namespace of its own, so the
# mount is seen only by the processes of this run. Wine reaches it through
# drive Z:, which maps the Linux root.
mkdir "$work/full"
if mount -t tmpfs -o size=32k vulmo-full "$work/full" 2>/dev/null; then
  full_mounted=1
  export VULMO_TEST_FULL_DIR="Z:${work//\//\\}\\full"
else
  echo "30-downloader.sh: cannot mount a small tmpfs here; the full file" \
       "system test skips" >&2
fi

# Trust the test CA in this prefix (once per CA).
stamp=$prefix/vulmo-test-ca.sha256
digest=$(sha256sum "$certs/ca.crt" | cut -d' ' -f1)
if [[ ! -f $stamp || $(cat "$stamp") != "$digest" ]]; then
  if "$wine_run" "$exe" --trust-root-certificate; then
    echo "$digest" >"$stamp"
  else
    echo "30-downloader.sh: could not trust the test CA in $prefix" >&2
    exit 1
  fi
fi

# Runs the program once; the wineserver goes before the display does.
run_program() {
  if [[ $have_xvfb -eq 1 ]]; then
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
      '"$@"; status=$?; timeout 30 wineserver -k >/dev/null 2>&1; exit $status' \
      run-program "$wine_run" "$exe" "$@"
  else
    "$wine_run" "$exe" "$@"
  fi
}

# The proxy prompt is a real dialog: give it a display.
have_xvfb=1
if ! command -v xvfb-run >/dev/null 2>&1; then
  have_xvfb=0
  echo "30-downloader.sh: xvfb-run is missing; the proxy prompt tests skip" >&2
fi

# Wine keeps the proxy settings of a process's first internet session, so
# the proxy tests run in a second process of their own.
run_program "$@"
status=$?
proxy_args=("$@")
if [[ " $* " != *" --gtest_filter="* ]]; then
  proxy_args+=("--gtest_filter=ProxyAuthenticationTest.*")
fi
VULMO_TEST_PROXY_RUN=1 run_program "${proxy_args[@]}"
proxy_status=$?
[[ $status -ne 0 ]] || status=$proxy_status
if [[ $status -eq 0 && $have_xvfb -eq 0 ]]; then
  echo "30-downloader.sh: the proxy prompt tests were skipped (no xvfb-run)" >&2
  status=77
fi

if [[ $status -ne 0 ]]; then
  echo "30-downloader.sh: test server log: $work/log.jsonl (removed on exit)" >&2
  if [[ -n ${VULMO_KEEP_TEST_LOGS:-} ]]; then
    cp "$work/log.jsonl" "$build_dir/downloader-test-last-log.jsonl" 2>/dev/null
  fi
fi
exit $status
