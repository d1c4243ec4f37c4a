#include "module/BaseModule.h"

#include "Logging/Logger.h"

namespace Orvik {

ModuleStatus BaseModule::directMessage(const MessagePtr& message)
{
    constexpr wchar_t kFunction[] = L"Orvik::BaseModule::directMessage";
    DirectDispatch* dispatch = messageBus_ ? messageBus_->directDispatcher() : nullptr;
    if (dispatch == nullptr) {
        UM_LOG_ERROR(L"BaseModule", kFunction, __LINE__, L"Failed to process direct message. Invalid message bus client.");
        return MODULE_STATUS_INVALID_STATE;
    }
    const ModuleStatus status = dispatch->directDispatch(message);
    if (status != MODULE_STATUS_SUCCESS)
        UM_LOG_ERROR(L"BaseModule", kFunction, __LINE__,
                     L"Failed to process direct message. Module: %ls. Module Status: %ls(%lu)", moduleName_.c_str(),
                     getStatusName(status), status);
    return status;
}

} // namespace Orvik
