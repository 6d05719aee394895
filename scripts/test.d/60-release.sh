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

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../lib/wine_netns_suite.sh
. "$repo/scripts/lib/wine_netns_suite.sh"

if [[ -z ${VULMO_NETNS:-} ]]; then
  for tool in nginx osslsigncode openssl 7zz; do
    command -v "$tool" >/dev/null || {
      echo "60-release.sh: $tool is missing (scripts/setup.sh installs it)" >&2
      exit 1
    }
  done
fi
wine_netns_suite_enter 60-release.sh "autoupdate.vulmo.com" \
  net_installer installer_standin trust_root sfx_stub -- "$@"

# --- Inside the namespace from here on. ---
wine_netns_suite_prefix "$build_dir/wineprefix-e2e"
# osslsigncode reaches the local time-stamp authority directly.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

python3 "$repo/test/release/run_release_tests.py" --build-dir "$build_dir" \
  --prefix "$WINEPREFIX" "${suite_args[@]}"
