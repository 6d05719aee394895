#!/usr/bin/env bash
# payload_stamper_cli_test.sh FIXTURES_DIR
# The stamper as a maker runs it on the build machine: stamp from text and
# from a file, read back, re-stamp, and the refusals with their exit codes.
set -uo pipefail
fixtures=${1:?usage: payload_stamper_cli_test.sh FIXTURES_DIR}
stamper=$fixtures/bin/payload_stamper
signed=$fixtures/signed/signed_vulmo.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    echo "FAIL: $1: expected [$2], got [$3]" >&2
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

"$stamper" stamp "$signed" "text payload" "$work/a.exe"
check "stamp from text" 0 $?
check "read prints the padded payload" "text payload     " "$("$stamper" read "$work/a.exe")"
check "osslsigncode accepts the stamped file" 0 \
  "$(osslsigncode verify -CAfile "$fixtures/pki/ca.crt" -in "$work/a.exe" >/dev/null 2>&1; echo $?)"

printf 'from a file' > "$work/payload.txt"
"$stamper" stamp "$work/a.exe" "$work/payload.txt" "$work/a.exe"
check "re-stamp in place from a file" 0 $?
check "the old block is replaced" "from a file      " "$("$stamper" read "$work/a.exe")"
check "size: signed file plus one 24-byte block" $(( $(stat -c %s "$signed") + 24 )) \
  "$(stat -c %s "$work/a.exe")"

"$stamper" stamp "$fixtures/signed/unsigned.exe" "x" "$work/b.exe" 2>/dev/null
check "unsigned file refused" 1 $?
printf 'a\0b' > "$work/zero.txt"
"$stamper" stamp "$signed" "$work/zero.txt" "$work/c.exe" 2>/dev/null
check "payload with a zero byte refused" 1 $?
check "nothing written when refused" "no" "$([[ -e $work/b.exe || -e $work/c.exe ]] && echo yes || echo no)"
"$stamper" read "$fixtures/signed/signed_vulmo.exe" >/dev/null 2>&1
check "read of an unstamped file fails" 1 $?
"$stamper" stamp "$signed" 2>/dev/null
check "usage error" 2 $?

exit $(( failures > 0 ))
