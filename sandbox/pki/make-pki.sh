#!/bin/sh
# Creates the test PKI once per build folder: roots, a code-signing CA, signer
# leaves, a catalog signer and a time-stamping authority. Test-only keys, never
# shipped. Usage: make-pki.sh <output-folder>
set -eu
out="$1"
[ -f "$out/.complete" ] && exit 0
mkdir -p "$out"
cd "$out"
rm -f ./*.pem ./*.key ./*.cnf

cat > ext.cnf <<'CNF'
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF

newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null; }

# root <name> <subject>
root() {
    newkey "$1"
    openssl req -new -x509 -key "$1.key" -subj "$2" -days 7300 -sha256 \
        -set_serial "$3" -extensions root -config ext.cnf -out "$1.pem" 2>/dev/null
}
# issue <name> <subject> <issuer> <extension section> <serial>
issue() {
    newkey "$1"
    openssl req -new -key "$1.key" -subj "$2" -out "$1.csr" 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "$5" \
        -days 3650 -sha256 -extfile ext.cnf -extensions "$4" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr"
}

# The trusted, pinned root and its code-signing CA.
root root "/O=Ferrule Test PKI/CN=Ferrule Test Root CA" 0x01
issue inter "/O=Ferrule Test PKI/CN=Ferrule Test Code Signing CA" root ca 0x02
issue leaf-accepted "/O=Orvik Corporation/CN=Orvik Corporation" inter codesign 0x5A17E1F00001
issue leaf-denied "/O=Corvane, Inc./CN=Corvane, Inc." inter codesign 0x0DE41ED5E41A
issue leaf-other "/O=Mallory Software Ltd/CN=Mallory Software Ltd" inter codesign 0x3A11040F0003
issue catalog-signer "/O=Corvane, Inc./CN=Corvane Trust Catalog Signer" inter codesign 0x0CA7A1060001
issue tsa "/O=Ferrule Test PKI/CN=Ferrule Test Time-Stamping Authority" root tsa 0x75A00001
# A pinned root that is not in any trust store.
root untrusted-root "/O=Ferrule Test PKI/CN=Ferrule Untrusted Root" 0x10
issue leaf-untrusted "/O=Orvik Corporation/CN=Orvik Corporation" untrusted-root codesign 0x5A17E1F00010
# A root in the machine store that is not pinned.
root unpinned-root "/O=Ferrule Test PKI/CN=Ferrule Unpinned Root" 0x20
issue leaf-unpinned "/O=Orvik Corporation/CN=Orvik Corporation" unpinned-root codesign 0x5A17E1F00020
# Stands for the maker's other pinned roots; issues nothing.
root spare-root "/O=Ferrule Test PKI/CN=Ferrule Spare Root A" 0x30
root spare-root-2 "/O=Ferrule Test PKI/CN=Ferrule Spare Root B" 0x31

# Signing bundles: leaf first, then its CA.
for l in leaf-accepted leaf-denied leaf-other catalog-signer; do cat "$l.pem" inter.pem > "$l-chain.pem"; done
# The untrusted root travels with the signature, as an attacker would send it.
cat leaf-untrusted.pem untrusted-root.pem > leaf-untrusted-chain.pem
cp leaf-unpinned.pem leaf-unpinned-chain.pem
cat tsa.pem root.pem > tsa-chain.pem

thumb() { openssl x509 -in "$1.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }
{
    echo "root $(thumb root)"
    echo "root $(thumb untrusted-root)"
    echo "root $(thumb spare-root)"
    echo "root $(thumb spare-root-2)"
    echo "catalog-signer $(thumb catalog-signer)"
} > anchors.txt
openssl x509 -in root.pem -outform DER -out root.cer
openssl x509 -in unpinned-root.pem -outform DER -out unpinned-root.cer
touch .complete
