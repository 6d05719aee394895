#!/usr/bin/env bash
# Pictures of the installer's dialogs as Wine draws them under Xvfb: the
# progress dialog (normal and marquee), the cancel confirmation and the error
# box, in English, Arabic and Persian (right-to-left, mirrored), Japanese and
# Russian at 100 %, and some of them again at 150 % and 200 % (Wine's
# LogPixels 144 and 192).
#
#   scripts/test.d/40-screenshots.sh [BUILD_DIR] [--update-docs]
#
# BUILD_DIR (default build/cross) must hold the built net_installer_ui_demo.
# The PNGs go to BUILD_DIR/artifacts/screenshots/<lcid>_<scene>[_<dpi>dpi].png,
# each cropped to the dialogs. --update-docs also copies the README's
# pictures to docs/ (the English progress dialog at 96 and 192 DPI, the
# Arabic cancel confirmation).
#
# Each picture is taken while net_installer_ui_demo shows the scene. The demo
# itself fails when a text is not the string of the requested language, when
# a text does not fit its control or the bar does not span its dialog, and
# when any character is drawn as the missing-glyph box (it draws each one in
# the control's own font and compares it with a character that no font
# has). This script adds that the picture is not blank and that at 144 and
# 192 DPI the dialogs grow with the scale. Under Wine the thread locale, not
# the UI language, picks the strings, so the demo sets both.
#
# Runs in a Wine prefix of its own (BUILD_DIR/wineprefix-screenshots) whose
# Tahoma is font-linked to WenQuanYi Micro Hei (Debian fonts-wqy-microhei,
# linked into the prefix's fonts folder) when that is installed: Wine's
# default links name Windows CJK fonts that are not here, and Japanese would
# come out as empty boxes.
# Exit code: 0 all pictures taken, 1 a failure, 77 no Xvfb here (skipped).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

build_dir=$repo/build/cross
update_docs=0
for arg in "$@"; do
  case $arg in
    --update-docs) update_docs=1 ;;
    *) build_dir=$arg ;;
  esac
done
build_dir=$(cd "$build_dir" 2>/dev/null && pwd) || {
  echo "40-screenshots.sh: no build directory '$build_dir'" >&2
  exit 1
}
demo=$build_dir/desktop/launcher/installer/net_installer/net_installer_ui_demo.exe
if [[ ! -f $demo ]]; then
  echo "40-screenshots.sh: $demo is missing; build net_installer_ui_demo" >&2
  exit 1
fi
for tool in import convert; do
  command -v $tool >/dev/null || { echo "40-screenshots.sh: $tool missing (imagemagick)" >&2; exit 1; }
done

# A private X server of a known size for the whole run.
if [[ -z ${VULMO_SCREENSHOT_XVFB:-} ]]; then
  command -v xvfb-run >/dev/null || { echo "40-screenshots.sh: no xvfb-run; skipped" >&2; exit 77; }
  VULMO_SCREENSHOT_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

prefix=$build_dir/wineprefix-screenshots
exec 9>"$prefix.lock"
flock -w 600 9 || { echo "40-screenshots.sh: $prefix is busy" >&2; exit 1; }
"$repo/scripts/make-wineprefix.sh" "$prefix" || exit 1
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

out=$build_dir/artifacts/screenshots
work=$(mktemp -d "$build_dir/screenshots.XXXXXX")
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mkdir -p "$out"
timeout 30 wineserver -p >/dev/null 2>&1

# Wine's own Tahoma covers Latin, Greek, Cyrillic, Arabic and Hebrew but no
# CJK, and its default font links name Windows CJK fonts that are not here.
# Wine 8 also took glyphs only from the first linked font in our trials, so
# the CJK pictures get Tahoma linked to WenQuanYi Micro Hei and the others
# keep the prefix's own links. A process reads the links when it starts.
link_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
# The prefix's own value, saved on first use: an interrupted run may have
# left the CJK links in place.
saved_links=$prefix/vulmo-tahoma-links.txt
if [[ ! -f $saved_links ]]; then
  timeout 60 wine reg query "$link_key" /v Tahoma 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Tahoma *REG_MULTI_SZ *//p' >"$saved_links.tmp" && mv "$saved_links.tmp" "$saved_links"
fi
default_links=$(cat "$saved_links" 2>/dev/null)
# The CJK font is linked into the prefix's C:\windows\Fonts, where Wine
# loads it itself, so the pictures do not depend on fontconfig finding it.
# VULMO_CJK_FONT names another file (one that does not exist shows what the
# suite does without the font).
cjk_font=${VULMO_CJK_FONT:-/usr/share/fonts/truetype/wqy/wqy-microhei.ttc}
cjk_link=$prefix/drive_c/windows/Fonts/wqy-microhei.ttc
cjk_links=
if [[ -f $cjk_font ]]; then
  ln -sfn "$cjk_font" "$cjk_link"
  cjk_links='wqy-microhei.ttc,WenQuanYi Micro Hei'
else
  rm -f "$cjk_link"
  echo "40-screenshots.sh: no $cjk_font (fonts-wqy-microhei): CJK text will show as boxes" >&2
fi
current_links=
use_links() {
  [[ $1 == "$current_links" || -z $1 ]] && return
  # The caption's bold face (tahomabd.ttf) is a family of its own to Wine.
  local face
  for face in Tahoma "Tahoma Bold"; do
    timeout 60 wine reg add "$link_key" /v "$face" /t REG_MULTI_SZ /d "$1" /f >/dev/null 2>&1
  done
  current_links=$1
}

# The screen's scale for the programs started from now on: Wine's LogPixels
# (96 is 100 %, 144 is 150 %, 192 is 200 %), read by each process at start.
dpi_key='HKCU\Control Panel\Desktop'
current_dpi=
use_dpi() {
  [[ $1 == "$current_dpi" ]] && return
  timeout 60 wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  current_dpi=$1
}
# Every picture at 100 % has a name of LCID_SCENE; at other scales the DPI
# is added (LCID_SCENE_192dpi).
picture_name() {
  if [[ $3 -eq 96 ]]; then echo "$1_$2"; else echo "$1_$2_$3dpi"; fi
}

passed=0
failed=0
# shoot LCID SCENE DPI [ATTEMPT]
shoot() {
  local lcid=$1 scene=$2 dpi=$3 attempt=${4:-1}
  local name
  name=$(picture_name "$lcid" "$scene" "$dpi")
  local stop=$work/$name.stop log=$work/$name.out
  local stop_windows="Z:${stop//\//\\}"
  case $lcid in
    1028 | 1041 | 1042 | 2052) use_links "$cjk_links" ;;
    *) use_links "$default_links" ;;
  esac
  use_dpi "$dpi"
  : >"$log"
  timeout 90 wine "$demo" "$lcid" "$scene" "$stop_windows" >"$log" 2>&1 &
  local pid=$!
  local ready=
  for _ in $(seq 300); do
    ready=$(tr -d '\r' <"$log" | sed -n 's/^READY //p')
    [[ -n $ready ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z $ready ]]; then
    touch "$stop"
    wait "$pid"
    local code=$?
    rm -f "$stop"
    # On a loaded machine a Wine start now and then dies before the program
    # runs (exit 1, no output at all): one more try before calling it a fault.
    if [[ $attempt -eq 1 && ! -s $log ]]; then
      echo "retry $name: the demo ended without output (exit $code)" >&2
      shoot "$lcid" "$scene" "$dpi" 2
      return
    fi
    echo "FAIL $name: the demo showed nothing (exit $code):" >&2
    cat "$log" >&2
    failed=$((failed + 1))
    return
  fi
  local left top right bottom shown_dpi
  read -r left top right bottom shown_dpi <<<"$ready"
  # Crop to the dialogs with a small margin of the (black) screen.
  local x=$((left > 8 ? left - 8 : 0)) y=$((top > 8 ? top - 8 : 0))
  local w=$((right - left + 16)) h=$((bottom - top + 16))
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
  touch "$stop"
  wait "$pid"
  local code=$?
  local colours
  colours=$(convert "$out/$name.png" -format %k info: 2>/dev/null || echo 0)
  # At 150 % and 200 % the dialogs are laid out anew, not blown up: they
  # grow with the scale (within the rounding of dialog units to pixels).
  local base_width=${width_at_96[${lcid}_$scene]:-}
  [[ $dpi -eq 96 ]] && width_at_96[${lcid}_$scene]=$((right - left))
  local scale_fault=
  if [[ $shown_dpi != "$dpi" ]]; then
    scale_fault="drawn at $shown_dpi DPI, not $dpi"
  elif [[ $dpi -ne 96 && -n $base_width ]]; then
    local expected=$((base_width * dpi / 96)) actual=$((right - left))
    if ((actual * 100 < expected * 92 || actual * 100 > expected * 108)); then
      scale_fault="$actual pixels wide; at $dpi DPI about $expected were expected"
    fi
  fi
  if [[ $code -ne 0 ]]; then
    echo "FAIL $name: demo exit code $code" >&2
    cat "$log" >&2
    failed=$((failed + 1))
  elif [[ ${colours:-0} -lt 16 ]]; then
    echo "FAIL $name: the picture is blank ($colours colours)" >&2
    failed=$((failed + 1))
  elif [[ -n $scale_fault ]]; then
    echo "FAIL $name: $scale_fault" >&2
    failed=$((failed + 1))
  else
    echo "ok   $name.png (${w}x${h})"
    passed=$((passed + 1))
  fi
}

declare -A width_at_96
for lcid in 1033 1025 1041 1049; do
  for scene in progress marquee cancel error; do
    shoot "$lcid" "$scene" 96
  done
done
for scene in progress cancel; do
  shoot 1065 "$scene" 96
done
# 150 % and 200 %: Latin, mirrored Arabic and CJK text.
for dpi in 144 192; do
  for lcid in 1033 1025 1041; do
    for scene in progress cancel; do
      shoot "$lcid" "$scene" "$dpi"
    done
  done
done
use_dpi 96

if [[ $update_docs -eq 1 && $failed -eq 0 ]]; then
  mkdir -p "$repo/docs"
  cp "$out/1033_progress.png" "$repo/docs/progress_dialog.png"
  for dpi in 144 192; do
    cp "$out/1033_progress_${dpi}dpi.png" "$repo/docs/progress_dialog_${dpi}dpi.png"
  done
  cp "$out/1025_cancel.png" "$repo/docs/cancel_box_arabic.png"
  echo "updated docs/progress_dialog.png, docs/progress_dialog_{144,192}dpi.png, docs/cancel_box_arabic.png"
fi
echo "pictures in $out"
echo "screenshots: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
