#include "dll/DllAPI.h"

#include "Logging/Logger.h"
#include "trust/SignedLibraryValidation.h"
#include "trust/VerifiedFile.h"
#include "win/UniqueHandle.h"

namespace Orvik {
namespace {

constexpr wchar_t kLogFile[] = L"wrappers\\DllAPI";

} // namespace

DWORD DllAPI::loadValidated(const std::wstring& path, HMODULE* module)
{
    // The file stays held against writing, renaming and deletion from the
    // first byte the check reads until the load is done: what is loaded is
    // what was checked.
    const VerifiedFile file = VerifiedFile::open(path.c_str());
    if (!file.trusted())
        return file.status();
    // Only the file is verified, not what it imports: its imports come from
    // its own folder and the system folder, never the current directory or PATH.
    win::UniqueLibrary loaded = file.load(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!loaded)
        return ::GetLastError();
    *module = loaded.release();
    return ERROR_SUCCESS;
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
