#!/usr/bin/env bash
# Vulmo NetInstaller - cross build of the whole tree (program, tests, tools).
#
#   scripts/build.sh [ninja targets...]
#
# Configures build/cross (MinSizeRel, Ninja, mingw-w64 GCC, 64-bit) and
# builds it; re-running only rebuilds what changed. Then, unless targets are
# named, the same sources in two more trees that are compiled and linked but
# not run here: build/cross32 (32-bit x86, the build a maker ships; these
# machines cannot run 32-bit programs) and build/clang (clang and lld, 64-bit:
# a second compiler). Every tree treats compiler warnings as errors. Prints
# the size of each net_installer.exe against the size budget.
#
# Environment:
#   VULMO_BUILD_DIR   build tree (default: <repo>/build/cross)
#   VULMO_JOBS        parallel compile jobs (default: number of CPUs)
#   VULMO_EXTRA_BUILDS  extra trees to build after the main one (default:
#                     "cross32 clang"; empty for none)
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/environment.sh
. "$REPO/scripts/lib/environment.sh"
BUILD_DIR=${VULMO_BUILD_DIR:-$REPO/build/cross}
JOBS=${VULMO_JOBS:-$(nproc)}
SIZE_BUDGET=330000

log() { printf '[build] %s\n' "$*"; }

# ccache, where installed, makes rebuilds in a second checkout or build tree
# cheap; paths are taken relative to the build tree so checkouts share hits.
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$REPO")}
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# toolchain file of each tree name
declare -A TOOLCHAINS=(
  [cross]=mingw-w64-x86_64
  [cross32]=mingw-w64-i686
  [clang]=clang-mingw-w64-x86_64
)

# build_tree DIR TOOLCHAIN [ninja targets...]
build_tree() {
  local dir=$1 toolchain=$2
  shift 2
  # Configuring an existing tree is cheap and keeps it MinSizeRel even if it
  # was first configured otherwise.
  log "configuring $dir ($toolchain)"
  cmake -S "$REPO" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DVULMO_WARNINGS_AS_ERRORS=ON \
    "${LAUNCHER[@]}" >/dev/null

  local t0
  t0=$(date +%s)
  log "building $dir with $JOBS job(s)"
  ninja -C "$dir" -j "$JOBS" "$@"
  log "$dir built in $(( $(date +%s) - t0 )) s"
}

# print_size DIR LABEL
print_size() {
  local exe
  exe=$(find "$1" -path "$1/wineprefix*" -prune -o \
          -type f -name net_installer.exe -print | head -n1)
  if [[ -n $exe ]]; then
    printf 'net_installer.exe size (%s): %d bytes (target <= %d)\n' \
      "$2" "$(stat -c %s "$exe")" "$SIZE_BUDGET"
  else
    log "net_installer.exe not built (yet) in $1"
  fi
}

build_tree "$BUILD_DIR" "${TOOLCHAINS[cross]}" "$@"
extra=()
if [[ $# -eq 0 ]]; then
  read -r -a extra <<< "${VULMO_EXTRA_BUILDS-cross32 clang}"
fi
for name in "${extra[@]}"; do
  [[ -n ${TOOLCHAINS[$name]:-} ]] || { log "unknown extra build '$name'"; exit 2; }
  build_tree "$REPO/build/$name" "${TOOLCHAINS[$name]}"
done

print_size "$BUILD_DIR" "64-bit, GCC"
for name in "${extra[@]}"; do
  case $name in
    cross32) print_size "$REPO/build/$name" "32-bit, GCC" ;;
    clang) print_size "$REPO/build/$name" "64-bit, clang" ;;
  esac
done
