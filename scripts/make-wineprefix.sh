#!/usr/bin/env bash
# Creates a Wine prefix for the build and its tests (idempotent: an existing
# prefix only gets missing settings added, without starting Wine otherwise).
#   make-wineprefix.sh PREFIX_DIR
set -euo pipefail
# shellcheck source=lib/environment.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/environment.sh"
prefix="${1:?usage: make-wineprefix.sh PREFIX_DIR}"
# Wine refuses a relative WINEPREFIX.
prefix="$(realpath -m -- "$prefix")"
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Without a window manager (Xvfb), managed and decorated top-level windows
# cost seconds on every hide or destroy. Read from user.reg directly so that
# a ready prefix starts no Wine process.
x11_settings_present() {
  awk '
    /^\[/ { in_section = ($0 ~ /^\[Software\\\\Wine\\\\X11 Driver\]/); next }
    in_section && $0 == "\"Managed\"=\"N\""   { managed = 1 }
    in_section && $0 == "\"Decorated\"=\"N\"" { decorated = 1 }
    END { exit !(managed && decorated) }' "$prefix/user.reg" 2>/dev/null
}

if [ -f "$prefix/system.reg" ] && x11_settings_present; then
  exit 0
fi
mkdir -p "$prefix"
if [ ! -f "$prefix/system.reg" ]; then
  echo "Creating Wine prefix in $prefix" >&2
  timeout 300 wineboot -i >/dev/null 2>&1
fi
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
# Let the server write the registry out and exit.
timeout 60 wineserver -w || true
if [ ! -f "$prefix/system.reg" ] || ! x11_settings_present; then
  echo "make-wineprefix.sh: $prefix is incomplete (wineboot or reg add failed)" >&2
  exit 1
fi
