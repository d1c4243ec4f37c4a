#include "trust/TrustCatalog.h"

#include "trust/FileSignatureCheck.h"
#include "trust/TrustAnchors.h"

#include <shlwapi.h>

namespace Orvik {
namespace trust {

const wchar_t kCatalogAtomName[] = L"6E2B7F3C-1D84-4B9A-A5C0-93F1E7D2B846";

namespace {

constexpr wchar_t kCatalogRelativePath[] = L"Program Files\\Common Files\\Corvane\\Platform\\Core\\trusted.js";

} // namespace

TrustCatalog::TrustCatalog(std::wstring path, std::wstring atomName, Thumbprint signerThumbprint)
    : path_(std::move(path)), atomName_(std::move(atomName)), signer_(std::move(signerThumbprint))
{
}

TrustCatalog& TrustCatalog::instance()
{
    static TrustCatalog catalog(defaultPath(), kCatalogAtomName, catalogSignerThumbprint());
    return catalog;
}

std::wstring TrustCatalog::defaultPath()
{
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    if (!::PathStripToRootW(windows))
        return {};
    std::wstring root(windows);
    if (!root.empty() && root.back() != L'\\')
        root += L'\\';
    return root + kCatalogRelativePath;
}

TrustCatalog::CheckResult TrustCatalog::checkFile(const win::HeldFile& file, DWORD versionAbove) const
{
    win::SharedGuard guard(lock_);
    if (!loaded_ || content_.version <= versionAbove)
        return CheckResult::NotUsed;
    return checkFileSignature(file, content_.lists) ? CheckResult::Passed : CheckResult::Failed;
}

TrustCatalog::CheckResult TrustCatalog::checkFile(const std::wstring& file, DWORD versionAbove) const
{
    return checkFile(win::HeldFile(file), versionAbove);
}

bool TrustCatalog::isLoaded() const
{
    win::SharedGuard guard(lock_);
    return loaded_;
}

DWORD TrustCatalog::version() const
{
    win::SharedGuard guard(lock_);
    return loaded_ ? content_.version : 0;
}

CatalogReadStatus TrustCatalog::lastReadStatus() const
{
    win::SharedGuard guard(lock_);
    return lastStatus_;
}

bool TrustCatalog::load()
{
    win::ExclusiveGuard guard(lock_);
    return loadLocked();
}

bool TrustCatalog::reload()
{
    win::ExclusiveGuard guard(lock_);
    if (path_.empty())
        return false;
    // Read aside: a catalog that cannot be read now (another process holding
    // its lock, say) must not take the loaded one's lists away.
    std::optional<CatalogContent> content = readVerified(path_, signer_, &lastStatus_);
    if (!content)
        return false;
    content_ = std::move(*content);
    loaded_ = true;
    return true;
}

void TrustCatalog::clear()
{
    win::ExclusiveGuard guard(lock_);
    clearLocked();
}

bool TrustCatalog::replacementAnnounced() const
{
    return ::GlobalFindAtomW(atomName_.c_str()) != 0;
}

TrustLists TrustCatalog::lists() const
{
    win::SharedGuard guard(lock_);
    return loaded_ ? content_.lists : TrustLists{};
}

bool TrustCatalog::loadLocked()
{
    if (loaded_)
        return true;
    if (path_.empty()) {
        lastStatus_ = CatalogReadStatus::Missing;
        return false;
    }
    std::optional<CatalogContent> content = readVerified(path_, signer_, &lastStatus_);
    if (!content)
        return false;
    content_ = std::move(*content);
    loaded_ = true;
    return true;
}

void TrustCatalog::clearLocked()
{
    loaded_ = false;
    content_ = CatalogContent{};
}

} // namespace trust
} // namespace Orvik
