#!/usr/bin/env bash
# package_builder_check_test.sh FIXTURES_DIR SFX_STUB_EXE
#
# The package builder's extraction check (the installer's own extraction
# code, package_check.exe beside the stub, run under Wine): packages the
# installer can unpack are written; an undecodable method, a name the
# installer refuses and a name Windows would change are refused with a
# message that names the method or the file, and nothing is written.
set -uo pipefail

fixtures=$1 stub=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../../.." && pwd)
builder=$repo/tools/package_builder/build_package.sh
pki=$fixtures/pki
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# tree NAME: a small package folder, with an empty folder, an empty file and
# a non-ASCII name.
tree() {
  local dir=$work/$1
  mkdir -p "$dir/docs/empty"
  cp "$stub" "$dir/installer.exe"
  seq 1 5000 > "$dir/docs/numbers.txt"
  : > "$dir/docs/empty.txt"
  printf 'unicode\n' > "$dir/docs/ünïcødé_名前.txt"
  echo "$dir"
}

# accepts NAME [build_package options...]: the package is written, signed,
# and its archive holds the folder.
accepts() {
  local name=$1
  shift
  local src out=$work/$name.exe
  src=$(tree "$name")
  if ! "$builder" "$src" "$out" --stub "$stub" \
       --sign "$pki/vulmo-chain.pem" "$pki/vulmo.key" "$@" >"$work/$name.log" 2>&1; then
    fail "$name: refused: $(cat "$work/$name.log")"
    return
  fi
  osslsigncode verify -CAfile "$pki/ca.crt" -in "$out" >/dev/null 2>&1 \
    || fail "$name: the package is not signed"
  mkdir -p "$work/$name.x"
  if ! 7zz x -bd -bso0 -bsp0 -o"$work/$name.x" "$out" >/dev/null 2>&1 ||
     ! diff -r "$src" "$work/$name.x" >/dev/null; then
    fail "$name: the package does not hold the folder"
  fi
}

# refuses NAME MESSAGE SRC [build_package options...]: exit 1, MESSAGE (a
# fixed string) on stderr, no package.
refuses() {
  local name=$1 message=$2 src=$3
  shift 3
  local out=$work/$name.exe
  "$builder" "$src" "$out" --stub "$stub" "$@" >"$work/$name.log" 2>&1
  local rc=$?
  [[ $rc -eq 1 ]] || fail "$name: exit code $rc, expected 1: $(cat "$work/$name.log")"
  grep -qF -- "$message" "$work/$name.log" \
    || fail "$name: no '$message' in: $(cat "$work/$name.log")"
  [[ ! -e $out ]] || fail "$name: a package was written"
}

# --- What the installer unpacks exactly is packaged ------------------------
accepts lzma2
accepts ppmd --7z-option -m0=PPMd
accepts bcj2 --7z-option -mf=BCJ2

# --- Methods the installer's decoder lacks ----------------------------------
refuses bzip2 'unsupported method (BZip2)' "$(tree bzip2)" --7z-option -m0=BZip2
refuses deflate 'unsupported method (Deflate)' "$(tree deflate)" --7z-option -m0=Deflate
refuses aes 'unsupported method (7zAES LZMA2)' "$(tree aes)" \
  --7z-option -mf=off --7z-option -psecret

# --- Names the installer refuses, and names Windows changes -----------------
src=$(tree device) && printf 'x\n' > "$src/docs/nul.txt"
refuses device 'the installer refuses the item name "docs/nul.txt"' "$src"
src=$(tree reserved) && printf 'x\n' > "$src/what?.txt"
refuses reserved 'the installer refuses the item name "what?.txt"' "$src"
src=$(tree backslash) && printf 'x\n' > "$src/a\\b.txt"
refuses backslash 'Only in <input>: a\b.txt' "$src"
src=$(tree trailing_dot) && printf 'x\n' > "$src/docs/notes."
refuses trailing_dot 'Only in <input>/docs: notes.' "$src"

# Names that lead out of the folder cannot come from a folder: the check
# itself is given such an archive.
mkdir -p "$work/traversal_src"
if "$repo/tools/package_builder/check_archive.sh" \
     "$fixtures/archives/unsafe_parent_slash.7z" "$work/traversal_src" \
     "$(dirname "$stub")/package_check.exe" "$work/traversal" \
     >"$work/traversal.log" 2>&1; then
  fail "traversal: accepted"
fi
grep -qF 'the installer refuses the item name "../escape_parent_slash.txt"' \
  "$work/traversal.log" || fail "traversal: $(cat "$work/traversal.log")"
[[ ! -e $work/escape_parent_slash.txt ]] || fail "traversal: the item escaped"

if [[ $failures -gt 0 ]]; then
  echo "package_builder_check_test.sh: $failures failure(s)" >&2
  exit 1
fi
echo "package_builder_check_test.sh: all passed"
