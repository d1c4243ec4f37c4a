#include "module/BaseModule.h"

#include "Logging/Logger.h"
#include "message/MessageBusClient.h"

namespace Orvik {

ModuleStatus BaseModule::directMessage(const MessagePtr& message)
{
    constexpr wchar_t kFunction[] = L"Orvik::BaseModule::directMessage";
    auto* client = dynamic_cast<MessageBusClient*>(messageBus_.get());
    if (client == nullptr) {
        UM_LOG_ERROR(L"BaseModule", kFunction, __LINE__, L"Failed to process direct message. Invalid message bus client.");
        return MODULE_STATUS_INVALID_STATE;
    }
    const ModuleStatus status = client->directDispatch(message);
    if (status != MODULE_STATUS_SUCCESS)
        UM_LOG_ERROR(L"BaseModule", kFunction, __LINE__,
                     L"Failed to process direct message. Module: %ls. Module Status: %ls(%lu)", moduleName_.c_str(),
                     getStatusName(status), status);
    return status;
}

} // namespace Orvik
