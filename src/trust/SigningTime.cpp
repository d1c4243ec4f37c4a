#include "trust/SigningTime.h"

#include "win/UniqueHandle.h"

#include <cstring>
#include <vector>

namespace Orvik {
namespace trust {

namespace {

constexpr char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kRfc3161TimeStampOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

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
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    return ::SystemTimeToFileTime(&st, time) != FALSE;
}

// Minimal bounds-checked DER reader: one element at a time.
struct DerElement {
    BYTE tag = 0;
    const BYTE* content = nullptr;
    std::size_t length = 0;
    std::size_t total = 0;  // tag + length octets + content
};

bool readElement(const BYTE* data, std::size_t size, DerElement* element)
{
    if (size < 2)
        return false;
    element->tag = data[0];
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

const CRYPT_ATTRIBUTE* findAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        if (attributes.rgAttr[i].pszObjId != nullptr && std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
            return &attributes.rgAttr[i];
    }
    return nullptr;
}

// Signing time from a (counter-)signer's authenticated attributes.
SigningTime signingTimeAttribute(const CMSG_SIGNER_INFO& signer, SigningTimeSource source)
{
    SigningTime result;
    const CRYPT_ATTRIBUTE* attribute = findAttribute(signer.AuthAttrs, kSigningTimeOid);
    if (attribute == nullptr || attribute->cValue == 0)
        return result;  // Absent
    const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
    if (!decodeDerTime(value.pbData, value.cbData, &result.time)) {
        result.status = SigningTimeStatus::Invalid;
        return result;
    }
    result.status = SigningTimeStatus::Found;
    result.source = source;
    return result;
}

SigningTime fromCounterSignature(const CRYPT_ATTR_BLOB& value)
{
    SigningTime result;
    CMSG_SIGNER_INFO* counterSigner = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, CRYPT_DECODE_ALLOC_FLAG,
                               nullptr, &counterSigner, &size)) {
        result.status = SigningTimeStatus::Invalid;
        return result;
    }
    win::UniqueLocalMemory owner(counterSigner);
    return signingTimeAttribute(*counterSigner, SigningTimeSource::CounterSignature);
}

SigningTime fromRfc3161TimeStamp(const CRYPT_ATTR_BLOB& value)
{
    SigningTime invalid;
    invalid.status = SigningTimeStatus::Invalid;

    win::UniqueCryptMsg message(::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !::CryptMsgUpdate(message.get(), value.pbData, value.cbData, TRUE))
        return invalid;
    DWORD size = 0;
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0)
        return invalid;
    std::vector<BYTE> buffer(size);
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size))
        return invalid;
    const auto* timeStampSigner = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    SigningTime result = signingTimeAttribute(*timeStampSigner, SigningTimeSource::Rfc3161SigningTime);
    if (result.status != SigningTimeStatus::Absent)
        return result;

    // A time-stamp token need not repeat its time as a signed attribute; the
    // token's own genTime then says when the signature existed.
    size = 0;
    if (!::CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size) || size == 0)
        return result;
    std::vector<BYTE> content(size);
    if (!::CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, content.data(), &size))
        return result;
    if (readTstInfoGenTime(content.data(), size, &result.time)) {
        result.status = SigningTimeStatus::Found;
        result.source = SigningTimeSource::Rfc3161GenTime;
    }
    return result;
}

} // namespace

bool decodeDerTime(const BYTE* der, std::size_t size, FILETIME* time)
{
    DerElement element;
    if (der == nullptr || !readElement(der, size, &element) || element.total != size)
        return false;
    if (element.tag == 0x17)  // UTCTime
        return decodeTimeText(element.content, element.length, false, time);
    if (element.tag == 0x18)  // GeneralizedTime
        return decodeTimeText(element.content, element.length, true, time);
    return false;
}

bool readTstInfoGenTime(const BYTE* der, std::size_t size, FILETIME* time)
{
    DerElement element;
    if (der == nullptr || !readElement(der, size, &element))
        return false;
    if (element.tag == 0x04) {  // still wrapped in an OCTET STRING
        const BYTE* inner = element.content;
        if (!readElement(inner, element.length, &element))
            return false;
    }
    if (element.tag != 0x30)
        return false;
    // TSTInfo: version, policy, messageImprint, serialNumber, genTime, ...
    const BYTE* cursor = element.content;
    std::size_t remaining = element.length;
    DerElement field;
    for (int index = 0; index < 5; ++index) {
        if (!readElement(cursor, remaining, &field))
            return false;
        if (index == 4)
            return field.tag == 0x18 && decodeTimeText(field.content, field.length, true, time);
        cursor += field.total;
        remaining -= field.total;
    }
    return false;
}

SigningTime readSigningTime(const CMSG_SIGNER_INFO& signer)
{
    for (DWORD i = 0; i < signer.UnauthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.UnauthAttrs.rgAttr[i];
        if (attribute.pszObjId == nullptr)
            continue;
        const bool counterSignature = std::strcmp(attribute.pszObjId, kCounterSignatureOid) == 0;
        const bool rfc3161 = std::strcmp(attribute.pszObjId, kRfc3161TimeStampOid) == 0;
        if (!counterSignature && !rfc3161)
            continue;
        if (attribute.cValue == 0) {
            SigningTime invalid;
            invalid.status = SigningTimeStatus::Invalid;
            return invalid;
        }
        return counterSignature ? fromCounterSignature(attribute.rgValue[0])
                                : fromRfc3161TimeStamp(attribute.rgValue[0]);
    }
    return SigningTime{};
}

} // namespace trust
} // namespace Orvik
