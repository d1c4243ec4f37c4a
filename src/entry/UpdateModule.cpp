#include "entry/UpdateModule.h"

#include "entry/FixedLogLines.h"
#include "Logging/Logger.h"
#include "ioc/IOCContainer.h"
#include "settings/SettingsManagerClient.h"
#include "update/UpdateModuleImp.h"
#include "update/ZuUpdateAgentHandle.h"

#include <new>

namespace Orvik {
namespace {
constexpr wchar_t kLogFile[] = L"UpdateModule";

// The module's own client of the settings service, with a bus connection of
// its own; null when the bus service cannot be bound (logged by getInstance).
std::shared_ptr<SettingsManager> obtainSettingsClient()
{
    return SettingsManagerClient::getInstance();
}
} // namespace

ModuleStatus createModule(Module** module)
{
    constexpr wchar_t kFunction[] = L"Orvik::createModule";
    if (module == nullptr) {
        UM_LOG_ERROR(kLogFile, kFunction, logline::kCreateModuleInvalidInput, L"Invalid input");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    auto container = std::make_shared<Basalt::IOCContainer>();
    // Every request gets an agent handle of its own.
    container->registerType<ZuUpdateAgentHandle>(container.get());
    container->registerInstance<SettingsManager>(Basalt::defaultRegistrationName(), obtainSettingsClient());

    *module = new (std::nothrow) UpdateModuleImp(container);
    if (*module == nullptr) {
        UM_LOG_ERROR(kLogFile, kFunction, logline::kCreateModuleFailed, L"Module creation failed");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    UM_LOG(LOG_LEVEL_NORMAL, kLogFile, kFunction, logline::kCreateModuleSucceeded, L"Module creation succeeded");
    return MODULE_STATUS_SUCCESS;
}

void destroyModule(Module* module)
{
    UM_LOG(LOG_LEVEL_NORMAL, kLogFile, L"Orvik::destroyModule", logline::kDestroyModuleSucceeded, L"Module destruction succeeded");
    delete module;
}

} // namespace Orvik
