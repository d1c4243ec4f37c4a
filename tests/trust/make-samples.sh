#!/bin/sh
# Makes the signed, unsigned and damaged files the trust tests use.
#   make-samples.sh <pki> <sample.dll> <unsigned ilexval.dll> <scripts folder> <output folder>
set -eu
pki="$1"; sample="$2"; ilexval="$3"; scripts="$4"; out="$5"
sign="sh $scripts/sign.sh $pki"
signScript="sh $scripts/sign-script.sh $pki"
rm -rf "$out.new"
mkdir -p "$out.new"
cd "$out.new"

# Libraries.
cp "$sample" unsigned.dll
$sign leaf-accepted rfc3161 unsigned.dll signed-rfc3161.dll
$sign leaf-accepted legacy unsigned.dll signed-legacy.dll
$sign leaf-accepted none unsigned.dll signed-nots.dll
$sign leaf-other rfc3161 unsigned.dll other-signer.dll
$sign leaf-denied rfc3161 unsigned.dll denied-serial.dll
$sign leaf-untrusted rfc3161 unsigned.dll untrusted-root.dll
$sign leaf-unpinned rfc3161 unsigned.dll unpinned-root.dll
cp signed-rfc3161.dll tampered.dll
# One byte of code changed after signing (0x400 is the start of .text).
printf '\314' | dd of=tampered.dll bs=1 seek=1040 conv=notrunc 2>/dev/null
# A leaf that expires seconds after it signs: valid when the samples are
# signed, expired when the tests run. Its time stamps come from the trusted
# test TSA and from a self-signed one nobody trusts.
cat > quick-ca.cnf <<'CNF'
[ca]
default_ca = quick
[quick]
database = quick-index.txt
new_certs_dir = .
serial = quick-serial.txt
default_md = sha256
policy = anything
unique_subject = no
[anything]
organizationName = supplied
commonName = supplied
CNF
openssl req -x509 -newkey rsa:2048 -nodes -keyout rogue-tsa.key -days 3650 \
    -subj "/O=Rogue Time Services/CN=Rogue Time-Stamping Authority" \
    -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=critical,timeStamping" -out rogue-tsa.pem 2>/dev/null
cp rogue-tsa.pem rogue-tsa-chain.pem
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out leaf-expiring.key 2>/dev/null
openssl req -new -key leaf-expiring.key -subj "/O=Orvik Corporation/CN=Orvik Corporation" \
    -out leaf-expiring.csr 2>/dev/null
window=8
for attempt in 1 2 3; do
    : > quick-index.txt
    echo 5A17E1F0E001 > quick-serial.txt
    start=$(date -u +%s)
    end=$((start + window))
    openssl ca -batch -config quick-ca.cnf -cert "$pki/inter.pem" -keyfile "$pki/inter.key" \
        -in leaf-expiring.csr -out leaf-expiring.pem -notext \
        -startdate "$(date -u -d "@$start" +%y%m%d%H%M%SZ)" -enddate "$(date -u -d "@$end" +%y%m%d%H%M%SZ)" \
        -extfile "$pki/ext.cnf" -extensions codesign 2>/dev/null
    cat leaf-expiring.pem "$pki/inter.pem" > leaf-expiring-chain.pem
    $sign "$PWD/leaf-expiring" rfc3161 unsigned.dll expired-trusted-ts.dll
    UM_SIGN_TSA="$PWD/rogue-tsa" $sign "$PWD/leaf-expiring" rfc3161 unsigned.dll expired-rogue-ts.dll
    [ "$(date -u +%s)" -lt "$end" ] && break
    window=$((window * 2))
done
[ "$(date -u +%s)" -lt "$end" ] || { echo "make-samples.sh: signing outlasted the leaf" >&2; exit 1; }
sleep $((end + 1 - $(date -u +%s)))
rm -f quick-* leaf-expiring.csr ./*.pem.old 5A17E1F0E001.pem

# Files the scripted validation service answers for by name.
for verdict in bit0 bit3 novalid; do cp unsigned.dll "ilexval-$verdict-unsigned.dll"; done
mkdir -p ilexval-other-signer
$sign leaf-other rfc3161 "$ilexval" ilexval-other-signer/ilexval.dll

# Catalogs.
root=$(sed -n 's/^root //p' "$pki/anchors.txt" | head -n 1)
catalog() { # catalog <name> <signer> <content>
    printf '%b' "$3" > "$1.txt"
    $signScript "$2" "$1.txt" "$1.js"
    rm -f "$1.txt"
}
crlf='\r\n'
head="/* Corvane trust catalog */${crlf}// test build${crlf}"
orgs="[ORG]${crlf}Orvik Corporation${crlf}Corvane, Inc.${crlf}"
sha="[SHA]${crlf}${root}${crlf}"
catalog cat-v5-other catalog-signer "${head}[VER]${crlf}5${crlf}[ORG]${crlf}Mallory Software Ltd${crlf}${sha}"
catalog cat-v6 catalog-signer "${head}[VER]${crlf}6${crlf}${orgs}${sha}"
catalog cat-v6-denied catalog-signer "${head}[VER]${crlf}6${crlf}${orgs}${sha}[SER]${crlf}0DE41ED5E41A${crlf}"
catalog cat-v7-other catalog-signer "${head}[VER]${crlf}7${crlf}${orgs}  Mallory Software Ltd${crlf}${sha}"
catalog cat-v8 catalog-signer "${head}[VER]${crlf}8${crlf}${orgs}${sha}"
catalog cat-v9 catalog-signer "${head}[VER]${crlf}9${crlf}${orgs}${sha}"
catalog cat-v10 catalog-signer "${head}[VER]${crlf}10${crlf}${orgs}${sha}"
catalog cat-two-versions catalog-signer "[VER]${crlf}7${crlf}8${crlf}${orgs}${sha}"
catalog cat-blank-section catalog-signer "[VER]${crlf}7${crlf}${orgs}[ ]${crlf}x${crlf}${sha}"
catalog cat-wrong-signer leaf-accepted "[VER]${crlf}9${crlf}${orgs}${sha}"
cp cat-v6.js cat-tampered.js
sed -i 's/Corvane, Inc\./Mallory, Inc./' cat-tampered.js
printf '%b' "[VER]${crlf}9${crlf}${orgs}${sha}" > cat-unsigned.js
# Several megabytes of comment lines, and one absurdly long line.
{
    printf '[VER]\r\n9\r\n'
    i=0
    while [ $i -lt 5000 ]; do
        printf '// %01024d\r\n' 0
        i=$((i + 1))
    done
} > cat-big.txt
$signScript catalog-signer cat-big.txt cat-big.js
rm -f cat-big.txt
{
    printf '[VER]\r\n9\r\n[ORG]\r\n'
    printf '%0200000d\r\n' 0
} > cat-long-line.txt
$signScript catalog-signer cat-long-line.txt cat-long-line.js
rm -f cat-long-line.txt

# Cabinets.
mkdir cab-other && cp cat-v7-other.js cab-other/trusted.js && echo "update payload" > cab-other/readme.txt
(cd cab-other && gcab -c ../other-with-catalog-unsigned.cab readme.txt trusted.js)
$sign leaf-other none other-with-catalog-unsigned.cab other-with-catalog.cab
mkdir cab-plain && echo "update payload" > cab-plain/readme.txt
(cd cab-plain && gcab -c ../plain-unsigned.cab readme.txt)
$sign leaf-other none plain-unsigned.cab other-no-catalog.cab
$sign leaf-accepted none plain-unsigned.cab accepted.cab
mkdir cab-wrong && cp cat-wrong-signer.js cab-wrong/TRUSTED.JS
(cd cab-wrong && gcab -c ../wrong-catalog-unsigned.cab TRUSTED.JS)
$sign leaf-other none wrong-catalog-unsigned.cab other-wrong-catalog.cab
# Member names that try to leave the extraction folder, patched in after
# gcab (which would not take them): "..\", "C:\", "../" and "\".
mkdir cab-escape && cd cab-escape
echo "catalog" > trusted.js
for name in '..\evil-up.txt' 'Q__evil-drive.txt' '..Xevil-slash.txt' 'Rroot-evil.txt' 'sub\trusted.js' 'Y__trusted.js'; do
    echo "escaped" > "$name"
done
gcab -c ../escape.cab '..\evil-up.txt' Q__evil-drive.txt ..Xevil-slash.txt Rroot-evil.txt 'sub\trusted.js' Y__trusted.js trusted.js
cd ..
perl -pi -e 's/Q__evil-drive/C:\\evil-drive/; s/\.\.Xevil-slash/..\/evil-slash/; s/Rroot-evil/\\root-evil/; s/Y__trusted\.js/..\\trusted.js/' escape.cab
# A catalog member far bigger than any catalog (compresses to almost nothing).
mkdir cab-bomb && head -c 12000000 /dev/zero > cab-bomb/trusted.js
(cd cab-bomb && gcab -c -z ../bomb.cab trusted.js)
rm -rf cab-other cab-plain cab-wrong cab-escape cab-bomb

cd ..
rm -rf "$out"
mv "$out.new" "$out"
