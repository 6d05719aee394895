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
#   tsa.crt, tsa.key, tsa-chain.pem      time-stamping certificate (critical
#                                        EKU timeStamping) issued by the CA,
#                                        for a local RFC 3161 authority
#   tsa.cnf                              its "openssl ts -reply" settings
#
# make_test_pki.sh --short-lived SECONDS NAME OUTDIR
#   adds NAME.crt/.key/-chain.pem to an existing OUTDIR: a "Vulmo Software
#   ASA" code-signing leaf of its CA that expires SECONDS from now (to show
#   what a time stamp does for a signature whose certificate has expired).
#
# Sign with:  osslsigncode sign -certs OUTDIR/vulmo-chain.pem \
#               -key OUTDIR/vulmo.key -h sha256 -in a.exe -out b.exe
# Trust the CA in a Wine prefix with tools/pki/trust_root.exe OUTDIR/ca.crt.
set -euo pipefail

usage() {
  echo "usage: $0 OUTDIR" >&2
  echo "       $0 --short-lived SECONDS NAME OUTDIR" >&2
  exit 2
}
short_lived=""
if [[ ${1:-} == --short-lived ]]; then
  [[ $# -eq 4 && $2 =~ ^[0-9]+$ && $3 =~ ^[a-z_]+$ ]] || usage
  short_lived=$2 short_name=$3
  shift 3
fi
[[ $# -eq 1 ]] || usage
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

# leaf_extensions NAME EKU: the extension file of a leaf certificate.
leaf_extensions() {
  cat > "$work/$1.ext" <<EXT
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = $2
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
}

# new_leaf NAME CA "COMMON NAME" [EKU] (the name kept byte for byte, spaces
# included; EKU defaults to codeSigning)
new_leaf() {
  local name=$1 ca=$2 cn=$3
  new_key "$work/$name.key"
  openssl req -new -key "$work/$name.key" -subj "/O=$cn/CN=$cn" \
    -out "$work/$name.csr" 2>/dev/null
  leaf_extensions "$name" "${4:-codeSigning}"
  openssl x509 -req -in "$work/$name.csr" -CA "$work/$ca.crt" \
    -CAkey "$work/$ca.key" -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -sha256 -extfile "$work/$name.ext" -out "$work/$name.crt" 2>/dev/null
  cat "$work/$name.crt" "$work/$ca.crt" > "$work/$name-chain.pem"
  rm -f "$work/$name.csr" "$work/$name.ext"
}

# short_lived_leaf SECONDS NAME: a "Vulmo Software ASA" leaf of OUTDIR's CA,
# valid from an hour ago until SECONDS from now. "openssl x509 -req" counts
# only in days, so this goes through "openssl ca", which takes exact dates.
short_lived_leaf() {
  local seconds=$1 name=$2 cn="Vulmo Software ASA"
  [[ -f $out/ca.crt && -f $out/ca.key ]] || {
    echo "make_test_pki.sh: no test CA in $out (make the PKI first)" >&2
    exit 1
  }
  new_key "$work/$name.key"
  openssl req -new -key "$work/$name.key" -subj "/O=$cn/CN=$cn" \
    -out "$work/$name.csr" 2>/dev/null
  leaf_extensions "$name" codeSigning
  : > "$work/index.txt"
  openssl rand -hex 8 > "$work/serial"
  cat > "$work/ca.cnf" <<CNF
[ ca ]
default_ca = short_lived
[ short_lived ]
database = $work/index.txt
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = any_name
unique_subject = no
[ any_name ]
organizationName = supplied
commonName = supplied
CNF
  openssl ca -batch -notext -preserveDN -config "$work/ca.cnf" \
    -cert "$out/ca.crt" -keyfile "$out/ca.key" \
    -startdate "$(date -u -d '-1 hour' +%Y%m%d%H%M%SZ)" \
    -enddate "$(date -u -d "+$seconds seconds" +%Y%m%d%H%M%SZ)" \
    -extfile "$work/$name.ext" -in "$work/$name.csr" -out "$work/$name.crt" 2>/dev/null
  cat "$work/$name.crt" "$out/ca.crt" > "$work/$name-chain.pem"
  chmod 600 "$work/$name.key"
  mv -f "$work/$name.crt" "$work/$name.key" "$work/$name-chain.pem" "$out"/
  echo "make_test_pki.sh: $out/$name.crt expires in $seconds s"
}

if [[ -n $short_lived ]]; then
  short_lived_leaf "$short_lived" "$short_name"
  exit 0
fi

new_ca ca "/O=Vulmo Test/CN=Vulmo Test Code Signing CA"
new_leaf vulmo ca "Vulmo Software ASA"
new_leaf lowercase ca "vulmo software asa"
new_leaf trailing_space ca "Vulmo Software ASA "
new_leaf other ca "Other Company AS"
new_ca untrusted_ca "/O=Vulmo Test/CN=Vulmo Untrusted Test CA"
new_leaf untrusted_vulmo untrusted_ca "Vulmo Software ASA"
new_leaf tsa ca "Vulmo Test Time-Stamping Authority" "critical, timeStamping"

# What "openssl ts -reply -config tsa.cnf" needs besides the request; the
# paths are relative to the folder the authority runs in (this one).
cat > "$work/tsa.cnf" <<'CNF'
[ tsa ]
default_tsa = vulmo_test_tsa
[ vulmo_test_tsa ]
serial = ./tsa.serial
crypto_device = builtin
signer_cert = ./tsa.crt
certs = ./ca.crt
signer_key = ./tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF

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
openssl x509 -in "$work/tsa.crt" -noout -ext extendedKeyUsage | grep -q "Time Stamping"

chmod 600 "$work"/*.key
mv -f "$work"/*.crt "$work"/*.key "$work"/*.pem "$work"/*.cnf "$out"/
echo "make_test_pki.sh: test PKI written to $out"
