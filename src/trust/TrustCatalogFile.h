#pragma once
// Reading a catalog file through one held handle, shared by loading a catalog
// and by installing a newer one.

#include "trust/TrustCatalog.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace Orvik {
namespace trust {
namespace detail {

constexpr DWORD kFileLockPatienceMs = 5000;
constexpr DWORD kFileLockRetryMs = 20;

// Exactly one signer, and it holds the catalog signer's certificate; then
// WinVerifyTrust must accept the file. All read through the held handle.
CatalogReadStatus checkCatalogSigner(const win::HeldFile& file, const Thumbprint& expected);

bool catalogSize(const win::HeldFile& file, std::size_t* size, CatalogReadStatus& result);

// Reads and parses a catalog whose signature was verified through the same
// handle (the content cannot have changed since: nobody may write to it while
// it is held). The caller holds the file lock it needs.
std::optional<CatalogContent> readContent(const win::HeldFile& file, std::size_t size, CatalogReadStatus& result,
                                          std::string* bytes);

} // namespace detail
} // namespace trust
} // namespace Orvik
