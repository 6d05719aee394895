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

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../lib/wine_netns_suite.sh
. "$repo/scripts/lib/wine_netns_suite.sh"

wine_netns_suite_enter 50-scenarios.sh \
  "autoupdate.vulmo.com autoupdate.vulmo.io downloads.vulmo.com cdn.example other.example" \
  net_installer installer_standin ui_actions trust_root sfx_stub -- "$@"

# --- Inside the namespace from here on. ---
wine_netns_suite_prefix "$build_dir/wineprefix-e2e"

python3 "$repo/test/e2e/run_scenarios.py" --build-dir "$build_dir" --prefix "$WINEPREFIX" \
  "${suite_args[@]}"
