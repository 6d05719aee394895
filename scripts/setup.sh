#!/usr/bin/env bash
# Vulmo NetInstaller - machine set-up for the cross build and the Wine test runs.
#
# Run as root on Debian 12 (bookworm). Idempotent: a second run only checks
# and exits in a few seconds.
#
#   1. installs the Debian packages the build and the tests need
#      (mingw-w64 posix toolchains for 64-bit and 32-bit, clang and lld,
#      Wine 64-bit, Xvfb, signing and test tools);
#   2. adds a deb-src entry mirroring the configured Debian "deb" entries,
#      if no deb-src entry exists yet;
#   3. fetches the LZMA SDK C sources from Debian's 7zip source package into
#      third_party/lzma/C/ (git-ignored) and records the version;
#   4. creates the Wine prefix build/cross/wineprefix (or $VULMO_WINEPREFIX)
#      with scripts/make-wineprefix.sh.
#
# Environment:
#   VULMO_WINEPREFIX   Wine prefix to create (default: <repo>/build/cross/wineprefix)
#   VULMO_SKIP_APT=1   skip steps 1-2 (packages and apt sources)
#
# Using the prefix afterwards (tests do this themselves):
#   export WINEPREFIX=<repo>/build/cross/wineprefix WINEDEBUG=-all \
#          WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
#   Wrap every wine call in `timeout`; start one persistent server per test
#   run (`wineserver -k; wineserver -p`) and stop it with `wineserver -k`.
#   The prefix is set up for Xvfb (no window manager: X11 Driver Managed=N,
#   Decorated=N). It does NOT select the null graphics driver: a test that
#   must create windows without any X server sets it in its own prefix (or
#   temporarily) with
#     wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
#   and removes it again with
#     wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
#   Without X and without that value, CreateDialogParamW fails with 1400.
#   Do not install wine32:i386: it makes /usr/bin/wine fail on this machine.

set -euo pipefail

START_TS=$(date +%s)
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/environment.sh
. "$REPO/scripts/lib/environment.sh"
WINEPREFIX_DIR=${VULMO_WINEPREFIX:-$REPO/build/cross/wineprefix}
LZMA_DIR=$REPO/third_party/lzma

log() { printf '[setup] %s\n' "$*"; }
warn() { printf '[setup] WARNING: %s\n' "$*" >&2; }
die() { printf '[setup] ERROR: %s\n' "$*" >&2; exit 1; }

export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  g++-mingw-w64-x86-64-posix
  wine wine64 fonts-wine libgnutls30
  fonts-wqy-microhei
  xvfb xauth
  osslsigncode openssl
  imagemagick
  googletest cmake ninja-build
  7zip
  iproute2
  python3 curl
  clang libclang-rt-14-dev libfuzzer-14-dev
  dpkg-dev
  g++ fontconfig
  nginx
  g++-mingw-w64-i686-posix lld ccache
)

CODENAME=bookworm
if [[ -r /etc/os-release ]]; then
  # shellcheck disable=SC1091
  CODENAME=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
fi

APT_UPDATED=0
apt_update_once() {
  if [[ $APT_UPDATED -eq 0 ]]; then
    log "apt-get update"
    # A broken third-party source must not stop us: the install below fails
    # loudly if a needed index is really missing.
    if ! apt-get update -qq; then
      warn "apt-get update reported errors (continuing)"
    fi
    APT_UPDATED=1
  fi
}

need_root() {
  [[ $(id -u) -eq 0 ]] || die "$1 needs root (run this script as root)"
}

# ---------------------------------------------------------------------------
# Step 2 (done first so that a single apt-get update covers both steps):
# deb-src entries.
# ---------------------------------------------------------------------------
SRC_LIST=/etc/apt/sources.list.d/vulmo-src.list

have_deb_src() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    grep -Eq '^[[:space:]]*deb-src[[:space:]]' "$f" && return 0
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    grep -Eiq '^Types:.*(^|[[:space:]])deb-src([[:space:]]|$)' "$f" && return 0
  done
  return 1
}

# Print one-line deb-src entries mirroring the enabled "deb" entries for this
# release (suite "$CODENAME" or "$CODENAME-*"), in either sources format.
mirror_deb_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    awk -v cn="$CODENAME" '
      /^[[:space:]]*deb[[:space:]]/ {
        line = $0; sub(/^[[:space:]]*deb[[:space:]]+/, "", line)
        opts = ""
        if (line ~ /^\[/) { opts = substr(line, 1, index(line, "]")); line = substr(line, index(line, "]") + 1) }
        n = split(line, w, /[[:space:]]+/); k = 0
        for (i = 1; i <= n; i++) if (w[i] != "") v[++k] = w[i]
        if (k >= 3 && (v[2] == cn || index(v[2], cn "-") == 1)) {
          out = "deb-src" (opts != "" ? " " opts : "") " " v[1] " " v[2]
          for (i = 3; i <= k; i++) out = out " " v[i]
          print out
        }
        delete v
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    awk -v cn="$CODENAME" '
      function flush(   nt, t, i, isdeb, nu, u, ns, s, j, opt) {
        if (types != "" && enabled != "no") {
          nt = split(types, t, /[[:space:]]+/); isdeb = 0
          for (i = 1; i <= nt; i++) if (t[i] == "deb") isdeb = 1
          if (isdeb && uris != "" && suites != "" && comps != "") {
            opt = (signedby != "" && signedby !~ /^-----/) ? " [signed-by=" signedby "]" : ""
            nu = split(uris, u, /[[:space:]]+/); ns = split(suites, s, /[[:space:]]+/)
            for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++)
              if (u[i] != "" && (s[j] == cn || index(s[j], cn "-") == 1))
                print "deb-src" opt " " u[i] " " s[j] " " comps
          }
        }
        types = uris = suites = comps = signedby = enabled = ""
      }
      function val(line) { sub(/^[^:]*:[[:space:]]*/, "", line); sub(/[[:space:]]+$/, "", line); return line }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      tolower($1) == "types:"      { types = val($0); next }
      tolower($1) == "uris:"       { uris = val($0); next }
      tolower($1) == "suites:"     { suites = val($0); next }
      tolower($1) == "components:" { comps = val($0); next }
      tolower($1) == "signed-by:"  { signedby = val($0); next }
      tolower($1) == "enabled:"    { enabled = tolower(val($0)); next }
      END { flush() }' "$f"
  done
}

SRC_ADDED=0
if [[ ${VULMO_SKIP_APT:-0} != 1 ]]; then
  if have_deb_src; then
    log "deb-src entry present"
  else
    need_root "adding a deb-src entry"
    entries=$(mirror_deb_entries | sort -u)
    [[ -n $entries ]] || die "no Debian '$CODENAME' deb entry found to mirror as deb-src"
    {
      echo "# Added by Vulmo scripts/setup.sh: source packages (apt-get source 7zip)."
      echo "$entries"
    } > "$SRC_LIST"
    log "added deb-src entries in $SRC_LIST:"
    sed -n 's/^deb-src/    deb-src/p' "$SRC_LIST"
    SRC_ADDED=1
  fi
fi

# ---------------------------------------------------------------------------
# Step 1: packages.
# ---------------------------------------------------------------------------
is_installed() {
  [[ $(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true) == installed ]]
}

if [[ ${VULMO_SKIP_APT:-0} != 1 ]]; then
  missing=()
  for p in "${PACKAGES[@]}"; do
    is_installed "$p" || missing+=("$p")
  done
  if dpkg --print-foreign-architectures | grep -qx i386 && is_installed wine32:i386; then
    warn "wine32:i386 is installed: it breaks /usr/bin/wine here (apt-get remove wine32:i386)"
  fi
  if [[ ${#missing[@]} -eq 0 ]]; then
    log "all ${#PACKAGES[@]} packages present"
    [[ $SRC_ADDED -eq 1 ]] && apt_update_once
  else
    need_root "installing packages"
    log "installing ${#missing[@]} package(s): ${missing[*]}"
    apt_update_once
    t0=$(date +%s)
    # No Recommends: everything needed is listed above (libgnutls30, a
    # Recommends of Wine, is listed explicitly for HTTPS inside Wine).
    # Packages installed as test tools (nginx) must not start system
    # services: a policy-rc.d that refuses every start, for this install only.
    policy=/usr/sbin/policy-rc.d
    own_policy=0
    if [[ ! -e $policy ]]; then
      printf '#!/bin/sh\n# Added by Vulmo scripts/setup.sh during its apt-get install.\nexit 101\n' > "$policy"
      chmod 755 "$policy"
      own_policy=1
    fi
    apt_rc=0
    apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends \
      "${missing[@]}" >/dev/null || apt_rc=$?
    [[ $own_policy -eq 1 ]] && rm -f "$policy"
    [[ $apt_rc -eq 0 ]] || die "apt-get install failed ($apt_rc)"
    # The tests start their own nginx; the system one stays off at boot too.
    if printf '%s\n' "${missing[@]}" | grep -qx nginx && command -v systemctl >/dev/null &&
        [[ -d /run/systemd/system ]]; then
      systemctl disable --now nginx >/dev/null 2>&1 || true
    fi
    log "packages installed in $(( $(date +%s) - t0 )) s"
  fi
fi

for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix clang++ ld.lld \
    wine wineserver 7zz; do
  command -v "$tool" >/dev/null || die "'$tool' not found after the package step"
done

# ---------------------------------------------------------------------------
# Step 3: LZMA SDK C sources from Debian's 7zip source package.
# ---------------------------------------------------------------------------
if [[ -f $LZMA_DIR/C/7zArcIn.c && -f $LZMA_DIR/VERSION ]]; then
  log "LZMA SDK present: $(head -n1 "$LZMA_DIR/VERSION")"
else
  command -v dpkg-source >/dev/null || die "dpkg-source missing (package dpkg-dev)"
  # apt-get source needs the Sources indexes: update if none are on disk.
  if ! compgen -G '/var/lib/apt/lists/*_Sources*' >/dev/null; then
    apt_update_once
  fi
  tmp=$(mktemp -d /tmp/vulmo-7zip-src.XXXXXX)
  trap 'rm -rf "$tmp"' EXIT
  log "apt-get source 7zip (in $tmp)"
  t0=$(date +%s)
  # As root apt warns that the download is unsandboxed; harmless.
  (cd "$tmp" && apt-get source -qq 7zip >"$tmp/apt-source.log" 2>&1) || {
    cat "$tmp/apt-source.log" >&2
    die "apt-get source 7zip failed"
  }
  srcdir=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d -name '7zip-*' | head -n1)
  [[ -n $srcdir && -f $srcdir/C/7zArcIn.c ]] || die "unexpected 7zip source tree in $tmp"
  dsc=$(find "$tmp" -maxdepth 1 -name '7zip_*.dsc' | head -n1)
  debver=$(sed -n 's/^Version:[[:space:]]*//p' "$dsc" | head -n1)
  sdkver=$(sed -n 's/^#define MY_VERSION_NUMBERS[[:space:]]*"\(.*\)".*/\1/p' "$srcdir/C/7zVersion.h" | head -n1)
  sdkdate=$(sed -n 's/^#define MY_DATE[[:space:]]*"\(.*\)".*/\1/p' "$srcdir/C/7zVersion.h" | head -n1)
  mkdir -p "$LZMA_DIR"
  rm -rf "$LZMA_DIR/C.new"
  cp -a "$srcdir/C" "$LZMA_DIR/C.new"
  rm -rf "$LZMA_DIR/C"
  mv "$LZMA_DIR/C.new" "$LZMA_DIR/C"
  # Keep the licence texts next to the sources.
  for doc in DOC/License.txt DOC/lzma-sdk.txt DOC/readme.txt; do
    [[ -f $srcdir/$doc ]] && cp "$srcdir/$doc" "$LZMA_DIR/"
  done
  [[ -f $srcdir/debian/copyright ]] && cp "$srcdir/debian/copyright" "$LZMA_DIR/debian-copyright"
  {
    echo "LZMA SDK ${sdkver:-unknown} (${sdkdate:-unknown date})"
    echo "source: Debian source package 7zip ${debver:-unknown}, folder C/"
    echo "fetched: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  } > "$LZMA_DIR/VERSION"
  rm -rf "$tmp"
  trap - EXIT
  log "LZMA SDK ${sdkver:-?} (7zip ${debver:-?}) copied to third_party/lzma/C in $(( $(date +%s) - t0 )) s"
fi

# ---------------------------------------------------------------------------
# Step 4: Wine prefix (the test runner uses the same script).
# ---------------------------------------------------------------------------
if [[ -f $WINEPREFIX_DIR/system.reg ]]; then
  log "Wine prefix present: $WINEPREFIX_DIR"
else
  log "creating Wine prefix $WINEPREFIX_DIR"
fi
t0=$(date +%s)
"$REPO/scripts/make-wineprefix.sh" "$WINEPREFIX_DIR" || die "could not prepare the Wine prefix $WINEPREFIX_DIR"
elapsed=$(( $(date +%s) - t0 ))
[[ $elapsed -gt 1 ]] && log "Wine prefix ready in $elapsed s ($(du -sh "$WINEPREFIX_DIR" | cut -f1))"

# ---------------------------------------------------------------------------
# .gitignore
# ---------------------------------------------------------------------------
GITIGNORE=$REPO/.gitignore
touch "$GITIGNORE"
added=0
for entry in /build/ /third_party/ /out/ '*.pyc' __pycache__/; do
  if ! grep -qxF -- "$entry" "$GITIGNORE"; then
    # Make sure the file ends with a newline before appending.
    if [[ -s $GITIGNORE && $(tail -c1 "$GITIGNORE" | od -An -c | tr -d ' ') != '\n' ]]; then
      echo >> "$GITIGNORE"
    fi
    echo "$entry" >> "$GITIGNORE"
    added=$((added + 1))
  fi
done
[[ $added -gt 0 ]] && log ".gitignore: added $added entr$([[ $added -eq 1 ]] && echo y || echo ies)"

log "done in $(( $(date +%s) - START_TS )) s"
