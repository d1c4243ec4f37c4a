#pragma once
// The signed trust catalog ("trusted.js"): extra trust lists the maker can
// deliver after release. One per process, guarded by a reader-writer lock;
// file locks serialise reading and replacement between processes, and a
// global atom tells other processes that a new catalog was installed.

#include "trust/CatalogParser.h"
#include "trust/TrustLists.h"
#include "win/SrwLock.h"

#include <windows.h>

#include <optional>
#include <string>

namespace Orvik {
namespace trust {

// Catalogs larger than this are not read at all.
constexpr ULONGLONG kMaxCatalogBytes = 4ull * 1024 * 1024;

// Catalog versions installCatalog accepts start here.
constexpr DWORD kMinInstallableCatalogVersion = 6;

extern const wchar_t kCatalogAtomName[];

enum class CatalogReadStatus {
    Loaded,
    Missing,
    Locked,        // another process held the file lock too long
    TooLarge,
    NotSigned,     // no readable embedded signature
    WrongSigner,   // not exactly one signer, or not the catalog signer
    TrustRefused,  // WinVerifyTrust did not accept the file
    Unreadable,
    Invalid,       // signed, but not a usable catalog
};

class TrustCatalog {
public:
    enum class CheckResult { NotUsed, Passed, Failed };

    // A catalog at `path`, announced through the global atom `atomName`,
    // accepted only when signed by the holder of `signerThumbprint`.
    TrustCatalog(std::wstring path, std::wstring atomName, Thumbprint signerThumbprint);
    TrustCatalog(const TrustCatalog&) = delete;
    TrustCatalog& operator=(const TrustCatalog&) = delete;

    // The process's catalog at defaultPath().
    static TrustCatalog& instance();

    // <root of the Windows drive>Program Files\Common Files\Corvane\Platform\Core\trusted.js
    static std::wstring defaultPath();

    // When the catalog is loaded and its version is above `versionAbove`:
    // checks the file's signature against the catalog's lists only (shared lock).
    CheckResult checkFile(const std::wstring& file, DWORD versionAbove = 0) const;

    bool isLoaded() const;
    DWORD version() const;
    CatalogReadStatus lastReadStatus() const;

    // Loads the catalog unless it is loaded already; true when loaded afterwards.
    bool load();
    // Clears and loads again.
    bool reload();
    void clear();

    // True while the inter-process atom exists.
    bool replacementAnnounced() const;

    // Installs a newer signed catalog (version 6 or above, newer than the
    // current one) in place of the current one, announces it and reloads.
    // True when the new catalog was installed and loaded.
    bool installCatalog(const std::wstring& candidate);

    const std::wstring& path() const { return path_; }

    // Reads a catalog file and verifies its signature without touching any
    // catalog's state. `bytes`, when given, receives the verified file content.
    static std::optional<CatalogContent> readVerified(const std::wstring& path, const Thumbprint& signer,
                                                      CatalogReadStatus* status, std::string* bytes = nullptr,
                                                      bool allowReplacementWhileReading = true);

private:
    bool loadLocked();
    void clearLocked();
    bool replaceCatalogFile(const std::string& bytes);

    const std::wstring path_;
    const std::wstring atomName_;
    const Thumbprint signer_;
    mutable win::SrwLock lock_;
    bool loaded_ = false;
    CatalogContent content_;
    CatalogReadStatus lastStatus_ = CatalogReadStatus::Missing;
};

} // namespace trust
} // namespace Orvik
