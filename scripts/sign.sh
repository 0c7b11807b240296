#!/bin/bash
# Signs Windows files in place (modreg.exe, an installer's setup.exe or
# .msi) with Authenticode through osslsigncode: SHA-256 and an RFC 3161
# timestamp, so that the signature outlives the certificate.
#   MODREG_SIGN_PKCS12         the PKCS#12 file: key, certificate and chain
#   MODREG_SIGN_PASSWORD_FILE  a file holding its password (none: no password)
#   MODREG_SIGN_TIMESTAMP_URL  the RFC 3161 timestamp server
# usage: bash scripts/sign.sh FILE...
set -euo pipefail

fail() { echo "sign: $*" >&2; exit 2; }
[ $# -gt 0 ] || fail "usage: scripts/sign.sh FILE..."
[ -n "${MODREG_SIGN_PKCS12:-}" ] || fail "MODREG_SIGN_PKCS12 is not set"
[ -n "${MODREG_SIGN_TIMESTAMP_URL:-}" ] ||
  fail "MODREG_SIGN_TIMESTAMP_URL is not set: a signature needs a timestamp"

args=(-pkcs12 "$MODREG_SIGN_PKCS12" -h sha256 -ts "$MODREG_SIGN_TIMESTAMP_URL")
if [ -n "${MODREG_SIGN_PASSWORD_FILE:-}" ]; then
  args+=(-readpass "$MODREG_SIGN_PASSWORD_FILE")
fi
for file; do
  rm -f "$file.signed"
  if ! said=$(osslsigncode sign "${args[@]}" -in "$file" -out "$file.signed" 2>&1); then
    rm -f "$file.signed"
    printf '%s\n' "$said" >&2
    fail "cannot sign $file (osslsigncode's message above)"
  fi
  chmod --reference="$file" "$file.signed"
  mv "$file.signed" "$file"
done
