#include "module/ModuleBusBinding.h"

#include "Logging/Logger.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "module/BaseModule.h"

namespace Orvik {
namespace internal {
namespace {
UM_LOG_SOURCE_NAMED(L"ModuleFunctions", L"Orvik::internal");
}

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
    if (name == nullptr || sender == nullptr || payload == nullptr)
        return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                             L"Direct message is missing its name, sender or payload. Returning.");
    MessagePtr message = createMessage(name, sender, payload);
    if (!message)
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Failed to create direct message. Returning.");
    copyHeader(message, static_cast<const MessageHeader*>(header));
    return module.directMessage(message);
}

} // namespace internal
} // namespace Orvik
