#!/usr/bin/env bash
# The local test server's own tests (behaviour scripts, ranges, resets, the
# package-folder mode, the proxy, HTTPS) and the namespace script's, run in a
# private network namespace whose hosts file maps the product's host names to
# 127.0.0.1. The other suites build on this server, so it runs first.
#
#   scripts/test.d/10-test-server.sh
#
# Exit code: 0 passed, 1 failed, 77 when no network namespace can be created
# here (the tests are skipped).
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exec "$repo/scripts/netns-run.sh" --hosts "autoupdate.vulmo.com autoupdate.vulmo.io" -- \
  python3 -m unittest discover -s "$repo/test/server" -p 'test_*.py'
