# Sourced by the extra suites that run Windows programs under Wine against
# local servers inside a private network namespace (scripts/test.d/).
#
#   wine_netns_suite_enter NAME "HOSTS" TARGET... -- "$@"
#       NAME is the suite's name for messages; "$@" the suite's own
#       arguments, [BUILD_DIR] [-- ARGS...]. Sets build_dir (default
#       $VULMO_BUILD_DIR, else build/cross) and suite_args (ARGS). Outside
#       the namespace it builds TARGET... there (cheap when up to date) and
#       runs the suite again inside scripts/netns-run.sh --hosts "HOSTS"; it
#       does not return then. Inside it returns.
#   wine_netns_suite_prefix PREFIX
#       takes PREFIX for this run (waiting for another run that has it),
#       makes it, exports the Wine environment, and ends any wineserver left
#       from another namespace, now and when the suite exits.
wine_netns_suite_enter() {
  local hosts=$2 repo targets=()
  suite_name=$1
  shift 2
  while [[ $# -gt 0 && $1 != "--" ]]; do
    targets+=("$1")
    shift
  done
  shift
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  build_dir=${VULMO_BUILD_DIR:-$repo/build/cross}
  if [[ $# -gt 0 && $1 != "--" ]]; then
    build_dir=$1
    shift
  fi
  if [[ $# -gt 0 && $1 == "--" ]]; then
    shift
  fi
  suite_args=("$@")
  mkdir -p "$build_dir" 2>/dev/null
  build_dir=$(cd "$build_dir" 2>/dev/null && pwd) || {
    echo "$suite_name: no build directory '$build_dir'" >&2
    exit 1
  }
  [[ -z ${VULMO_NETNS:-} ]] || return 0

  if [[ ! -f $build_dir/build.ninja ]]; then
    cmake -S "$repo" -B "$build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" >/dev/null || exit 1
  fi
  local build_log=$build_dir/${suite_name%.sh}-build.log
  if ! ninja -C "$build_dir" -j2 "${targets[@]}" >"$build_log" 2>&1; then
    tail -n 40 "$build_log" >&2
    echo "$suite_name: building ${targets[*]} failed" >&2
    exit 1
  fi
  exec "$repo/scripts/netns-run.sh" --hosts "$hosts" -- \
    bash "$0" "$build_dir" -- "${suite_args[@]}"
}

wine_netns_suite_prefix() {
  local prefix=$1 repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  # One run per prefix at a time: each run owns the prefix's wineserver.
  exec 9>"$prefix.lock"
  if ! flock -w 900 9; then
    echo "$suite_name: $prefix is busy" >&2
    exit 1
  fi
  export WINEPREFIX=$prefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  "$repo/scripts/make-wineprefix.sh" "$prefix" || exit 1
  trap wine_netns_suite_end_wineserver EXIT
  trap 'exit 130' INT TERM HUP
  # Wine's sockets belong to the wineserver, so it must run in this
  # namespace: end one that an earlier run (in another namespace) left.
  wine_netns_suite_end_wineserver
}

wine_netns_suite_end_wineserver() {
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
}
