#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix, a persistent
# wineserver and a time limit, so that no test can hang a run.
#   VULMO_WINEPREFIX   prefix to use (default: <repo>/build/wineprefix)
#   VULMO_WINE_TIMEOUT seconds before the program is killed (default: 300)
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(dirname "$here")"
export WINEPREFIX="${VULMO_WINEPREFIX:-${WINEPREFIX:-$repo/build/wineprefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
timeout_s="${VULMO_WINE_TIMEOUT:-300}"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$here/make-wineprefix.sh" "$WINEPREFIX" >&2 || exit 1
fi
# A persistent server keeps later starts fast; -p is a no-op when one runs.
wineserver -p >/dev/null 2>&1 || true

exec timeout --kill-after=10 "$timeout_s" wine "$@"
