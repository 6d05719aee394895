# Sourced by the scripts that make throwaway keys (test/server/make_test_certs.sh,
# tools/pki/make_test_pki.sh).
#
#   key_folder SCRIPT_NAME OUTDIR   prints OUTDIR as an absolute path and
#                                   creates it; refuses (exit 2) a folder in
#                                   the work tree that git does not ignore, so
#                                   that no key can end up in the repository.
key_folder() {
  local name=$1 out repo
  out=$(realpath -m -- "$2")
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  case "$out/" in
    "$repo"/*)
      if ! git -C "$repo" check-ignore -q "$out/ca.key" 2>/dev/null; then
        echo "$name: refusing to write keys into $out: it is inside the" \
             "repository and not ignored by git (use build/ or a temp dir)" >&2
        exit 2
      fi
      ;;
  esac
  mkdir -p "$out"
  printf '%s\n' "$out"
}
