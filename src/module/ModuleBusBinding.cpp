#include "module/ModuleBusBinding.h"

#include "Logging/Logger.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "module/BaseModule.h"

namespace Orvik {
namespace internal {

std::shared_ptr<MessageBus> createDefaultBusClient()
{
    return std::make_shared<MessageBusClient>();
}

std::shared_ptr<MessageBus> createHostBusClient(void* busHandle, const MessageBusFunctions* functions)
{
    auto shim = std::make_shared<MessageBusShimImpl>(busHandle, functions);
    return std::make_shared<MessageBusClient>(std::move(shim), nullptr);
}

ModuleStatus deliverDirectMessage(BaseModule& module, const void* header, const wchar_t* name,
                                  const wchar_t* sender, const wchar_t* payload)
{
    constexpr wchar_t kFunction[] = L"Orvik::internal::deliverDirectMessage";
    if (name == nullptr || sender == nullptr || payload == nullptr) {
        UM_LOG_ERROR(L"ModuleFunctions", kFunction, __LINE__,
                     L"Direct message is missing its name, sender or payload. Returning.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    MessagePtr message = createMessage(name, sender, payload);
    if (!message) {
        UM_LOG_ERROR(L"ModuleFunctions", kFunction, __LINE__, L"Failed to create direct message. Returning.");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    copyHeader(message, static_cast<const MessageHeader*>(header));
    return module.directMessage(message);
}

} // namespace internal
} // namespace Orvik
