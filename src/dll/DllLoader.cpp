#include "dll/DllLoader.h"

#include "Logging/Logger.h"
#include "status/ModuleStatus.h"

#include <utility>

namespace Orvik {
namespace {

constexpr wchar_t kLogFile[] = L"wrappers\\DllLoader";

} // namespace

DllLoader::DllLoader(std::shared_ptr<DllAPI> api) : api_(api ? std::move(api) : std::make_shared<DllAPI>()) {}

bool DllLoader::loadDLL(const std::wstring& path, HMODULE* module)
{
    constexpr wchar_t kFunction[] = L"Orvik::DllLoader::loadDLL";
    if (module == nullptr) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"Invalid pHandle specified. Exiting.");
        return false;
    }
    *module = nullptr;

    ModuleStatus status = MODULE_STATUS_UNSUCCESSFUL;
    try {
        // Already in the process: take another reference to it.
        if (api_->GetModuleHandleExW(0, path.c_str(), module) && *module != nullptr)
            return true;
        *module = nullptr;
        status = api_->loadLibrary(path, module) ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL;
    } catch (...) {
        status = MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
    if (status != MODULE_STATUS_SUCCESS) {
        const DWORD lastError = ::GetLastError();
        *module = nullptr;
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to load library. Error code: %ls(%lu).",
                     getStatusName(status), static_cast<unsigned long>(status));
        ::SetLastError(lastError);
        return false;
    }
    return true;
}

FARPROC DllLoader::getProcAddress(HMODULE module, const char* name)
{
    FARPROC address = nullptr;
    try {
        address = api_->GetProcAddress(module, name);
    } catch (...) {
        address = nullptr;
    }
    if (address == nullptr)
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, L"Orvik::DllLoader::getProcAddress", __LINE__,
               L"getProcAddress was unsuccessful in finding the handle's address");
    return address;
}

bool DllLoader::free(HMODULE module)
{
    return api_->FreeLibrary(module);
}

} // namespace Orvik
