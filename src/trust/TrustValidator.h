#pragma once
// Decides whether a file carries code signed by the product's maker: first by
// asking the installed trust-validation service, then by the module's own
// Authenticode check against the built-in lists and the trust catalog.

#include "trust/CabinetCatalogExtractor.h"
#include "trust/FileSignatureCheck.h"
#include "trust/IlexValidationControl.h"
#include "trust/TrustCatalog.h"
#include "trust/TrustLists.h"
#include "win/ComPtr.h"
#include "win/HeldFile.h"

#include <windows.h>

#include <memory>
#include <string>

namespace Orvik {
namespace trust {

constexpr DWORD kDefaultCoreVersion = 1504;
// The own check uses a catalog it had to load itself only above this version.
constexpr DWORD kMinUsableCatalogVersion = 5;

class TrustValidator {
public:
    // `control` may be null: the own check alone decides then.
    TrustValidator(DWORD coreVersion, win::ComPtr<IlexValidationControl> control, TrustCatalog& catalog,
                   const TrustLists& builtInLists, CabinetExtractionOptions cabinetOptions = {});
    TrustValidator(const TrustValidator&) = delete;
    TrustValidator& operator=(const TrustValidator&) = delete;

    // The process's validator, made once from the registry; null only when
    // it could not be made (no memory), in which case nothing is trusted.
    static TrustValidator* instance() noexcept;

    struct Settings {
        DWORD coreVersion = 0;
        win::ComPtr<IlexValidationControl> control;  // null when there is no usable service
    };
    // Reads the product key and binds the validation service. The service
    // library must itself pass the own check against `builtInLists`.
    static Settings readSettings(const TrustLists& builtInLists);
    // A validator from the registry; a build that trusts the test PKI says so
    // in the log when it makes one.
    static std::unique_ptr<TrustValidator> createFromRegistry(TrustCatalog& catalog, const TrustLists& builtInLists);
    // Writes the one warning of a build that trusts the test PKI (nothing otherwise).
    static void announceTestAnchors();

    // 0 trusted, 87 missing or empty path, 5 not trusted (also when the file
    // cannot be opened and held).
    DWORD validateFile(const wchar_t* path) const;
    // The same for a file the caller holds: every check reads it through that handle.
    DWORD validateHeldFile(const win::HeldFile& file) const;

    // The module's own check; true when the file is trusted.
    bool ownCheck(const win::HeldFile& file, DWORD minCatalogVersion = kMinUsableCatalogVersion) const;

    // Why the own check decides as it does about a file: the lists it judges
    // by now and what became of each signer under them. Reads only: the
    // catalog is loaded as the check would load it, and a cabinet's catalog
    // is never extracted or installed.
    struct OwnCheckExplanation {
        bool passed = false;
        bool catalogLists = false;  // the catalog's lists decided, not the built-in ones
        DWORD catalogVersion = 0;   // 0: no catalog loaded
        SignatureReport signature;
    };
    OwnCheckExplanation explainOwnCheck(const win::HeldFile& file,
                                        DWORD minCatalogVersion = kMinUsableCatalogVersion) const;

    const TrustCatalog& catalog() const { return catalog_; }
    DWORD coreVersion() const { return coreVersion_; }
    bool hasControl() const { return static_cast<bool>(control_); }

private:
    bool serviceAccepts(const win::HeldFile& file) const;
    bool checkWithListsAndCatalog(const win::HeldFile& file, DWORD minCatalogVersion) const;

    const DWORD coreVersion_;
    const win::ComPtr<IlexValidationControl> control_;
    TrustCatalog& catalog_;
    const TrustLists& builtInLists_;
    const CabinetExtractionOptions cabinetOptions_;
};

} // namespace trust
} // namespace Orvik
