#pragma once
// The three lists a file signature is judged against. Built in (anchors of the
// build) or read from the trust catalog.

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace Orvik {
namespace trust {

constexpr std::size_t kThumbprintSize = 20;

// A SHA-1 certificate hash. A catalog entry that is not a valid hex string is
// kept as an empty entry so it matches nothing.
using Thumbprint = std::vector<BYTE>;

struct TrustLists {
    // Compared case-insensitively with the signer's friendly display name;
    // absent: any name is accepted.
    std::optional<std::vector<std::wstring>> signerNames;
    // A root of the signer's chain must carry one of these; absent or empty:
    // any root is accepted.
    std::vector<Thumbprint> rootThumbprints;
    // Hex serial numbers, most significant byte first; a signer whose
    // certificate is listed is ignored.
    std::vector<std::wstring> deniedSerials;

    bool acceptsName(const std::wstring& name) const;
    bool acceptsAnyRoot() const { return rootThumbprints.empty(); }
    bool isPinnedRoot(const BYTE* hash, DWORD size) const;
    bool isDeniedSerial(const CRYPT_INTEGER_BLOB& serialNumber) const;
};

// Uppercase hex of a little-endian CryptoAPI serial number, most significant
// byte first, without leading zero bytes.
std::wstring serialToHex(const CRYPT_INTEGER_BLOB& serialNumber);

// Parses exactly 2*n hex digits into n bytes; an empty result for any other text.
Thumbprint thumbprintFromHex(const std::wstring& hex);

} // namespace trust
} // namespace Orvik
