#!/usr/bin/env bash
# make_test_certs.sh OUTDIR
#
# Creates a throwaway test CA and a server certificate signed by it:
#   OUTDIR/ca.crt, OUTDIR/ca.key          CA (basicConstraints critical CA:TRUE,
#                                          keyUsage keyCertSign, cRLSign)
#   OUTDIR/server.crt, OUTDIR/server.key  server (EKU serverAuth; SAN
#                                          localhost, autoupdate.vulmo.com,
#                                          autoupdate.vulmo.io, 127.0.0.1)
# RSA keys: Wine's certificate chain code handles them everywhere.
#
# Idempotent: when all four files exist, the server certificate verifies
# against the CA and stays valid for at least another day, nothing is done.
# Keys belong in a build or temporary folder, never in the repository: an
# OUTDIR inside the work tree that git does not ignore is refused.

set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/key_folder.sh"
out=$(key_folder make_test_certs.sh "$1")

if [[ -f $out/ca.crt && -f $out/ca.key && -f $out/server.crt && -f $out/server.key ]] \
   && openssl verify -CAfile "$out/ca.crt" "$out/server.crt" >/dev/null 2>&1 \
   && openssl x509 -in "$out/server.crt" -noout -checkend 86400 >/dev/null 2>&1; then
  echo "make_test_certs.sh: up to date in $out"
  exit 0
fi

work=$(mktemp -d "$out/.make-certs.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/ca.key" 2>/dev/null
openssl req -x509 -new -key "$work/ca.key" -sha256 -days 3650 \
  -subj "/O=Vulmo Test/CN=Vulmo Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "subjectKeyIdentifier=hash" \
  -out "$work/ca.crt"

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/server.key" 2>/dev/null
openssl req -new -key "$work/server.key" -subj "/O=Vulmo Test/CN=autoupdate.vulmo.com" \
  -out "$work/server.csr"
cat > "$work/server.ext" <<'EOF'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, DNS:autoupdate.vulmo.com, DNS:autoupdate.vulmo.io, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
EOF
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" \
  -set_serial "0x$(openssl rand -hex 12)" -days 825 -sha256 \
  -extfile "$work/server.ext" -out "$work/server.crt" 2>/dev/null

openssl verify -CAfile "$work/ca.crt" "$work/server.crt" >/dev/null
chmod 600 "$work/ca.key" "$work/server.key"
for f in ca.key ca.crt server.key server.crt; do
  mv -f "$work/$f" "$out/$f"
done
echo "make_test_certs.sh: created CA and server certificate in $out"
