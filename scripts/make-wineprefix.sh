#!/usr/bin/env bash
# Creates a Wine prefix for the build and its tests (idempotent).
#   make-wineprefix.sh PREFIX_DIR
set -euo pipefail
prefix="${1:?usage: make-wineprefix.sh PREFIX_DIR}"
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[ -f "$prefix/system.reg" ] && exit 0
mkdir -p "$prefix"
echo "Creating Wine prefix in $prefix" >&2
timeout 300 wineboot -i >/dev/null 2>&1
# Without a window manager (Xvfb), managed and decorated top-level windows
# cost seconds on every hide or destroy.
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
timeout 60 wineserver -w || true
