#!/usr/bin/env bash
# build_package.sh SRC_DIR OUT.exe [--sign CERT KEY [--ts URL] [--nest CERT KEY]
#                  [--nest-digest sha1|sha256]] [--stub SFX_STUB_EXE]
#                  [--level N] [--solid-block SIZE] [--7z-option SWITCH]...
#
# Makes an installer package the way Vulmo NetInstaller expects it: a 7z
# archive of SRC_DIR's contents (SRC_DIR itself is not a path component;
# installer.exe belongs at its top level), placed after our self-extractor
# stub, optionally Authenticode-signed.
#
#   --sign CERT KEY   sign with osslsigncode (SHA-256). CERT may hold the
#                     whole chain (leaf first), e.g. make_test_pki.sh's
#                     vulmo-chain.pem.
#   --ts URL          time-stamp every signature at this RFC 3161 authority.
#   --nest CERT KEY   add a second, nested signature (--nest-digest, SHA-1
#                     by default). The signing is sign_file.sh's.
#   --stub PATH       the stub program (default: $VULMO_SFX_STUB, else
#                     build/cross/tools/sfx_stub.exe of this repository).
#   --level N         7-Zip compression level 0-9 (default 9).
#   --solid-block SIZE
#                     largest solid block, in 7-Zip's notation (default 16m).
#                     The installer holds one decoded block in memory while
#                     it unpacks, so this bounds its memory use (a single
#                     file larger than SIZE still makes a block of its own);
#                     "on" makes the whole archive one block.
#   --7z-option SWITCH
#                     an extra 7zz switch, e.g. -m0=PPMd for a package of
#                     mostly text (repeatable).
#
# Before anything is signed, the archive is unpacked with the installer's own
# extraction code (package_check.exe beside the stub, or $VULMO_PACKAGE_CHECK,
# run under Wine in $VULMO_WINEPREFIX) and compared with SRC_DIR: a package
# the installer could not unpack exactly (a compression method its decoder
# lacks, a name it refuses or Windows cannot hold) is refused, naming the
# method or the file.
#
# The installer cuts the package at the FIRST 7z signature, so the stub must
# not contain those six bytes; this script refuses a stub that does, and
# checks that the finished package's first signature is where the archive
# starts. Needs 7zz (Debian package 7zip), Wine, osslsigncode when signing,
# and python3.
set -euo pipefail

usage() {
  echo "usage: $0 SRC_DIR OUT.exe [--sign CERT KEY [--ts URL] [--nest CERT KEY]" \
       "[--nest-digest sha1|sha256]] [--stub SFX_STUB_EXE]" \
       "[--level N] [--solid-block SIZE] [--7z-option SWITCH]..." >&2
  exit 2
}
[[ $# -ge 2 ]] || usage
src=$1 out=$2
shift 2
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
stub=${VULMO_SFX_STUB:-$repo/build/cross/tools/sfx_stub.exe}
check_tool=${VULMO_PACKAGE_CHECK:-}
cert="" key="" level=9 solid_block=16m seven_options=()
# --- Signing options: handed to sign_file.sh as they are. ---
signing=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --sign) [[ $# -ge 3 ]] || usage; cert=$2 key=$3; signing+=("$1" "$2" "$3"); shift 3 ;;
    --nest) [[ $# -ge 3 ]] || usage; signing+=("$1" "$2" "$3"); shift 3 ;;
    --ts|--nest-digest) [[ $# -ge 2 ]] || usage; signing+=("$1" "$2"); shift 2 ;;
    # --- End of the signing options. ---
    --stub) [[ $# -ge 2 ]] || usage; stub=$2; shift 2 ;;
    --level) [[ $# -ge 2 && $2 =~ ^[0-9]$ ]] || usage; level=$2; shift 2 ;;
    --solid-block)
      [[ $# -ge 2 && $2 =~ ^(on|[0-9]+[kmg]?)$ ]] || usage
      solid_block=$2; shift 2 ;;
    --7z-option) [[ $# -ge 2 && $2 == -* ]] || usage; seven_options+=("$2"); shift 2 ;;
    *) usage ;;
  esac
done

die() { echo "build_package.sh: $*" >&2; exit 1; }
check_tool=${check_tool:-$(dirname "$stub")/package_check.exe}
[[ -d $src ]] || die "no such directory: $src"
[[ -f $stub ]] || die "self-extractor stub not found: $stub (build target sfx_stub or pass --stub)"
command -v 7zz >/dev/null || die "7zz not found (install the Debian package 7zip)"
# Checked before the archive is made, which may take long.
if [[ -n $cert ]]; then
  command -v osslsigncode >/dev/null || die "osslsigncode not found"
  [[ -f $cert && -f $key ]] || die "certificate or key missing: $cert $key"
elif [[ ${#signing[@]} -gt 0 ]]; then
  die "--ts, --nest and --nest-digest need --sign"
fi

# Prints the offset of the first 7z signature within the first LIMIT bytes
# of a file (default: all of it), or -1.
first_signature() {
  python3 - "$1" "${2:--1}" <<'PY'
import sys
with open(sys.argv[1], "rb") as source:
    data = source.read(int(sys.argv[2]))
print(data.find(bytes([0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C])))
PY
}

stub_hit=$(first_signature "$stub")
[[ $stub_hit == -1 ]] || die "the stub $stub contains the 7z signature at offset $stub_hit"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src_abs=$(cd "$src" && pwd)
(cd "$src_abs" && 7zz a -t7z "-mx=$level" "-ms=$solid_block" "${seven_options[@]}" \
   -bd -bso0 -bsp0 "$work/archive.7z" .) || die "7zz failed"

# --- Extraction check: the installer must be able to unpack what we ship. ---
"$repo/tools/package_builder/check_archive.sh" "$work/archive.7z" "$src_abs" \
  "$check_tool" "$work"
# --- End of the extraction check. ---
cat "$stub" "$work/archive.7z" > "$work/unsigned.exe"

mkdir -p "$(dirname "$out")"
# --- Signing: sign_file.sh checks the options and the files. ---
if [[ -n $cert ]]; then
  "$repo/tools/package_builder/sign_file.sh" "$work/unsigned.exe" "$work/signed.exe" \
    "${signing[@]}" || die "signing failed"
  mv -f "$work/signed.exe" "$out"
else
  mv -f "$work/unsigned.exe" "$out"
fi
# --- End of signing. ---

stub_size=$(stat -c %s "$stub")
hit=$(first_signature "$out" $((stub_size + 6)))
[[ $hit == "$stub_size" ]] \
  || die "first 7z signature of $out is at $hit, expected $stub_size"
echo "build_package.sh: wrote $out (archive at offset $stub_size)"
