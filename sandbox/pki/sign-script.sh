#!/bin/sh
# Signs a text file (a trust catalog) the way script files are signed: the
# content, then a block of "// SIG // " comment lines carrying the base64 of an
# Authenticode PKCS #7 signature over the UTF-16 form of the content.
#   sign-script.sh <pki-folder> <signer> <input> <output>
# osslsigncode computes that digest for PowerShell scripts; the signature it
# makes for a copy named .ps1 is moved into the script block form.
set -eu
pki="$1"; signer="$2"; in="$3"; out="$4"
work="$(mktemp -d "${TMPDIR:-/tmp}/um-sign-script.XXXXXX")"
trap 'rm -rf "$work"' EXIT INT TERM

cp "$in" "$work/content.ps1"
osslsigncode sign -certs "$pki/$signer-chain.pem" -key "$pki/$signer.key" -h sha256 \
    -in "$work/content.ps1" -out "$work/signed.ps1" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
osslsigncode extract-signature -in "$work/signed.ps1" -out "$work/signature.der" >"$work/log" 2>&1 \
    || { cat "$work/log" >&2; exit 1; }
openssl base64 -A -in "$work/signature.der" -out "$work/signature.b64"
{
    cat "$in"
    printf '\r\n// SIG // Begin signature block'
    fold -w 64 "$work/signature.b64" | while IFS= read -r line || [ -n "$line" ]; do
        printf '\r\n// SIG // %s' "$line"
    done
    printf '\r\n// SIG // End signature block\r\n'
} > "$work/out.js"
mv -f "$work/out.js" "$out"
