#include "trust/TrustValidator.h"

#include "trust/FileSignatureCheck.h"
#include "trust/NotComDllGetInterface.h"
#include "trust/ProductRegistry.h"
#include "trust/TrustAnchors.h"
#include "win/UniqueHandle.h"

#include <new>
#include <type_traits>

namespace Orvik {
namespace trust {

namespace {

constexpr DWORD kServiceFlagsUpTo1504 = 4;
constexpr DWORD kServiceFlagsAbove1504 = 512;
constexpr DWORD kVerdictBitUpTo1504 = 0x1;
constexpr DWORD kVerdictBitAbove1504 = 0x8;
constexpr DWORD kMaxCoreVersionBytes = 128;

bool hasCabinetExtension(const std::wstring& path)
{
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t slash = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return false;
    const std::wstring extension = path.substr(dot);
    return ::CompareStringOrdinal(extension.c_str(), -1, L".cab", -1, TRUE) == CSTR_EQUAL;
}

DWORD readCoreVersion(HKEY key)
{
    wchar_t text[kMaxCoreVersionBytes / sizeof(wchar_t) + 1] = {};
    DWORD type = 0;
    DWORD size = kMaxCoreVersionBytes;
    if (::RegQueryValueExW(key, L"system_core_version", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return kDefaultCoreVersion;
    text[size / sizeof(wchar_t)] = L'\0';
    return coreVersionFromText(text);
}

// The process validator lives in static storage and is never destroyed: its
// service interface belongs to another library, which must not be called
// while this one is being unloaded.
INIT_ONCE g_validatorOnce = INIT_ONCE_STATIC_INIT;
std::aligned_storage_t<sizeof(TrustValidator), alignof(TrustValidator)> g_validatorStorage;
TrustValidator* g_validator = nullptr;

BOOL CALLBACK createProcessValidator(PINIT_ONCE, PVOID, PVOID*)
{
    try {
        TrustCatalog& catalog = TrustCatalog::instance();
        const TrustLists& lists = builtInTrustLists();
        TrustValidator::Settings settings;
        try {
            settings = TrustValidator::readSettings(lists);
        } catch (...) {
            settings = TrustValidator::Settings{};
        }
        g_validator = new (&g_validatorStorage) TrustValidator(settings.coreVersion, std::move(settings.control), catalog, lists);
    } catch (...) {
        g_validator = nullptr;
    }
    return TRUE;
}

} // namespace

TrustValidator::TrustValidator(DWORD coreVersion, win::ComPtr<IlexValidationControl> control, TrustCatalog& catalog,
                               const TrustLists& builtInLists, CabinetExtractionOptions cabinetOptions)
    : coreVersion_(coreVersion),
      control_(std::move(control)),
      catalog_(catalog),
      builtInLists_(builtInLists),
      cabinetOptions_(std::move(cabinetOptions))
{
}

TrustValidator* TrustValidator::instance() noexcept
{
    ::InitOnceExecuteOnce(&g_validatorOnce, createProcessValidator, nullptr, nullptr);
    return g_validator;
}

TrustValidator::Settings TrustValidator::readSettings(const TrustLists& builtInLists)
{
    Settings settings;
    {
        win::UniqueRegKey key;
        if (!openProductKey(key.put()))
            return settings;  // no service, core version 0: the own check decides
        settings.coreVersion = readCoreVersion(key.get());
    }
    void* control = nullptr;
    // The service may vouch for any file, so it is used only when its own
    // library is signed by the maker.
    const auto signedByMaker = [&builtInLists](const std::wstring& library) {
        return checkFileSignature(library, builtInLists);
    };
    const DWORD status = notComDllGetInterface(
        L"ilexval.dll", "IlexValidationControl", &control, nullptr,
        [](std::wstring* folder) { return readInstallFolder(folder); }, signedByMaker);
    if (status == 0)
        settings.control = win::ComPtr<IlexValidationControl>(static_cast<IlexValidationControl*>(control));
    return settings;
}

std::unique_ptr<TrustValidator> TrustValidator::createFromRegistry(TrustCatalog& catalog,
                                                                   const TrustLists& builtInLists)
{
    Settings settings = readSettings(builtInLists);
    return std::make_unique<TrustValidator>(settings.coreVersion, std::move(settings.control), catalog,
                                            builtInLists);
}

DWORD TrustValidator::validateFile(const wchar_t* path) const
{
    if (path == nullptr || *path == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        if (serviceAccepts(path))
            return ERROR_SUCCESS;
        return ownCheck(path) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    } catch (...) {
        return ERROR_ACCESS_DENIED;
    }
}

bool TrustValidator::serviceAccepts(const wchar_t* path) const
{
    if (!control_)
        return false;
    const bool laterCore = coreVersion_ > kDefaultCoreVersion;
    IlexValidationResult result{};
    control_->ValidateFile(path, laterCore ? kServiceFlagsAbove1504 : kServiceFlagsUpTo1504, &result);
    const DWORD verdictBit = laterCore ? kVerdictBitAbove1504 : kVerdictBitUpTo1504;
    return (result.status & kIlexVerdictValid) != 0 && (result.verdict & verdictBit) != 0;
}

bool TrustValidator::checkWithListsAndCatalog(const std::wstring& path, DWORD minCatalogVersion) const
{
    switch (catalog_.checkFile(path)) {
    case TrustCatalog::CheckResult::Passed:
        return true;
    case TrustCatalog::CheckResult::Failed:
        // Once loaded, only the catalog's lists count; a newer catalog that
        // another process installed may trust the file.
        return catalog_.replacementAnnounced() && catalog_.reload() &&
               catalog_.checkFile(path) == TrustCatalog::CheckResult::Passed;
    case TrustCatalog::CheckResult::NotUsed:
        break;
    }
    if (checkFileSignature(path, builtInLists_))
        return true;
    return catalog_.load() && catalog_.checkFile(path, minCatalogVersion) == TrustCatalog::CheckResult::Passed;
}

bool TrustValidator::ownCheck(const std::wstring& path, DWORD minCatalogVersion) const
{
    if (checkWithListsAndCatalog(path, minCatalogVersion))
        return true;
    if (!hasCabinetExtension(path))
        return false;
    bool installed = false;
    {
        std::unique_ptr<ExtractedCatalog> extracted = extractTrustedCatalog(path, cabinetOptions_);
        if (!extracted)
            return false;
        installed = catalog_.installCatalog(extracted->path());
    }
    return installed && checkWithListsAndCatalog(path, minCatalogVersion);
}

} // namespace trust
} // namespace Orvik
