#include "wrappers/DllAPI.h"

#include "Logging/Logger.h"
#include "trust/SignedLibraryValidation.h"

namespace Orvik {
namespace {

constexpr wchar_t kLogFile[] = L"wrappers\\DllAPI";

} // namespace

DWORD DllAPI::loadValidated(const std::wstring& path, HMODULE* module)
{
    // The check and the load open the file separately, so the file could be
    // replaced in between. When the trust layer can hand over the checked file
    // held open against writing, renaming and deletion until the load is done,
    // this is the one place that switches to it.
    const DWORD validation = validateFile(path.c_str());
    if (validation != ERROR_SUCCESS)
        return validation;
    *module = ::LoadLibraryExW(path.c_str(), nullptr, 0);
    return *module != nullptr ? ERROR_SUCCESS : ::GetLastError();
}

bool DllAPI::loadLibrary(const std::wstring& path, HMODULE* module)
{
    HMODULE loaded = nullptr;
    const DWORD error = module != nullptr ? loadValidated(path, &loaded) : ERROR_INVALID_PARAMETER;
    if (module != nullptr)
        *module = loaded;
    if (error == ERROR_SUCCESS)
        return true;

    UM_LOG_ERROR(kLogFile, L"Orvik::DllAPI::loadLibrary", __LINE__, L"LoadLibrary Failed. GLE: %lu", error);
    // The caller reads the reason from the last error; logging must not change it.
    ::SetLastError(error);
    return false;
}

FARPROC DllAPI::GetProcAddress(HMODULE module, LPCSTR name)
{
    return ::GetProcAddress(module, name);
}

bool DllAPI::isTrusted(const std::wstring& path)
{
    return !path.empty() && validateFile(path.c_str()) == ERROR_SUCCESS;
}

bool DllAPI::FreeLibrary(HMODULE module)
{
    return ::FreeLibrary(module) != FALSE;
}

bool DllAPI::GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module)
{
    return ::GetModuleHandleExW(flags, name, module) != FALSE;
}

} // namespace Orvik
