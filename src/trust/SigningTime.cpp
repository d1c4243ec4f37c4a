#include "trust/SigningTime.h"
#include "trust/TimeStampDecoding.h"

#include "win/UniqueHandle.h"

#include <cstring>

namespace Orvik {
namespace trust {

namespace detail {

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

const CRYPT_ATTRIBUTE* findAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        if (attributes.rgAttr[i].pszObjId != nullptr && std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
            return &attributes.rgAttr[i];
    }
    return nullptr;
}

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

} // namespace detail

using detail::DecodedSigner;
using detail::DerCursor;
using detail::DerElement;
using detail::decodeSigner;
using detail::findAttribute;
using detail::openToken;
using detail::readElement;
using detail::kTagGeneralizedTime;
using detail::kTagInteger;
using detail::kTagOctetString;
using detail::kTagOid;
using detail::kTagSequence;
using detail::kTagUtcTime;

namespace {

constexpr char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kRfc3161TimeStampOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr std::size_t kUtcTimeSize = 15;

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

// Signing time from a time-stamp signer's authenticated attributes.
bool signingTimeAttribute(const CMSG_SIGNER_INFO& signer, FILETIME* time)
{
    const CRYPT_ATTRIBUTE* attribute = findAttribute(signer.AuthAttrs, kSigningTimeOid);
    return attribute != nullptr && attribute->cValue > 0 && attribute->rgValue[0].cbData == kUtcTimeSize &&
           decodeDerTime(attribute->rgValue[0].pbData, attribute->rgValue[0].cbData, time);
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
