#!/usr/bin/env bash
# Signs Windows programs in place with osslsigncode (Authenticode, SHA-256): called by the windows-zip
# target for the programs and by makensis for the installer and its uninstaller, when a certificate is
# given in the environment:
#   TESSOR_SIGN_PKCS12          the PKCS#12 file with the code-signing certificate and its key
#   TESSOR_SIGN_PASSWORD        its password (optional; handed to osslsigncode in a private file, not on
#                               its command line)
#   TESSOR_SIGN_TIMESTAMP_URL   an RFC 3161 timestamp server (optional; without a timestamp the signature
#                               counts only while the certificate is valid)
set -euo pipefail
if [ -z "${TESSOR_SIGN_PKCS12:-}" ]; then
    echo "windows-sign: TESSOR_SIGN_PKCS12 is not set; nothing to sign with" >&2
    exit 2
fi
if [ ! -r "$TESSOR_SIGN_PKCS12" ]; then
    echo "windows-sign: cannot read the certificate $TESSOR_SIGN_PKCS12 (TESSOR_SIGN_PKCS12)" >&2
    exit 1
fi
command -v osslsigncode > /dev/null || {
    echo "windows-sign: osslsigncode is missing; run scripts/setup-deps.sh --windows" >&2
    exit 1
}
[ $# -gt 0 ] || { echo "usage: windows-sign.sh FILE.exe..." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
options=(sign -pkcs12 "$TESSOR_SIGN_PKCS12" -h sha256 -n "Tessor Console Configurator")
if [ -n "${TESSOR_SIGN_PASSWORD:-}" ]; then
    printf '%s' "$TESSOR_SIGN_PASSWORD" > "$work/password"
    options+=(-readpass "$work/password")
fi
[ -z "${TESSOR_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$TESSOR_SIGN_TIMESTAMP_URL")
for file in "$@"; do
    rm -f "$work/signed.exe" # osslsigncode writes no file that is there already
    if ! osslsigncode "${options[@]}" -in "$file" -out "$work/signed.exe" > "$work/log" 2>&1; then
        cat "$work/log" >&2
        echo "windows-sign: could not sign $file with $TESSOR_SIGN_PKCS12" >&2
        exit 1
    fi
    # Over the file's own bytes, so that it keeps its name, owner and mode.
    cat "$work/signed.exe" > "$file"
done
