#pragma once
// The signed trust catalog ("trusted.js"): extra trust lists the maker can
// deliver after release. One per process, guarded by a reader-writer lock;
// file locks serialise reading and replacement between processes, and a
// global atom tells other processes that a new catalog was installed.

#include "trust/CatalogParser.h"
#include "trust/TrustLists.h"
#include "win/HeldFile.h"
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
    CheckResult checkFile(const win::HeldFile& file, DWORD versionAbove = 0) const;
    CheckResult checkFile(const std::wstring& file, DWORD versionAbove = 0) const;

    bool isLoaded() const;
    DWORD version() const;
    CatalogReadStatus lastReadStatus() const;

    // Loads the catalog unless it is loaded already; true when loaded afterwards.
    bool load();
    // Reads the catalog file again and puts it in place of the loaded one when
    // it could be read; otherwise (locked, missing, invalid) the loaded
    // catalog stays. True when a catalog was read.
    bool reload();
    void clear();

    // True while the inter-process atom exists.
    bool replacementAnnounced() const;

    // Installs a newer signed catalog (version 6 or above, newer than the
    // catalog on disk, compared under the exclusive file lock) in place of the
    // current one, announces it and reloads. True when the new catalog was
    // installed and loaded. Installers in several processes at once end with
    // the newest catalog.
    bool installCatalog(const std::wstring& candidate);

    const std::wstring& path() const { return path_; }

    // For reports, reading only: a copy of the loaded catalog's lists (empty
    // lists when none is loaded), and the file a replacement waits in when the
    // catalog could not be replaced (see installCatalog).
    TrustLists lists() const;
    std::wstring pendingPath() const;

    // Reads a catalog file under a shared file lock and verifies its signature
    // without touching any catalog's state; signature and content are read
    // through one handle. `bytes`, when given, receives the verified content.
    static std::optional<CatalogContent> readVerified(const std::wstring& path, const Thumbprint& signer,
                                                      CatalogReadStatus* status, std::string* bytes = nullptr,
                                                      bool allowReplacementWhileReading = true);

private:
    enum class Replaced { Yes, No, Retry };

    bool loadLocked();
    void clearLocked();
    Replaced replaceIfNewer(const std::string& bytes, const CatalogContent& candidate, bool lastAttempt);
    bool schedulePendingReplacement(const std::wstring& temporary, DWORD version);

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
