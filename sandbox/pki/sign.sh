#!/bin/sh
# Signs a PE file or cabinet with a test PKI signer.
#   sign.sh <pki-folder> <signer> <none|rfc3161|legacy> <input> [<output>]
# <signer> names a leaf of make-pki.sh (leaf-accepted, leaf-other, ...), or is a
# path prefix of another leaf (<prefix>-chain.pem and <prefix>.key). Without
# <output> the input is signed in place. "legacy" asks a local responder for an
# Authenticode counter-signature; "rfc3161" adds an RFC 3161 time stamp offline,
# made by the test TSA or by the one in UM_SIGN_TSA (a path prefix: <prefix>-chain.pem
# and <prefix>.key).
set -eu
pki="$1"; signer="$2"; ts="$3"; in="$4"; out="${5:-$4}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/um-sign.XXXXXX")"
responder=""
cleanup() {
    [ -n "$responder" ] && kill "$responder" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

case "$signer" in
*/*) leaf="$signer" ;;
*) leaf="$pki/$signer" ;;
esac
tsa="${UM_SIGN_TSA:-$pki/tsa}"
set -- -certs "$leaf-chain.pem" -key "$leaf.key" -h sha256
case "$ts" in
none) ;;
rfc3161) set -- "$@" -TSA-certs "$tsa-chain.pem" -TSA-key "$tsa.key" ;;
legacy)
    perl "$here/ts-responder.pl" "$pki" "$work/port" &
    responder=$!
    i=0
    while [ ! -s "$work/port" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    [ -s "$work/port" ] || { echo "sign.sh: time-stamp responder did not start" >&2; exit 1; }
    set -- "$@" -t "http://127.0.0.1:$(cat "$work/port")/"
    ;;
*) echo "sign.sh: unknown time-stamp kind $ts" >&2; exit 2 ;;
esac

# osslsigncode never overwrites its output.
osslsigncode sign "$@" -in "$in" -out "$work/signed" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
mv -f "$work/signed" "$out"
