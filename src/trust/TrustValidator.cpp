#include "trust/TrustValidator.h"

#include "Logging/Logger.h"
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
UM_LOG_SOURCE(L"Orvik::trust::TrustValidator");

bool hasCabinetExtension(const std::wstring& path)
{
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t slash = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return false;
    const std::wstring extension = path.substr(dot);
    return ::CompareStringOrdinal(extension.c_str(), -1, L".cab", -1, TRUE) == CSTR_EQUAL;
}

DWORD readCoreVersion(const win::RegistryKey& key)
{
    const win::RegistryRead<std::wstring> text = key.readString(L"system_core_version", RRF_RT_REG_SZ);
    if (!text.ok() || (text.value.size() + 1) * sizeof(wchar_t) > kMaxCoreVersionBytes)
        return kDefaultCoreVersion;
    return coreVersionFromText(text.value.c_str());
}

// The process validator lives in static storage and is never destroyed: its
// service interface belongs to another library, which must not be called
// while this one is being unloaded.
INIT_ONCE g_validatorOnce = INIT_ONCE_STATIC_INIT;
std::aligned_storage_t<sizeof(TrustValidator), alignof(TrustValidator)> g_validatorStorage;
TrustValidator* g_validator = nullptr;

// The module this code is linked into: the service library's second home.
HMODULE moduleOfThisCode()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&moduleOfThisCode), &module);
    return module;
}

BOOL CALLBACK createProcessValidator(PINIT_ONCE, PVOID, PVOID*)
{
    try {
        TrustCatalog& catalog = TrustCatalog::instance();
        const TrustLists& lists = builtInTrustLists();
        TrustValidator::Settings settings;
        try {
            settings = TrustValidator::readSettings(lists);
        } catch (...) {
            // Without the service the module's own check decides.
            logging::warning(UM_HERE_NAMED(L"Orvik::trust::createProcessValidator"),
                             L"Failed to read the validation settings. The own check decides.");
            settings = TrustValidator::Settings{};
        }
        g_validator = new (&g_validatorStorage) TrustValidator(settings.coreVersion, std::move(settings.control), catalog, lists);
        TrustValidator::announceTestAnchors();
    } catch (...) {
        // No validator: every file asked about is refused.
        logging::error(UM_HERE_NAMED(L"Orvik::trust::createProcessValidator"),
                       L"Failed to create the process validator. Every file is refused.");
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
        const win::RegistryKey key = openProductKey();
        if (!key)
            return settings;  // no service, core version 0: the own check decides
        settings.coreVersion = readCoreVersion(key);
    }
    void* control = nullptr;
    // The service may vouch for any file, so it is used only when its own
    // library is signed by the maker.
    const auto signedByMaker = [&builtInLists](const win::HeldFile& library) {
        return checkFileSignature(library, builtInLists);
    };
    const DWORD status = notComDllGetInterface(
        L"ilexval.dll", "IlexValidationControl", &control, moduleOfThisCode(),
        [](std::wstring* folder) { return readInstallFolder(folder); }, signedByMaker);
    if (status == 0)
        settings.control = win::ComPtr<IlexValidationControl>(static_cast<IlexValidationControl*>(control));
    return settings;
}

std::unique_ptr<TrustValidator> TrustValidator::createFromRegistry(TrustCatalog& catalog,
                                                                   const TrustLists& builtInLists)
{
    Settings settings = readSettings(builtInLists);
    auto validator = std::make_unique<TrustValidator>(settings.coreVersion, std::move(settings.control), catalog,
                                                      builtInLists);
    announceTestAnchors();
    return validator;
}

void TrustValidator::announceTestAnchors()
{
    if (trustAnchorsAreForTests())
        logging::warning(UM_HERE, L"This build trusts the test PKI's anchors: code signed with test keys is accepted. "
                                  L"Not for release.");
}

DWORD TrustValidator::validateFile(const wchar_t* path) const
{
    if (path == nullptr || *path == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        return validateHeldFile(win::HeldFile(path));
    } catch (...) {
        logging::error(UM_HERE, L"Unexpected exception while holding %ls. It is refused.", path);
        return ERROR_ACCESS_DENIED;
    }
}

DWORD TrustValidator::validateHeldFile(const win::HeldFile& file) const
{
    if (file.path().empty())
        return ERROR_INVALID_PARAMETER;
    try {
        // A file that cannot be held cannot be vouched for.
        if (!file)
            return ERROR_ACCESS_DENIED;
        if (serviceAccepts(file))
            return ERROR_SUCCESS;
        return ownCheck(file) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    } catch (...) {
        logging::error(UM_HERE, L"Unexpected exception while validating %ls. It is refused.", file.path().c_str());
        return ERROR_ACCESS_DENIED;
    }
}

bool TrustValidator::serviceAccepts(const win::HeldFile& file) const
{
    if (!control_)
        return false;
    const bool laterCore = coreVersion_ > kDefaultCoreVersion;
    IlexValidationResult result{};
    control_->ValidateFile(file.path().c_str(), laterCore ? kServiceFlagsAbove1504 : kServiceFlagsUpTo1504,
                           &result);
    const DWORD verdictBit = laterCore ? kVerdictBitAbove1504 : kVerdictBitUpTo1504;
    return (result.status & kIlexVerdictValid) != 0 && (result.verdict & verdictBit) != 0;
}

bool TrustValidator::checkWithListsAndCatalog(const win::HeldFile& file, DWORD minCatalogVersion) const
{
    // A catalog on disk counts from the first check of the process: its
    // denied serials must never wait for some other check to fail first.
    if (!catalog_.isLoaded() && !catalog_.load() && catalog_.lastReadStatus() == CatalogReadStatus::Locked)
        return false;  // it is there, but what it denies cannot be told now
    TrustCatalog::CheckResult result = catalog_.checkFile(file, minCatalogVersion);
    if (result == TrustCatalog::CheckResult::Passed)
        return true;
    if (result == TrustCatalog::CheckResult::NotUsed && checkFileSignature(file, builtInLists_))
        return true;
    // A newer catalog another process installed may trust the file.
    return catalog_.replacementAnnounced() && catalog_.reload() &&
           catalog_.checkFile(file, minCatalogVersion) == TrustCatalog::CheckResult::Passed;
}

TrustValidator::OwnCheckExplanation TrustValidator::explainOwnCheck(const win::HeldFile& file,
                                                                    DWORD minCatalogVersion) const
{
    OwnCheckExplanation explanation;
    if (!catalog_.isLoaded())
        catalog_.load();
    explanation.catalogVersion = catalog_.version();
    explanation.catalogLists = catalog_.isLoaded() && explanation.catalogVersion > minCatalogVersion;
    const TrustLists catalogLists = explanation.catalogLists ? catalog_.lists() : TrustLists{};
    explanation.passed = checkFileSignature(file, explanation.catalogLists ? catalogLists : builtInLists_,
                                            &explanation.signature);
    return explanation;
}

bool TrustValidator::ownCheck(const win::HeldFile& file, DWORD minCatalogVersion) const
{
    if (checkWithListsAndCatalog(file, minCatalogVersion))
        return true;
    if (!hasCabinetExtension(file.path()))
        return false;
    bool installed = false;
    {
        std::unique_ptr<ExtractedCatalog> extracted = extractTrustedCatalog(file.path(), cabinetOptions_);
        if (!extracted)
            return false;
        installed = catalog_.installCatalog(extracted->path());
    }
    return installed && checkWithListsAndCatalog(file, minCatalogVersion);
}

} // namespace trust
} // namespace Orvik
