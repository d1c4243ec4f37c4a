#include "trust/SigningTime.h"
#include "trust/TimeStampDecoding.h"

#include "win/UniqueHandle.h"

#include <algorithm>

namespace Orvik {
namespace trust {

using detail::DecodedSigner;
using detail::DerCursor;
using detail::DerElement;
using detail::decodeSigner;
using detail::findAttribute;
using detail::kEncoding;
using detail::kTagInteger;
using detail::kTagOctetString;
using detail::kTagSequence;
using detail::kTagSet;
using detail::kTagSignedAttributes;
using detail::openToken;
using detail::readElement;

namespace {

constexpr char kMessageDigestOid[] = "1.2.840.113549.1.9.4";
char kTimeStampingUsage[] = "1.3.6.1.5.5.7.3.8";

// The raw pieces of a DER SignerInfo a signature check needs.
struct SignerInfoParts {
    std::vector<BYTE> signedAttributes;  // re-tagged as the SET OF that was signed
    std::vector<BYTE> signature;
};

bool splitSignerInfo(const BYTE* der, std::size_t size, SignerInfoParts* parts)
{
    DerElement outer, element;
    if (!readElement(der, size, &outer) || outer.tag != kTagSequence)
        return false;
    DerCursor fields(outer);
    // version, signer identifier, digest algorithm
    if (!fields.next(kTagInteger, &element) || !fields.next(&element) || !fields.next(kTagSequence, &element))
        return false;
    if (fields.peekTag() == kTagSignedAttributes) {
        fields.next(&element);
        parts->signedAttributes.assign(element.start, element.start + element.total);
        parts->signedAttributes[0] = kTagSet;
    }
    if (!fields.next(kTagSequence, &element) || !fields.next(kTagOctetString, &element))
        return false;
    parts->signature.assign(element.content, element.content + element.length);
    return true;
}

// Hashing and RSA signature checks with one verification-only provider.
class SignatureVerifier {
public:
    SignatureVerifier()
    {
        ::CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    }

    static ALG_ID hashAlgorithm(const char* oid)
    {
        const ALG_ID algorithm = oid != nullptr ? ::CertOIDToAlgId(oid) : 0;
        return GET_ALG_CLASS(algorithm) == ALG_CLASS_HASH ? algorithm : 0;
    }

    bool digest(ALG_ID algorithm, const BYTE* data, std::size_t size, std::vector<BYTE>* out) const
    {
        win::UniqueCryptHash hash;
        if (!provider_ || algorithm == 0 || !::CryptCreateHash(provider_.get(), algorithm, 0, 0, hash.put()) ||
            !::CryptHashData(hash.get(), data, static_cast<DWORD>(size), 0))
            return false;
        DWORD length = 0;
        DWORD lengthSize = sizeof(length);
        if (!::CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&length), &lengthSize, 0))
            return false;
        out->resize(length);
        return ::CryptGetHashParam(hash.get(), HP_HASHVAL, out->data(), &length, 0) != FALSE;
    }

    // The signer's signature over its signed attributes, made with the key of `certificate`.
    bool signedBy(const SignerInfoParts& parts, ALG_ID algorithm, PCCERT_CONTEXT certificate) const
    {
        win::UniqueCryptKey key;
        win::UniqueCryptHash hash;
        if (!provider_ || certificate == nullptr || parts.signedAttributes.empty() || algorithm == 0 ||
            !::CryptImportPublicKeyInfo(provider_.get(), X509_ASN_ENCODING,
                                        &certificate->pCertInfo->SubjectPublicKeyInfo, key.put()) ||
            !::CryptCreateHash(provider_.get(), algorithm, 0, 0, hash.put()) ||
            !::CryptHashData(hash.get(), parts.signedAttributes.data(),
                             static_cast<DWORD>(parts.signedAttributes.size()), 0))
            return false;
        // CryptoAPI takes RSA signatures least significant byte first.
        std::vector<BYTE> reversed(parts.signature.rbegin(), parts.signature.rend());
        return ::CryptVerifySignatureW(hash.get(), reversed.data(), static_cast<DWORD>(reversed.size()), key.get(),
                                       nullptr, 0) != FALSE;
    }

private:
    win::UniqueCryptProvider provider_;
};

// The signer's messageDigest attribute equals the digest of `data`.
bool digestAttributeMatches(const SignatureVerifier& verifier, const CMSG_SIGNER_INFO& signer, const BYTE* data,
                            std::size_t size)
{
    const CRYPT_ATTRIBUTE* attribute = findAttribute(signer.AuthAttrs, kMessageDigestOid);
    DerElement value;
    std::vector<BYTE> digest;
    return attribute != nullptr && attribute->cValue == 1 &&
           readElement(attribute->rgValue[0].pbData, attribute->rgValue[0].cbData, &value) &&
           value.tag == kTagOctetString &&
           verifier.digest(SignatureVerifier::hashAlgorithm(signer.HashAlgorithm.pszObjId), data, size, &digest) &&
           digest.size() == value.length && std::equal(digest.begin(), digest.end(), value.content);
}

bool chainsForTimeStamping(PCCERT_CONTEXT certificate, HCERTSTORE extraStore, const FILETIME& at)
{
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    LPSTR usages[] = {kTimeStampingUsage};
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    FILETIME when = at;
    win::UniqueChainContext chain;
    return ::CertGetCertificateChain(nullptr, certificate, &when, extraStore, &chainPara,
                                     CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, chain.put()) &&
           chain && chain.get()->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
}

win::UniqueCertContext findCertificate(HCERTSTORE store, const CMSG_SIGNER_INFO& signer)
{
    CERT_INFO wanted{};
    wanted.Issuer = signer.Issuer;
    wanted.SerialNumber = signer.SerialNumber;
    return win::UniqueCertContext(
        ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
}

// A legacy counter-signature: a signer information over the file signer's signature.
bool counterSignatureVerifies(const CRYPT_ATTR_BLOB& value, const std::vector<BYTE>& stamped,
                              HCERTSTORE signatureStore, const FILETIME& at)
{
    DecodedSigner counterSigner;
    SignerInfoParts parts;
    if (!decodeSigner(value, &counterSigner) || !splitSignerInfo(value.pbData, value.cbData, &parts))
        return false;
    const SignatureVerifier verifier;
    const win::UniqueCertContext certificate = findCertificate(signatureStore, *counterSigner.get());
    return digestAttributeMatches(verifier, *counterSigner.get(), stamped.data(), stamped.size()) &&
           verifier.signedBy(parts, SignatureVerifier::hashAlgorithm(counterSigner.get()->HashAlgorithm.pszObjId),
                             certificate.get()) &&
           chainsForTimeStamping(certificate.get(), signatureStore, at);
}

// An RFC 3161 token: signed content (TSTInfo) whose message imprint is the
// digest of the file signer's signature.
bool timeStampTokenVerifies(const CRYPT_ATTR_BLOB& value, const std::vector<BYTE>& stamped, const FILETIME& at)
{
    const win::UniqueCryptMsg token = openToken(value);
    std::vector<BYTE> signerBuffer, encodedSigner, content;
    SignerInfoParts parts;
    TstInfo info;
    if (!token || !readMessageParam(token.get(), CMSG_SIGNER_INFO_PARAM, 0, &signerBuffer) ||
        !readMessageParam(token.get(), CMSG_ENCODED_SIGNER, 0, &encodedSigner) ||
        !readMessageParam(token.get(), CMSG_CONTENT_PARAM, 0, &content) ||
        !splitSignerInfo(encodedSigner.data(), encodedSigner.size(), &parts) ||
        !readTstInfo(content.data(), content.size(), &info))
        return false;
    const auto* tokenSigner = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBuffer.data());

    // The signed content is the TSTInfo itself, without any OCTET STRING wrapping.
    DerElement tstInfo;
    if (!readElement(content.data(), content.size(), &tstInfo))
        return false;
    if (tstInfo.tag == kTagOctetString && !readElement(tstInfo.content, tstInfo.length, &tstInfo))
        return false;

    const SignatureVerifier verifier;
    std::vector<BYTE> imprint;
    if (!verifier.digest(SignatureVerifier::hashAlgorithm(info.imprintAlgorithm.c_str()), stamped.data(),
                         stamped.size(), &imprint) ||
        imprint != info.imprint ||
        !digestAttributeMatches(verifier, *tokenSigner, tstInfo.start, tstInfo.total))
        return false;

    win::UniqueCertStore tokenStore(::CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, token.get()));
    if (!tokenStore)
        return false;
    const win::UniqueCertContext certificate = findCertificate(tokenStore.get(), *tokenSigner);
    return verifier.signedBy(parts, SignatureVerifier::hashAlgorithm(tokenSigner->HashAlgorithm.pszObjId),
                             certificate.get()) &&
           chainsForTimeStamping(certificate.get(), tokenStore.get(), at);
}

} // namespace

bool timeStampVerifies(const SigningTime& claimed, const BYTE* encodedSigner, std::size_t encodedSize,
                       HCERTSTORE signatureStore)
{
    SignerInfoParts signer;
    if (claimed.status != SigningTimeStatus::Found || claimed.stamp == nullptr ||
        !splitSignerInfo(encodedSigner, encodedSize, &signer))
        return false;
    // What a time stamp vouches for is the file signer's signature value.
    if (claimed.source == SigningTimeSource::CounterSignature)
        return counterSignatureVerifies(*claimed.stamp, signer.signature, signatureStore, claimed.time);
    return timeStampTokenVerifies(*claimed.stamp, signer.signature, claimed.time);
}

} // namespace trust
} // namespace Orvik
