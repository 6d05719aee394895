#!/usr/bin/env bash
# make_test_pki.sh OUTDIR
#
# Creates a throwaway code-signing PKI for tests, fresh on every call (no key
# is ever committed; an OUTDIR inside the repository must be git-ignored):
#
#   ca.crt, ca.key                    test root CA "Vulmo Test Code Signing CA"
#   <name>.crt, <name>.key            code-signing leaf (EKU codeSigning) issued
#   <name>-chain.pem                  by the CA; chain = leaf then CA, for
#                                     osslsigncode sign -certs
#     vulmo           CN = O = "Vulmo Software ASA"   (the maker)
#     lowercase       CN = O = "vulmo software asa"
#     trailing_space  CN = O = "Vulmo Software ASA "  (one trailing space)
#     other           CN = O = "Other Company AS"
#   untrusted_ca.crt, untrusted_ca.key   a second root that is never trusted
#   untrusted_vulmo.crt/.key/-chain.pem  "Vulmo Software ASA" issued by it
#
# Sign with:  osslsigncode sign -certs OUTDIR/vulmo-chain.pem \
#               -key OUTDIR/vulmo.key -h sha256 -in a.exe -out b.exe
# Trust the CA in a Wine prefix with tools/pki/trust_root.exe OUTDIR/ca.crt.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/key_folder.sh"
out=$(key_folder make_test_pki.sh "$1")
work=$(mktemp -d "$out/.make-pki.XXXXXX")
trap 'rm -rf "$work"' EXIT

new_key() {
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null
}

# new_ca NAME "SUBJECT"
new_ca() {
  new_key "$work/$1.key"
  openssl req -x509 -new -key "$work/$1.key" -sha256 -days 3650 -subj "$2" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" \
    -out "$work/$1.crt" 2>/dev/null
}

# new_leaf NAME CA "COMMON NAME" (kept byte for byte, spaces included)
new_leaf() {
  local name=$1 ca=$2 cn=$3
  new_key "$work/$name.key"
  openssl req -new -key "$work/$name.key" -subj "/O=$cn/CN=$cn" \
    -out "$work/$name.csr" 2>/dev/null
  cat > "$work/$name.ext" <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
  openssl x509 -req -in "$work/$name.csr" -CA "$work/$ca.crt" \
    -CAkey "$work/$ca.key" -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -sha256 -extfile "$work/$name.ext" -out "$work/$name.crt" 2>/dev/null
  cat "$work/$name.crt" "$work/$ca.crt" > "$work/$name-chain.pem"
  rm -f "$work/$name.csr" "$work/$name.ext"
}

new_ca ca "/O=Vulmo Test/CN=Vulmo Test Code Signing CA"
new_leaf vulmo ca "Vulmo Software ASA"
new_leaf lowercase ca "vulmo software asa"
new_leaf trailing_space ca "Vulmo Software ASA "
new_leaf other ca "Other Company AS"
new_ca untrusted_ca "/O=Vulmo Test/CN=Vulmo Untrusted Test CA"
new_leaf untrusted_vulmo untrusted_ca "Vulmo Software ASA"

# The trailing space must survive: it is what the case is about.
if ! openssl x509 -in "$work/trailing_space.crt" -noout -subject \
     -nameopt RFC2253,esc_2253 | grep -q 'CN=Vulmo Software ASA\\ ,'; then
  echo "make_test_pki.sh: trailing space lost in the subject" >&2
  exit 1
fi
for leaf in vulmo lowercase trailing_space other; do
  openssl verify -CAfile "$work/ca.crt" "$work/$leaf.crt" >/dev/null
  openssl x509 -in "$work/$leaf.crt" -noout -ext extendedKeyUsage | grep -q "Code Signing"
done

chmod 600 "$work"/*.key
mv -f "$work"/*.crt "$work"/*.key "$work"/*.pem "$out"/
echo "make_test_pki.sh: test PKI written to $out"
