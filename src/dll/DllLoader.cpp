#include "dll/DllLoader.h"

#include "Logging/Logger.h"
#include "status/ModuleStatus.h"

#include <utility>

namespace Orvik {
namespace {

// Records keep the name the file had before the verified load moved here.
UM_LOG_SOURCE_NAMED(L"wrappers\\DllLoader", L"Orvik::DllLoader");

} // namespace

DllLoader::DllLoader(std::shared_ptr<DllAPI> api) : api_(api ? std::move(api) : std::make_shared<DllAPI>()) {}

bool DllLoader::loadDLL(const std::wstring& path, HMODULE* module)
{
    if (module == nullptr) {
        logging::warning(UM_HERE, L"Invalid pHandle specified. Exiting.");
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
        // Reported below with the status it stands for.
        status = MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
    if (status.failed()) {
        const DWORD lastError = ::GetLastError();
        *module = nullptr;
        logging::error(UM_HERE, L"Failed to load library. Error code: %ls(%lu).", getStatusName(status), status);
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
        // Reported below like any name that is not found.
        address = nullptr;
    }
    if (address == nullptr)
        logging::warning(UM_HERE, L"getProcAddress was unsuccessful in finding the handle's address");
    return address;
}

bool DllLoader::free(HMODULE module)
{
    return api_->FreeLibrary(module);
}

} // namespace Orvik
