#include "trust/TrustLists.h"

#include <algorithm>
#include <cwctype>

namespace Orvik {
namespace trust {

namespace {

bool equalsIgnoreCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

int hexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// Leading zero digit pairs carry no value: "00AB" and "AB" name the same serial.
std::wstring normalisedSerial(const std::wstring& hex)
{
    std::wstring upper;
    upper.reserve(hex.size());
    for (wchar_t c : hex)
        upper.push_back(static_cast<wchar_t>(std::towupper(c)));
    std::size_t start = 0;
    while (upper.size() - start > 2 && upper.compare(start, 2, L"00") == 0)
        start += 2;
    return upper.substr(start);
}

} // namespace

bool TrustLists::acceptsName(const std::wstring& name) const
{
    if (!signerNames)
        return true;
    for (const std::wstring& accepted : *signerNames) {
        if (equalsIgnoreCase(accepted, name))
            return true;
    }
    return false;
}

bool TrustLists::isPinnedRoot(const BYTE* hash, DWORD size) const
{
    if (acceptsAnyRoot())
        return true;
    for (const Thumbprint& pinned : rootThumbprints) {
        if (!pinned.empty() && pinned.size() == size && std::equal(pinned.begin(), pinned.end(), hash))
            return true;
    }
    return false;
}

bool TrustLists::isDeniedSerial(const CRYPT_INTEGER_BLOB& serialNumber) const
{
    if (deniedSerials.empty())
        return false;
    const std::wstring serial = serialToHex(serialNumber);
    for (const std::wstring& denied : deniedSerials) {
        if (!denied.empty() && normalisedSerial(denied) == serial)
            return true;
    }
    return false;
}

std::wstring serialToHex(const CRYPT_INTEGER_BLOB& serialNumber)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring hex;
    for (DWORD i = serialNumber.cbData; i > 0; --i) {
        const BYTE b = serialNumber.pbData[i - 1];
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0x0F]);
    }
    return normalisedSerial(hex);
}

Thumbprint thumbprintFromHex(const std::wstring& hex)
{
    if (hex.empty() || hex.size() % 2 != 0)
        return {};
    Thumbprint bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexValue(hex[i]);
        const int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return {};
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return bytes;
}

} // namespace trust
} // namespace Orvik
