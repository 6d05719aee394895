# Sourced by the scripts a newcomer runs (scripts/run.sh, scripts/bench.sh).
#
#   setup_and_build BUILD_DIR LOG TARGET...
#       runs scripts/setup.sh (the Debian packages only as root), then builds
#       TARGET... into BUILD_DIR with scripts/build.sh, its output in LOG;
#       on a failed build prints the end of LOG and exits 1.
setup_and_build() {
  local build_dir=$1 build_log=$2 repo
  shift 2
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  if [[ $(id -u) -eq 0 ]]; then
    "$repo/scripts/setup.sh"
  else
    VULMO_SKIP_APT=1 "$repo/scripts/setup.sh"
  fi
  mkdir -p "$(dirname "$build_log")"
  VULMO_BUILD_DIR=$build_dir "$repo/scripts/build.sh" "$@" >"$build_log" 2>&1 || {
    tail -n 40 "$build_log" >&2
    exit 1
  }
}
