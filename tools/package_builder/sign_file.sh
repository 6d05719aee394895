#!/usr/bin/env bash
# sign_file.sh IN.exe OUT.exe --sign CERT KEY [--ts URL] [--nest CERT KEY]
#              [--nest-digest sha1|sha256]
#
# Authenticode-signs a Windows program the way a release is signed: the
# NetInstaller program before its payload is stamped, and every package
# (build_package.sh signs through this script).
#
#   --sign CERT KEY  the signature, SHA-256. CERT may hold the whole chain
#                    (leaf first). The program checks the name of this
#                    first signer: "Vulmo Software ASA".
#   --ts URL         an RFC 3161 time-stamp authority: each signature gets a
#                    countersigned time stamp, so it stays valid after the
#                    signing certificate has expired.
#   --nest CERT KEY  a second signature nested inside the first, SHA-1 by
#                    default, as releases add for older verifiers;
#                    time-stamped too when --ts is given. The program checks
#                    only the first signature.
#   --nest-digest D  the nested signature's digest, sha1 (default) or sha256.
#
# Uses only what osslsigncode 2.5 (Debian 12) offers: -ts and -nest; the
# time-stamp authority is always a URL. OUT may not be IN.
set -euo pipefail

usage() {
  echo "usage: $0 IN.exe OUT.exe --sign CERT KEY [--ts URL] [--nest CERT KEY]" \
       "[--nest-digest sha1|sha256]" >&2
  exit 2
}
die() { echo "sign_file.sh: $*" >&2; exit 1; }

[[ $# -ge 2 ]] || usage
in=$1 out=$2
shift 2
cert="" key="" ts_url="" nest_cert="" nest_key="" nest_digest=sha1
while [[ $# -gt 0 ]]; do
  case $1 in
    --sign) [[ $# -ge 3 ]] || usage; cert=$2 key=$3; shift 3 ;;
    --ts) [[ $# -ge 2 && $2 =~ ^https?:// ]] || usage; ts_url=$2; shift 2 ;;
    --nest) [[ $# -ge 3 ]] || usage; nest_cert=$2 nest_key=$3; shift 3 ;;
    --nest-digest)
      [[ $# -ge 2 && $2 =~ ^(sha1|sha256)$ ]] || usage; nest_digest=$2; shift 2 ;;
    *) usage ;;
  esac
done
[[ -n $cert ]] || usage
command -v osslsigncode >/dev/null || die "osslsigncode not found"
[[ -f $in ]] || die "no such file: $in"
[[ $(realpath -m -- "$in") != $(realpath -m -- "$out") ]] || die "OUT must differ from IN"
for file in "$cert" "$key" ${nest_cert:+"$nest_cert" "$nest_key"}; do
  [[ -f $file ]] || die "certificate or key missing: $file"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ts=()
[[ -z $ts_url ]] || ts=(-ts "$ts_url")

# osslsigncode prints its progress on stdout; keep it for a failure only.
run_osslsigncode() {
  if ! osslsigncode "$@" >"$work/output.txt" 2>&1; then
    cat "$work/output.txt" >&2
    die "osslsigncode ${1} failed"
  fi
}

run_osslsigncode sign -certs "$cert" -key "$key" -h sha256 "${ts[@]}" \
  -in "$in" -out "$work/signed.exe"
if [[ -n $nest_cert ]]; then
  run_osslsigncode sign -nest -certs "$nest_cert" -key "$nest_key" -h "$nest_digest" \
    "${ts[@]}" -in "$work/signed.exe" -out "$work/nested.exe"
  mv -f "$work/nested.exe" "$work/signed.exe"
fi
mkdir -p "$(dirname "$out")"
mv -f "$work/signed.exe" "$out"
