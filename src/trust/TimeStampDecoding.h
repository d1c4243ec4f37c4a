#pragma once
// What reading a time stamp and verifying it both need: a minimal
// bounds-checked DER reader and the CryptoAPI decoders for a stamp's signer.

#include "win/UniqueHandle.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

namespace Orvik {
namespace trust {
namespace detail {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

constexpr BYTE kTagInteger = 0x02;
constexpr BYTE kTagOctetString = 0x04;
constexpr BYTE kTagOid = 0x06;
constexpr BYTE kTagUtcTime = 0x17;
constexpr BYTE kTagGeneralizedTime = 0x18;
constexpr BYTE kTagSequence = 0x30;
constexpr BYTE kTagSet = 0x31;
constexpr BYTE kTagSignedAttributes = 0xA0;  // [0] IMPLICIT SET OF Attribute

// Minimal bounds-checked DER reader: one element at a time.
struct DerElement {
    BYTE tag = 0;
    const BYTE* start = nullptr;  // the tag octet
    const BYTE* content = nullptr;
    std::size_t length = 0;
    std::size_t total = 0;  // tag + length octets + content
};

bool readElement(const BYTE* data, std::size_t size, DerElement* element);

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

const CRYPT_ATTRIBUTE* findAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid);

// A PKCS #7 signer information decoded into memory the owner frees.
struct DecodedSigner {
    win::UniqueLocalMemory memory;
    const CMSG_SIGNER_INFO* get() const { return static_cast<const CMSG_SIGNER_INFO*>(memory.get()); }
};

bool decodeSigner(const CRYPT_ATTR_BLOB& value, DecodedSigner* signer);

// Opens the time-stamp token of an RFC 3161 attribute value.
win::UniqueCryptMsg openToken(const CRYPT_ATTR_BLOB& value);

} // namespace detail
} // namespace trust
} // namespace Orvik
