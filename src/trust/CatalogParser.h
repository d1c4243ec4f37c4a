#pragma once
// The trust catalog's text format: sections in brackets, one entry per line,
// comment lines ("/*", "//", "*/") skipped, a "VER" section holding the
// catalog's version, and the lists "ORG" (signer names), "SHA" (root
// thumbprints) and "SER" (denied serial numbers).

#include "trust/TrustLists.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Orvik {
namespace trust {

// Lines longer than this make the catalog invalid; no real entry comes near.
constexpr std::size_t kMaxCatalogLineLength = 4096;

struct CatalogContent {
    DWORD version = 0;
    std::map<std::wstring, std::vector<std::wstring>> sections;
    TrustLists lists;
};

// Decodes the file's bytes: UTF-16LE with a byte-order mark, else UTF-8 (with
// or without a byte-order mark). Invalid sequences are replaced, not fatal.
std::wstring decodeCatalogText(const std::string& bytes);

// Parses catalog text; empty when the text is not a usable catalog (an empty
// section name, a line over the limit, or a "VER" section that is not exactly
// one decimal number above 0).
std::optional<CatalogContent> parseCatalog(std::wstring_view text);

} // namespace trust
} // namespace Orvik
