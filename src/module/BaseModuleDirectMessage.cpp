#include "module/BaseModule.h"

#include "Logging/Logger.h"

namespace Orvik {
namespace {
UM_LOG_SOURCE_NAMED(L"BaseModule", L"Orvik::BaseModule");
}

ModuleStatus BaseModule::directMessage(const MessagePtr& message)
{
    // Held for the dispatch: a new initialisation may replace the bus meanwhile.
    const std::shared_ptr<MessageBus> bus = messageBus();
    DirectDispatch* dispatch = bus ? bus->directDispatcher() : nullptr;
    if (dispatch == nullptr)
        return logging::fail(MODULE_STATUS_INVALID_STATE, UM_HERE,
                             L"Failed to process direct message. Invalid message bus client.");
    const ModuleStatus status = dispatch->directDispatch(message);
    if (status.failed())
        logging::error(UM_HERE, L"Failed to process direct message. Module: %ls. Module Status: %ls(%lu)", moduleName().c_str(),
                     getStatusName(status), status);
    return status;
}

} // namespace Orvik
