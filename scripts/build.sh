#!/usr/bin/env bash
# Vulmo NetInstaller - cross build of the whole tree (program, tests, tools).
#
#   scripts/build.sh [ninja targets...]
#
# Configures build/cross (MinSizeRel, Ninja, mingw-w64 toolchain) and builds
# it; re-running only rebuilds what changed. Prints the size of
# net_installer.exe against its size budget.
#
# Environment:
#   VULMO_BUILD_DIR   build tree (default: <repo>/build/cross)
#   VULMO_JOBS        parallel compile jobs (default: number of CPUs)
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/environment.sh
. "$REPO/scripts/lib/environment.sh"
BUILD_DIR=${VULMO_BUILD_DIR:-$REPO/build/cross}
JOBS=${VULMO_JOBS:-$(nproc)}
SIZE_BUDGET=409600

log() { printf '[build] %s\n' "$*"; }

# ccache, where installed, makes rebuilds in a second checkout or build tree
# cheap; paths are taken relative to the build tree so checkouts share hits.
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$REPO")}
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Configuring an existing tree is cheap and keeps it MinSizeRel even if it
# was first configured otherwise.
log "configuring $BUILD_DIR"
cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel "${LAUNCHER[@]}" >/dev/null

t0=$(date +%s)
log "building with $JOBS job(s)"
ninja -C "$BUILD_DIR" -j "$JOBS" "$@"
log "build finished in $(( $(date +%s) - t0 )) s"

exe=$(find "$BUILD_DIR" -path "$BUILD_DIR/wineprefix" -prune -o \
        -type f -name net_installer.exe -print | head -n1)
if [[ -n $exe ]]; then
  echo "net_installer.exe size: $(stat -c %s "$exe") bytes (target <= $SIZE_BUDGET)"
else
  log "net_installer.exe not built (yet)"
fi
