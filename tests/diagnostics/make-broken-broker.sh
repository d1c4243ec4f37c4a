#!/bin/sh
# The bus library of a broken installation: the sandbox broker signed by a
# code-signing leaf that has expired, with no time stamp to vouch for the
# time it signed.
#   make-broken-broker.sh <pki scripts> <pki> <trust samples> <unsigned BusBroker.dll> <output>
set -eu
scripts="$1"; pki="$2"; samples="$3"; in="$4"; out="$5"
mkdir -p "$(dirname "$out")"
rm -f "$out"
sh "$scripts/sign.sh" "$pki" "$samples/leaf-expiring" none "$in" "$out"
