#!/usr/bin/env bash
# make_fixtures.sh OUTDIR SFX_STUB_EXE [TRUST_ROOT_EXE WINE_RUN]
#
# Builds, fresh on every call, the files the verification tests read:
#   pki/                      test code-signing PKI (tools/pki/make_test_pki.sh)
#   signed/*.exe              the stub program unsigned, signed by each test
#                             subject, tampered after signing, double-signed,
#                             stamped with a payload, packaged
#   archives/*.7z             7z archives made by 7zz, some edited afterwards
#   bin/payload_stamper       the stamper built for this machine
# With TRUST_ROOT_EXE and WINE_RUN, the test CA is trusted in the Wine prefix
# (as a Windows test machine would be set up).
set -euo pipefail

if [[ $# -ne 2 && $# -ne 4 ]]; then
  echo "usage: $0 OUTDIR SFX_STUB_EXE [TRUST_ROOT_EXE WINE_RUN]" >&2
  exit 2
fi
out=$(realpath -m -- "$1")
stub=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../../.." && pwd)
patch7z="$here/patch_7z.py"

rm -rf "$out"
mkdir -p "$out"/{signed,archives,trees,bin}
export TZ=UTC

"$repo/tools/pki/make_test_pki.sh" "$out/pki" >/dev/null
pki=$out/pki
if [[ $# -eq 4 ]]; then
  "$4" "$3" "Z:$pki/ca.crt" || { echo "make_fixtures.sh: trust_root failed" >&2; exit 1; }
fi

# --- Signed programs -------------------------------------------------------
signed=$out/signed
cp "$stub" "$signed/unsigned.exe"
sign() {  # sign SUBJECT IN OUT [extra osslsigncode options]
  local subject=$1 in=$2 target=$3
  shift 3
  osslsigncode sign "$@" -certs "$pki/$subject-chain.pem" -key "$pki/$subject.key" \
    -h sha256 -in "$in" -out "$target" >/dev/null
}
for subject in vulmo lowercase trailing_space other untrusted_vulmo; do
  sign "$subject" "$stub" "$signed/signed_$subject.exe"
done
# Primary signer first, a second signature nested inside it.
sign other "$signed/signed_vulmo.exe" "$signed/nested_vulmo_first.exe" -nest
sign vulmo "$signed/signed_other.exe" "$signed/nested_other_first.exe" -nest

# One byte of code changed after signing.
python3 - "$signed/signed_vulmo.exe" "$signed/tampered.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
optional_size = struct.unpack_from("<H", data, pe + 20)[0]
first_section = pe + 24 + optional_size
raw_pointer = struct.unpack_from("<I", data, first_section + 20)[0]
data[raw_pointer + 64] ^= 0xFF
open(sys.argv[2], "wb").write(data)
PY

"$repo/tools/payload_stamper/build_native.sh" "$out/bin/payload_stamper"
"$out/bin/payload_stamper" stamp "$signed/signed_vulmo.exe" "fixture payload" \
  "$signed/stamped.exe"

# --- Archives --------------------------------------------------------------
trees=$out/trees
archives=$out/archives
seven() { 7zz a -t7z -bd -bso0 -bsp0 "$@"; }

nested=$trees/nested
mkdir -p "$nested/a/b" "$nested/a/d"
printf 'top level\n' > "$nested/top.txt"
: > "$nested/empty.txt"
printf 'deep file\n' > "$nested/a/b/c.txt"
printf 'unicode name\n' > "$nested/ünïcødé_名前.txt"
# Larger than the look buffer and not compressible to nothing.
python3 -c "
import random, sys
random.seed(7)
sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(300000)))
" > "$nested/big.bin"
touch -d '2001-02-03 04:05:06' "$nested/empty.txt"
touch -d '2010-06-07 08:09:10' "$nested/a/b/c.txt"
(cd "$nested" && seven "$archives/nested.7z" .)

seven "$archives/empty.7z" -x'!*' "$nested"
# Longer than the 32-byte start header, so the signature check decides.
for i in 1 2 3 4; do printf 'This is not a 7z archive.\n'; done > "$archives/not_archive.7z"
size=$(stat -c %s "$archives/nested.7z")
head -c $((size / 2)) "$archives/nested.7z" > "$archives/truncated.7z"
head -c 20 "$archives/nested.7z" > "$archives/short.7z"

crc=$trees/crc
mkdir -p "$crc"
printf 'first item\n' > "$crc/a_first.txt"
printf 'second item\n' > "$crc/b_second.txt"
printf 'third item, to be damaged\n' > "$crc/c_damaged.txt"
(cd "$crc" && seven -mx0 -ms=on -mhc=off "$trees/crc.7z" a_first.txt b_second.txt c_damaged.txt)
python3 "$patch7z" damage "$trees/crc.7z" "$archives/crc_error.7z" "to be damaged" "to be DAMAGED"

# One archive per method and filter 7-Zip offers. The SDK's decoder handles
# the first group; the second (Deflate, BZip2, AES) it does not.
methods=$trees/methods
mkdir -p "$methods/bin"
cp "$stub" "$methods/bin/program.exe"
seq 1 30000 > "$methods/numbers.txt"
head -c 200000 "$nested/big.bin" > "$methods/random.bin"
method() {  # method NAME 7ZZ_SWITCHES...
  local name=$1
  shift
  (cd "$methods" && seven "$@" "$archives/method_$name.7z" .)
}
method lzma -m0=LZMA -mf=off
method lzma2 -m0=LZMA2 -mf=off
method ppmd -m0=PPMd -mf=off
method bcj -m0=LZMA2 -mf=BCJ
method bcj2 -mf=BCJ2
method arm64 -m0=LZMA2 -mf=ARM64
method delta -m0=LZMA2 -mf=Delta:4
method deflate -m0=Deflate -mf=off
method bzip2 -m0=BZip2 -mf=off
method aes -m0=LZMA2 -mf=off -psecret

# Names that lead out of the output directory. 7zz does not store them, so
# each is stored under a placeholder of the same length, then renamed.
unsafe() {  # unsafe CASE NAME
  local case=$1 name=$2 dir=$trees/unsafe_$1
  local placeholder
  placeholder=$(printf '%s' "$name" | tr './\\:$' 'QQQQQ')
  mkdir -p "$dir"
  printf 'harmless\n' > "$dir/first.txt"
  printf 'must not be written\n' > "$dir/$placeholder"
  (cd "$dir" && seven -mhc=off "$trees/unsafe_$case.7z" first.txt "$placeholder")
  python3 "$patch7z" names "$trees/unsafe_$case.7z" "$archives/unsafe_$case.7z" \
    "$placeholder" "$name"
}
unsafe parent_slash '../escape_parent_slash.txt'
unsafe parent_backslash '..\escape_parent_backslash.txt'
unsafe parent_nested 'a/../../escape_parent_nested.txt'
unsafe rooted_slash '/escape_rooted_slash.txt'
unsafe rooted_backslash '\escape_rooted_backslash.txt'
unsafe drive_relative 'C:escape_drive_relative.txt'
unsafe drive_absolute 'C:\escape_drive_absolute.txt'
unsafe unc '\\localhost\c$\escape_unc.txt'
unsafe dots_only 'a/.../escape_dots_only.txt'
# Devices in place of files, and characters file names cannot hold.
unsafe device_nul 'nul.txt'
unsafe device_com 'a/COM1'
unsafe device_con 'con .log'
unsafe reserved_question 'a?b.txt'
unsafe reserved_pipe 'x/a|b.txt'
unsafe reserved_control "$(printf 'tab\tname.txt')"

# Unusual names that stay inside the output directory.
safe=$trees/safe
mkdir -p "$safe/a..b" "$safe/x/Q"
printf 'one\n' > "$safe/a..b/c..txt"
printf 'two\n' > "$safe/.hidden"
printf 'three\n' > "$safe/x/Q/y.txt"
(cd "$safe" && seven -mhc=off "$trees/safe.7z" a..b/c..txt .hidden x/Q/y.txt)
python3 "$patch7z" names "$trees/safe.7z" "$archives/safe_names.7z" "x/Q/y.txt" "x/./y.txt"

# --- A package as a maker builds it ----------------------------------------
"$repo/tools/package_builder/build_package.sh" "$nested" "$signed/package.exe" \
  --sign "$pki/vulmo-chain.pem" "$pki/vulmo.key" --stub "$stub" >/dev/null

echo "make_fixtures.sh: fixtures written to $out"
