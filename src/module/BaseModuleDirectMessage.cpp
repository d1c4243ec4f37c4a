#include "module/BaseModule.h"

#include "Logging/Logger.h"

namespace Orvik {

ModuleStatus BaseModule::directMessage(const MessagePtr& message)
{
    constexpr wchar_t kFunction[] = L"Orvik::BaseModule::directMessage";
    // Held for the dispatch: a new initialisation may replace the bus meanwhile.
    const std::shared_ptr<MessageBus> bus = messageBus();
    DirectDispatch* dispatch = bus ? bus->directDispatcher() : nullptr;
    if (dispatch == nullptr) {
        UM_LOG_ERROR(L"BaseModule", kFunction, __LINE__, L"Failed to process direct message. Invalid message bus client.");
        return MODULE_STATUS_INVALID_STATE;
    }
    const ModuleStatus status = dispatch->directDispatch(message);
    if (status != MODULE_STATUS_SUCCESS)
        UM_LOG_ERROR(L"BaseModule", kFunction, __LINE__,
                     L"Failed to process direct message. Module: %ls. Module Status: %ls(%lu)", moduleName().c_str(),
                     getStatusName(status), status);
    return status;
}

} // namespace Orvik
