#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix, a persistent
# wineserver and a time limit, so that no test can hang a run.
#   VULMO_WINEPREFIX   prefix to use (default: <repo>/build/wineprefix)
#   VULMO_WINE_TIMEOUT seconds before the program is killed (default: 300)
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(dirname "$here")"
# shellcheck source=lib/environment.sh
. "$here/lib/environment.sh"
export WINEPREFIX="${VULMO_WINEPREFIX:-${WINEPREFIX:-$repo/build/wineprefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
timeout_s="${VULMO_WINE_TIMEOUT:-300}"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$here/make-wineprefix.sh" "$WINEPREFIX" >&2 || exit 1
fi
# The first program in a prefix also starts Wine's background services; they
# would inherit (and hold open) the caller's output pipes, so a runner such as
# ctest would wait for them. Start them detached from our output first, with a
# persistent server that keeps later starts fast.
# Debian's Wine keeps the server's socket below a per-prefix random folder
# in /tmp, named in the prefix's "wineserver" file.
server_socket() {
  local dir
  dir=$(cat "$WINEPREFIX/wineserver" 2>/dev/null) || return 1
  printf '/tmp/%s/server-%x-%x/socket' "$dir" \
    "$(stat -c '%d' "$WINEPREFIX")" "$(stat -c '%i' "$WINEPREFIX")"
}
if [ ! -S "$(server_socket)" ]; then
  wineserver -p </dev/null >/dev/null 2>&1 || true
  timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi

exec timeout --kill-after=10 "$timeout_s" wine "$@"
