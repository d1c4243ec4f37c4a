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
UM_LOG_SOURCE(L"Orvik");

// The module's own client of the settings service, with a bus connection of
// its own; null when the bus service cannot be bound (logged by getInstance).
std::shared_ptr<SettingsManager> obtainSettingsClient()
{
    return SettingsManagerClient::getInstance();
}
} // namespace

ModuleStatus createModule(Module** module)
{
    if (module == nullptr)
        return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE_AT(logline::kCreateModuleInvalidInput),
                             L"Invalid input");
    auto container = std::make_shared<Basalt::IOCContainer>();
    // Every request gets an agent handle of its own.
    container->registerType<ZuUpdateAgentHandle>(container.get());
    container->registerInstance<SettingsManager>(Basalt::defaultRegistrationName(), obtainSettingsClient());

    *module = new (std::nothrow) UpdateModuleImp(container);
    if (*module == nullptr)
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE_AT(logline::kCreateModuleFailed),
                             L"Module creation failed");
    logging::normal(UM_HERE_AT(logline::kCreateModuleSucceeded), L"Module creation succeeded");
    return MODULE_STATUS_SUCCESS;
}

void destroyModule(Module* module)
{
    logging::normal(UM_HERE_AT(logline::kDestroyModuleSucceeded), L"Module destruction succeeded");
    delete module;
}

} // namespace Orvik
