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

# Wine 8 looks for its own fonts (Tahoma, Marlett, ...) in its data folder
# under a path that Debian's build spells as /usr/lib/wine/../../share/wine;
# Wine cannot open a folder through ".." inside a Windows path, so none of them
# load: the caption buttons, drawn with Marlett letters, come out as an "r",
# and "MS Shell Dlg" falls back to whatever fontconfig offers. Wine also reads
# C:\windows\Fonts, so the prefix gets links to them there.
wine_font_dir=${VULMO_WINE_FONT_DIR:-/usr/share/wine/fonts}
prefix_font_dir=$prefix/drive_c/windows/Fonts
wine_fonts_linked() {
  [ -e "$prefix_font_dir/marlett.ttf" ] && [ -e "$prefix_font_dir/tahoma.ttf" ]
}
link_wine_fonts() {
  if [ ! -f "$wine_font_dir/marlett.ttf" ]; then
    echo "make-wineprefix.sh: Wine's fonts are missing from $wine_font_dir (package fonts-wine)" >&2
    return 1
  fi
  mkdir -p "$prefix_font_dir"
  local font link
  for font in "$wine_font_dir"/*; do
    link=$prefix_font_dir/$(basename "$font")
    # Test runs may prepare the same prefix side by side.
    ln -sfn "$font" "$link" 2>/dev/null || [ -e "$link" ] || return 1
  done
}

if [ -f "$prefix/system.reg" ] && x11_settings_present; then
  wine_fonts_linked || link_wine_fonts
  exit
fi
mkdir -p "$prefix"
if [ ! -f "$prefix/system.reg" ]; then
  echo "Creating Wine prefix in $prefix" >&2
  timeout 300 wineboot -i >/dev/null 2>&1
fi
link_wine_fonts
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
# Let the server write the registry out and exit.
timeout 60 wineserver -w || true
if [ ! -f "$prefix/system.reg" ] || ! x11_settings_present; then
  echo "make-wineprefix.sh: $prefix is incomplete (wineboot or reg add failed)" >&2
  exit 1
fi
