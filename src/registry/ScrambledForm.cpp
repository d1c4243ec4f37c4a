#include "registry/ScrambledForm.h"

#include "win/UniqueHandle.h"

#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <climits>
#include <cwchar>
#include <initializer_list>
#include <new>

namespace Basalt {
namespace scrambled {
namespace {

constexpr BYTE kTagKey[32] = {0xC5, 0xF2, 0x55, 0x7F, 0xA3, 0xDD, 0x99, 0x07, 0xD5, 0xDF, 0x9D,
                              0xDE, 0x07, 0xDF, 0xC1, 0x93, 0xB4, 0x78, 0xC5, 0x96, 0x8F, 0xD1,
                              0x0A, 0x61, 0x42, 0x92, 0x34, 0x62, 0x1A, 0x57, 0xBA, 0x09};
constexpr BYTE kMaskKey[32] = {0x4D, 0x95, 0xC5, 0xAC, 0x41, 0x9A, 0xFA, 0xF5, 0x5F, 0x8B, 0x5A,
                               0x69, 0x61, 0x45, 0xF7, 0xB5, 0x06, 0xB4, 0x50, 0x20, 0x92, 0x0C,
                               0x33, 0xF9, 0xF2, 0x87, 0xFD, 0xA5, 0xAA, 0x6C, 0x24, 0xD0};

constexpr DWORD kFixedHeader = 16; // the part of the header the tag and key stream cover

struct Bytes {
    const BYTE* data;
    size_t size;
};

// HMAC-SHA-256 through the system's CNG provider, opened once per encode or decode.
class HmacSha256 {
public:
    bool open() noexcept
    {
        return BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                            BCRYPT_ALG_HANDLE_HMAC_FLAG));
    }

    bool mac(const BYTE (&key)[32], std::initializer_list<Bytes> parts, BYTE (&out)[kTagSize]) noexcept
    {
        // No hash object buffer: CNG allocates it itself from Windows 7 on.
        Orvik::win::UniqueBCryptHash hash;
        if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm_.get(), hash.put(), nullptr, 0, const_cast<PUCHAR>(key),
                                               sizeof(key), 0)))
            return false;
        for (const Bytes& part : parts) {
            if (part.size != 0 &&
                !BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<PUCHAR>(part.data),
                                                 static_cast<ULONG>(part.size), 0)))
                return false;
        }
        return BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), out, kTagSize, 0));
    }

private:
    Orvik::win::UniqueBCryptAlgorithm algorithm_;
};

void putLE32(BYTE* at, DWORD value) noexcept
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD getLE32(const BYTE* at) noexcept
{
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
           static_cast<DWORD>(at[3]) << 24;
}

// XORs `size` bytes at `data` with the key stream of this header; its own inverse.
bool applyMask(HmacSha256& hmac, const BYTE* header, BYTE* data, size_t size) noexcept
{
    BYTE block[kTagSize];
    BYTE index[4];
    for (size_t offset = 0; offset < size; offset += kTagSize) {
        putLE32(index, static_cast<DWORD>(offset / kTagSize));
        if (!hmac.mac(kMaskKey, {{header, kFixedHeader}, {index, sizeof(index)}}, block))
            return false;
        const size_t count = size - offset < kTagSize ? size - offset : kTagSize;
        for (size_t i = 0; i < count; ++i)
            data[offset + i] ^= block[i];
    }
    ::SecureZeroMemory(block, sizeof(block));
    return true;
}

bool isTextType(DWORD type) noexcept { return type == REG_SZ || type == REG_MULTI_SZ; }

} // namespace

LONG encodeBlob(DWORD type, const BYTE* payload, DWORD size, std::vector<BYTE>& blob) noexcept
{
    if (payload == nullptr && size != 0)
        return ERROR_INVALID_PARAMETER;
    if (size > MAXDWORD - kHeaderSize)
        return ERROR_INVALID_PARAMETER;
    try {
        blob.assign(kHeaderSize + static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    BYTE* header = blob.data();
    putLE32(header, kMagic);
    header[4] = static_cast<BYTE>(kVersion);
    header[5] = static_cast<BYTE>(kVersion >> 8);
    header[6] = static_cast<BYTE>(kHeaderSize);
    header[7] = static_cast<BYTE>(kHeaderSize >> 8);
    putLE32(header + 8, type);
    putLE32(header + 12, size);
    if (size != 0)
        std::memcpy(header + kHeaderSize, payload, size);

    HmacSha256 hmac;
    BYTE tag[kTagSize];
    if (!hmac.open() || !applyMask(hmac, header, header + kHeaderSize, size) ||
        !hmac.mac(kTagKey, {{header, kFixedHeader}, {header + kHeaderSize, size}}, tag)) {
        ::SecureZeroMemory(blob.data(), blob.size());
        blob.clear();
        return ERROR_ENCRYPTION_FAILED;
    }
    std::memcpy(header + kFixedHeader, tag, kTagSize);
    return ERROR_SUCCESS;
}

LONG decodeBlob(const BYTE* blob, size_t size, DWORD& type, std::vector<BYTE>& payload) noexcept
{
    if (blob == nullptr || size < kHeaderSize)
        return ERROR_INVALID_DATA;
    const DWORD declared = getLE32(blob + 12);
    if (getLE32(blob) != kMagic || (blob[4] | blob[5] << 8) != kVersion || (blob[6] | blob[7] << 8) != kHeaderSize ||
        size - kHeaderSize != declared)
        return ERROR_INVALID_DATA;

    HmacSha256 hmac;
    BYTE tag[kTagSize];
    if (!hmac.open() || !hmac.mac(kTagKey, {{blob, kFixedHeader}, {blob + kHeaderSize, declared}}, tag))
        return ERROR_INVALID_DATA;
    // Every byte is compared, so the time taken says nothing about where a forgery went wrong.
    BYTE difference = 0;
    for (DWORD i = 0; i < kTagSize; ++i)
        difference |= static_cast<BYTE>(tag[i] ^ blob[kFixedHeader + i]);
    if (difference != 0)
        return ERROR_INVALID_DATA;

    try {
        payload.assign(blob + kHeaderSize, blob + size);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    if (!applyMask(hmac, blob, payload.data(), payload.size())) {
        payload.clear();
        return ERROR_INVALID_DATA;
    }
    type = getLE32(blob + 8);
    return ERROR_SUCCESS;
}

LONG encodeRegistryValue(DWORD type, const BYTE* data, DWORD size, std::vector<BYTE>& blob) noexcept
{
    if (data == nullptr && size != 0)
        return ERROR_INVALID_PARAMETER;
    if (!isTextType(type) || size == 0)
        return encodeBlob(type, data, size, blob);
    if (size % sizeof(wchar_t) != 0 || size / sizeof(wchar_t) > INT_MAX)
        return ERROR_INVALID_PARAMETER;

    const int chars = static_cast<int>(size / sizeof(wchar_t));
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return ERROR_INVALID_PARAMETER;
    try {
        std::vector<BYTE> utf8(static_cast<size_t>(needed));
        if (::WideCharToMultiByte(CP_UTF8, 0, text, chars, reinterpret_cast<char*>(utf8.data()), needed, nullptr,
                                  nullptr) != needed)
            return ERROR_INVALID_PARAMETER;
        return encodeBlob(type, utf8.data(), static_cast<DWORD>(utf8.size()), blob);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG decodeRegistryValue(const BYTE* blob, size_t size, DWORD& type, std::vector<BYTE>& data) noexcept
{
    DWORD declared = REG_NONE;
    std::vector<BYTE> payload;
    const LONG result = decodeBlob(blob, size, declared, payload);
    if (result != ERROR_SUCCESS)
        return result;
    try {
        if (!isTextType(declared) || payload.empty()) {
            data.swap(payload);
            type = declared;
            return ERROR_SUCCESS;
        }
        if (payload.size() > INT_MAX)
            return ERROR_INVALID_DATA;
        const char* utf8 = reinterpret_cast<const char*>(payload.data());
        const int length = static_cast<int>(payload.size());
        const int chars = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, length, nullptr, 0);
        if (chars <= 0)
            return ERROR_INVALID_DATA;
        std::vector<BYTE> wide(static_cast<size_t>(chars) * sizeof(wchar_t));
        if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, length,
                                  reinterpret_cast<wchar_t*>(wide.data()), chars) != chars)
            return ERROR_INVALID_DATA;
        data.swap(wide);
        type = declared;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

std::wstring toProfileStructText(const std::vector<BYTE>& bytes)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve((bytes.size() + 1) * 2);
    BYTE checksum = 0;
    for (BYTE b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        checksum = static_cast<BYTE>(checksum + b);
    }
    text += digits[checksum >> 4];
    text += digits[checksum & 0x0F];
    return text;
}

bool fromProfileStructText(const std::wstring& text, std::vector<BYTE>& bytes)
{
    auto nibble = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        return -1;
    };
    if (text.size() < 2 || text.size() % 2 != 0)
        return false;
    std::vector<BYTE> decoded;
    decoded.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        decoded.push_back(static_cast<BYTE>(high << 4 | low));
    }
    const BYTE expected = decoded.back();
    decoded.pop_back();
    BYTE checksum = 0;
    for (BYTE b : decoded)
        checksum = static_cast<BYTE>(checksum + b);
    if (checksum != expected)
        return false;
    bytes.swap(decoded);
    return true;
}

LONG encodeIniString(const std::wstring& text, std::vector<BYTE>& blob) noexcept
{
    // The terminator goes in too, as for a registry REG_SZ.
    if (text.size() >= MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_PARAMETER;
    return encodeRegistryValue(REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), blob);
}

LONG encodeIniDWORD(DWORD value, std::vector<BYTE>& blob) noexcept
{
    BYTE bytes[4];
    putLE32(bytes, value);
    return encodeBlob(REG_DWORD, bytes, sizeof(bytes), blob);
}

LONG decodeIniValue(const std::wstring& iniText, std::wstring& clearText, DWORD& type) noexcept
{
    try {
        std::vector<BYTE> blob;
        if (!fromProfileStructText(iniText, blob))
            return ERROR_INVALID_DATA;
        DWORD declared = REG_NONE;
        std::vector<BYTE> data;
        const LONG result = decodeRegistryValue(blob.data(), blob.size(), declared, data);
        if (result != ERROR_SUCCESS)
            return result;
        if (declared == REG_DWORD) {
            if (data.size() != sizeof(DWORD))
                return ERROR_INVALID_DATA;
            wchar_t number[16];
            std::swprintf(number, 16, L"%d", static_cast<int>(getLE32(data.data())));
            clearText = number;
        } else if (declared == REG_SZ) {
            const size_t chars = data.size() / sizeof(wchar_t);
            const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
            if (chars == 0 || text[chars - 1] != L'\0')
                return ERROR_INVALID_DATA;
            clearText.assign(text, chars - 1);
        } else {
            return ERROR_INVALID_DATA;
        }
        type = declared;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

} // namespace scrambled
} // namespace Basalt
