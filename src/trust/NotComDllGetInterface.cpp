#include "trust/NotComDllGetInterface.h"
#include "win/ModulePath.h"

#include "Logging/WideFormat.h"
#include "trust/ProductRegistry.h"
#include "trust/WinTrustFile.h"
#include "win/LastError.h"
#include "win/UniqueHandle.h"

#include <softpub.h>
#include <wintrust.h>

#include <cwchar>

namespace Orvik {

namespace trust {

namespace {

using ExportedGetInterface = DWORD (*)(const char*, void**);

constexpr DWORD kServiceTrustProviderFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
static_assert(kServiceTrustProviderFlags == 0x1010, "provider flags of the service library check");

// One WinVerifyTrust verification of a held file whose state is closed when it ends.
class ServiceTrustCheck {
public:
    explicit ServiceTrustCheck(const win::HeldFile& library)
    {
        library.rewind();
        describeFileForTrust(library.path().c_str(), library.get(), WTD_STATEACTION_VERIFY,
                             kServiceTrustProviderFlags, file_, data_);
        result_ = ::WinVerifyTrust(nullptr, &action_, &data_);
    }
    ~ServiceTrustCheck()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(nullptr, &action_, &data_);
    }
    ServiceTrustCheck(const ServiceTrustCheck&) = delete;
    ServiceTrustCheck& operator=(const ServiceTrustCheck&) = delete;

    LONG result() const { return result_; }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG result_ = 0;
};

bool isAbsoluteName(const std::wstring& name)
{
    return name.size() < 3 || name[0] == L'\\' || name[1] == L':';
}

std::wstring joinPath(std::wstring folder, const std::wstring& name)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder + name;
}

// WinVerifyTrust's answer for the library, or why it could not be held.
LONG serviceTrustResult(const win::HeldFile& library)
{
    if (!library) {
        const DWORD error = library.openError();
        return static_cast<LONG>(error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error);
    }
    ServiceTrustCheck check(library);
    return check.result();
}

bool isNotFound(LONG result)
{
    return result == ERROR_FILE_NOT_FOUND || static_cast<DWORD>(result) == 0x80092003;  // CRYPT_E_FILE_ERROR
}

std::wstring moduleFolder(HMODULE module)
{
    std::wstring path = win::modulePath(module);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

} // namespace

bool isAcceptedServiceTrustResult(LONG result)
{
    switch (static_cast<DWORD>(result)) {
    case 0:
    case 0x80092026:  // CRYPT_E_SECURITY_SETTINGS
    case 0x800B0101:  // CERT_E_EXPIRED
    case 0x800B010E:  // CERT_E_REVOCATION_FAILURE
        return true;
    default:
        return false;
    }
}

DWORD notComDllGetInterface(const wchar_t* fileName, const char* interfaceName, void** out, HMODULE module,
                            const InstallFolderReader& readInstallFolder, const LibraryVetting& vet)
{
    if (out == nullptr)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    if (fileName == nullptr || std::wcslen(fileName) >= MAX_PATH)
        return ERROR_INVALID_PARAMETER;

    const std::wstring name(fileName);
    const bool absolute = isAbsoluteName(name);
    std::wstring installFolder;
    // Without an install folder the library can only be next to the module.
    const bool inInstallFolder = !absolute && readInstallFolder && readInstallFolder(&installFolder);
    win::HeldFile library;
    LONG result = ERROR_FILE_NOT_FOUND;
    if (absolute || inInstallFolder) {
        library = win::HeldFile(absolute ? name : joinPath(installFolder, name));
        result = serviceTrustResult(library);
    }
    if (isNotFound(result) && !absolute) {
        ::OutputDebugStringW(
            L"NotComDllGetInterface: DLL not found in install location, looking in current directory");
        const std::wstring folder = moduleFolder(module);
        if (!folder.empty()) {
            library = win::HeldFile(joinPath(folder, name));
            result = serviceTrustResult(library);
        }
    }
    if (!isAcceptedServiceTrustResult(result)) {
        const std::wstring message =
            Basalt::formatWide(L"NotComDllGetInterface: %s loading %s, WinVerifyTrust failed with %08x\n",
                               win::modulePath(nullptr).c_str(), fileName, static_cast<unsigned>(result));
        ::OutputDebugStringW(message.c_str());
        return static_cast<DWORD>(result);
    }

    if (vet && !vet(library))
        return ERROR_ACCESS_DENIED;

    // Loaded from the file still held since its check; what it imports comes
    // from System32 only, never from a folder someone else may write to.
    win::UniqueLibrary loaded = library.loadLibrary(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!loaded) {
        return win::lastErrorOr(ERROR_FILE_NOT_FOUND);
    }
    using AnyFunction = void (*)();
    auto getInterface = reinterpret_cast<ExportedGetInterface>(
        reinterpret_cast<AnyFunction>(::GetProcAddress(loaded.get(), "NotComDllGetInterface")));
    if (getInterface == nullptr) {
        return win::lastErrorOr(ERROR_FILE_NOT_FOUND);
    }
    const DWORD status = getInterface(interfaceName, out);
    if (status == 0 && *out != nullptr) {
        // The interface's code lives in the library: unloading it now would
        // leave the caller a pointer into freed code. It stays loaded.
        static_cast<void>(loaded.release());
    } else {
        *out = nullptr;
    }
    return status;
}

} // namespace trust

DWORD NotComDllGetInterface(const wchar_t* fileName, const char* interfaceName, void** out, HMODULE module)
{
    return trust::notComDllGetInterface(fileName, interfaceName, out, module,
                                        [](std::wstring* folder) { return trust::readInstallFolder(folder); });
}

} // namespace Orvik
