#include "trust/SigningTime.h"

#include "win/UniqueHandle.h"

#include <algorithm>
#include <cstring>

namespace Orvik {
namespace trust {

namespace {

constexpr char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kRfc3161TimeStampOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr char kMessageDigestOid[] = "1.2.840.113549.1.9.4";
char kTimeStampingUsage[] = "1.3.6.1.5.5.7.3.8";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr std::size_t kUtcTimeSize = 15;

constexpr BYTE kTagInteger = 0x02;
constexpr BYTE kTagOctetString = 0x04;
constexpr BYTE kTagOid = 0x06;
constexpr BYTE kTagUtcTime = 0x17;
constexpr BYTE kTagGeneralizedTime = 0x18;
constexpr BYTE kTagSequence = 0x30;
constexpr BYTE kTagSet = 0x31;
constexpr BYTE kTagSignedAttributes = 0xA0;  // [0] IMPLICIT SET OF Attribute

bool readDigits(const BYTE* text, int count, int* value)
{
    int result = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
    }
    *value = result;
    return true;
}

// YYMMDDHHMMSSZ or YYYYMMDDHHMMSS[.f...]Z
bool decodeTimeText(const BYTE* text, std::size_t length, bool fourDigitYear, FILETIME* time)
{
    const int yearDigits = fourDigitYear ? 4 : 2;
    if (length < static_cast<std::size_t>(yearDigits + 10 + 1) || text[length - 1] != 'Z')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const BYTE* p = text;
    if (!readDigits(p, yearDigits, &year))
        return false;
    p += yearDigits;
    if (!readDigits(p, 2, &month) || !readDigits(p + 2, 2, &day) || !readDigits(p + 4, 2, &hour) ||
        !readDigits(p + 6, 2, &minute) || !readDigits(p + 8, 2, &second))
        return false;
    p += 10;
    const std::size_t rest = length - static_cast<std::size_t>(p - text);
    if (fourDigitYear) {
        // Optional fraction of a second, then Z.
        if (rest > 1) {
            if (*p != '.')
                return false;
            for (const BYTE* f = p + 1; f < text + length - 1; ++f) {
                if (*f < '0' || *f > '9')
                    return false;
            }
        }
    } else if (rest != 1) {
        return false;
    } else {
        year += year < 70 ? 2000 : 1900;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return ::SystemTimeToFileTime(&st, time) != FALSE;
}

// Minimal bounds-checked DER reader: one element at a time.
struct DerElement {
    BYTE tag = 0;
    const BYTE* start = nullptr;  // the tag octet
    const BYTE* content = nullptr;
    std::size_t length = 0;
    std::size_t total = 0;  // tag + length octets + content
};

bool readElement(const BYTE* data, std::size_t size, DerElement* element)
{
    if (data == nullptr || size < 2)
        return false;
    element->tag = data[0];
    element->start = data;
    std::size_t header = 2;
    std::size_t length = data[1];
    if (length & 0x80) {
        const std::size_t octets = length & 0x7F;
        if (octets == 0 || octets > 4 || size < 2 + octets)
            return false;
        length = 0;
        for (std::size_t i = 0; i < octets; ++i)
            length = (length << 8) | data[2 + i];
        header += octets;
    }
    if (length > size - header)
        return false;
    element->content = data + header;
    element->length = length;
    element->total = header + length;
    return true;
}

// Walks the elements inside one constructed element.
class DerCursor {
public:
    DerCursor(const BYTE* data, std::size_t size) : data_(data), left_(size) {}
    explicit DerCursor(const DerElement& outer) : data_(outer.content), left_(outer.length) {}

    bool next(DerElement* element)
    {
        if (!readElement(data_, left_, element))
            return false;
        data_ += element->total;
        left_ -= element->total;
        return true;
    }
    bool next(BYTE tag, DerElement* element) { return next(element) && element->tag == tag; }
    bool atEnd() const { return left_ == 0; }
    BYTE peekTag() const { return left_ > 0 ? data_[0] : 0; }

private:
    const BYTE* data_;
    std::size_t left_;
};

std::string oidText(const DerElement& oid)
{
    std::string text;
    unsigned long value = 0;
    bool first = true;
    for (std::size_t i = 0; i < oid.length; ++i) {
        if (value > (0xFFFFFFFFul >> 7))
            return {};
        value = (value << 7) | (oid.content[i] & 0x7F);
        if (oid.content[i] & 0x80)
            continue;
        if (first) {
            const unsigned long top = value < 40 ? 0 : value < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(value - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

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

const CRYPT_ATTRIBUTE* findAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        if (attributes.rgAttr[i].pszObjId != nullptr && std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
            return &attributes.rgAttr[i];
    }
    return nullptr;
}

// Signing time from a time-stamp signer's authenticated attributes.
bool signingTimeAttribute(const CMSG_SIGNER_INFO& signer, FILETIME* time)
{
    const CRYPT_ATTRIBUTE* attribute = findAttribute(signer.AuthAttrs, kSigningTimeOid);
    return attribute != nullptr && attribute->cValue > 0 && attribute->rgValue[0].cbData == kUtcTimeSize &&
           decodeDerTime(attribute->rgValue[0].pbData, attribute->rgValue[0].cbData, time);
}

// A PKCS #7 signer information decoded into memory the owner frees.
struct DecodedSigner {
    win::UniqueLocalMemory memory;
    const CMSG_SIGNER_INFO* get() const { return static_cast<const CMSG_SIGNER_INFO*>(memory.get()); }
};

bool decodeSigner(const CRYPT_ATTR_BLOB& value, DecodedSigner* signer)
{
    CMSG_SIGNER_INFO* decoded = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, CRYPT_DECODE_ALLOC_FLAG,
                               nullptr, &decoded, &size))
        return false;
    signer->memory.reset(decoded);
    return true;
}

// Opens the time-stamp token of an RFC 3161 attribute value.
win::UniqueCryptMsg openToken(const CRYPT_ATTR_BLOB& value)
{
    win::UniqueCryptMsg message(::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !::CryptMsgUpdate(message.get(), value.pbData, value.cbData, TRUE))
        return {};
    return message;
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

bool decodeDerTime(const BYTE* der, std::size_t size, FILETIME* time)
{
    DerElement element;
    if (der == nullptr || !readElement(der, size, &element) || element.total != size || element.tag != kTagUtcTime)
        return false;
    return decodeTimeText(element.content, element.length, false, time);
}

bool readTstInfo(const BYTE* der, std::size_t size, TstInfo* info)
{
    DerElement element;
    if (!readElement(der, size, &element))
        return false;
    if (element.tag == kTagOctetString && !readElement(element.content, element.length, &element))
        return false;
    if (element.tag != kTagSequence)
        return false;
    // TSTInfo: version, policy, messageImprint, serialNumber, genTime, ...
    DerCursor fields(element);
    DerElement field, imprint, algorithm, oid, hashed, genTime;
    if (!fields.next(kTagInteger, &field) || !fields.next(kTagOid, &field) ||
        !fields.next(kTagSequence, &imprint) || !fields.next(kTagInteger, &field) ||
        !fields.next(kTagGeneralizedTime, &genTime))
        return false;
    DerCursor imprintFields(imprint);
    if (!imprintFields.next(kTagSequence, &algorithm) || !imprintFields.next(kTagOctetString, &hashed))
        return false;
    DerCursor algorithmFields(algorithm);
    if (!algorithmFields.next(kTagOid, &oid))
        return false;
    info->imprintAlgorithm = oidText(oid);
    info->imprint.assign(hashed.content, hashed.content + hashed.length);
    return !info->imprintAlgorithm.empty() && decodeTimeText(genTime.content, genTime.length, true, &info->genTime);
}

SigningTime readSigningTime(const CMSG_SIGNER_INFO& signer)
{
    SigningTime result;
    for (DWORD i = 0; i < signer.UnauthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.UnauthAttrs.rgAttr[i];
        if (attribute.pszObjId == nullptr)
            continue;
        const bool counterSignature = std::strcmp(attribute.pszObjId, kCounterSignatureOid) == 0;
        const bool rfc3161 = std::strcmp(attribute.pszObjId, kRfc3161TimeStampOid) == 0;
        if (!counterSignature && !rfc3161)
            continue;
        // Only the first time stamp is looked at, readable or not.
        if (attribute.cValue == 0)
            return result;
        bool found = false;
        if (counterSignature) {
            DecodedSigner counterSigner;
            found = decodeSigner(attribute.rgValue[0], &counterSigner) &&
                    signingTimeAttribute(*counterSigner.get(), &result.time);
        } else {
            const win::UniqueCryptMsg token = openToken(attribute.rgValue[0]);
            std::vector<BYTE> buffer;
            found = token && readMessageParam(token.get(), CMSG_SIGNER_INFO_PARAM, 0, &buffer) &&
                    signingTimeAttribute(*reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data()), &result.time);
        }
        if (found) {
            result.status = SigningTimeStatus::Found;
            result.source = counterSignature ? SigningTimeSource::CounterSignature
                                             : SigningTimeSource::Rfc3161SigningTime;
            result.stamp = &attribute.rgValue[0];
        }
        return result;
    }
    return result;
}

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

bool readMessageParam(HCRYPTMSG message, DWORD param, DWORD index, std::vector<BYTE>* buffer)
{
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, param, index, nullptr, &size) || size == 0)
        return false;
    buffer->resize(size);
    if (!::CryptMsgGetParam(message, param, index, buffer->data(), &size))
        return false;
    buffer->resize(size);
    return true;
}

} // namespace trust
} // namespace Orvik
