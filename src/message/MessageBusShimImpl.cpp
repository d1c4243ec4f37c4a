#include "message/MessageBusShimImpl.h"

#include "Logging/Logger.h"
#include "message/Message.h"
#include "message/MessageBusCallbacks.h"
#include "status/ModuleException.h"

namespace Orvik {
namespace {
UM_LOG_SOURCE(L"Orvik::MessageBusShimImpl");

// A table with a hole is a broken service; refuse the call instead of jumping to null.
bool entryPresent(const void* entry, const wchar_t* entryName)
{
    if (entry != nullptr)
        return true;
    logging::error(UM_HERE_NAMED(L"Orvik::MessageBusShimImpl"), L"Message bus functions object has no %ls entry.",
                   entryName);
    return false;
}
} // namespace

MessageBusShimImpl::MessageBusShimImpl(void* busHandle, const MessageBusFunctions* functions)
    : busHandle_(busHandle), functions_(functions)
{
    if (busHandle_ == nullptr) {
        logging::error(UM_HERE, L"Invalid message bus handle. Throwing ModuleException.");
        throw ModuleException("Invalid message bus handle");
    }
    if (functions_ == nullptr) {
        logging::error(UM_HERE, L"Invalid message bus functions object. Throwing ModuleException.");
        throw ModuleException("Invalid message bus functions object");
    }
}

MessageBusShimImpl::~MessageBusShimImpl()
{
    try {
        cancelRequests();
    } catch (...) {
        logging::error(UM_HERE, L"Unexpected exception while cancelling the pending requests.");
    }
}

ModuleStatus MessageBusShimImpl::publish(const MessagePtr& message, bool extended)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const BusPublishFunction entry = extended ? functions_->publishEx : functions_->publish;
    if (!entryPresent(reinterpret_cast<const void*>(entry), extended ? L"publishEx" : L"publish"))
        return MODULE_STATUS_NOT_SUPPORTED;
    return entry(busHandle_, message->getHeader(), message->getName().c_str(), message->getSender().c_str(),
                 message->getPayload().c_str());
}

ModuleStatus MessageBusShimImpl::request(const MessagePtr& message, std::uint64_t replyIndex, void* context,
                                         std::int64_t timeLimitMs, bool extended)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const BusRequestFunction entry = extended ? functions_->requestEx : functions_->request;
    if (!entryPresent(reinterpret_cast<const void*>(entry), extended ? L"requestEx" : L"request"))
        return MODULE_STATUS_NOT_SUPPORTED;
    return entry(busHandle_, replyIndex, context, &internal::replyCallbackEntry, message->getHeader(),
                 message->getName().c_str(), message->getSender().c_str(), message->getPayload().c_str(),
                 timeLimitMs);
}

void MessageBusShimImpl::cancelRequests()
{
    if (!entryPresent(reinterpret_cast<const void*>(functions_->cancelRequests), L"cancelRequests"))
        return;
    const ModuleStatus status = functions_->cancelRequests(busHandle_, &internal::replyCallbackEntry);
    if (status.failed())
        logging::warning(UM_HERE, L"Failed to cancel the pending requests. Error code %lu.", status);
}

std::uint32_t MessageBusShimImpl::subscribe(const std::wstring& name, void* context)
{
    if (!entryPresent(reinterpret_cast<const void*>(functions_->subscribe), L"subscribe"))
        return 0;
    return functions_->subscribe(busHandle_, context, &internal::messageCallbackEntry, name.c_str());
}

std::uint32_t MessageBusShimImpl::subscribeFilter(const std::wstring& pattern, void* context)
{
    if (!entryPresent(reinterpret_cast<const void*>(functions_->subscribeFilter), L"subscribeFilter"))
        return 0;
    return functions_->subscribeFilter(busHandle_, context, &internal::messageCallbackEntry, pattern.c_str());
}

ModuleStatus MessageBusShimImpl::unsubscribe(std::uint32_t subscriptionId)
{
    if (!entryPresent(reinterpret_cast<const void*>(functions_->unsubscribe), L"unsubscribe"))
        return MODULE_STATUS_NOT_SUPPORTED;
    return functions_->unsubscribe(busHandle_, subscriptionId);
}

} // namespace Orvik
