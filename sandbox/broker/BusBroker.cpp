// The four exports of BusBroker.dll and the C function table over the broker.

#include "BusBroker.h"

#include "Broker.h"
#include "status/ModuleStatus.h"

namespace {

using busbroker::Broker;
using Orvik::BusMessageCallback;
using Orvik::BusReplyCallback;
using Orvik::MessageHeader;

// Nothing thrown inside the broker may reach the caller's C code.
template <typename Work>
std::uint32_t guarded(Work&& work, std::uint32_t onException = MODULE_STATUS_UNKNOWN_EXCEPTION.value()) noexcept
{
    try {
        return work();
    } catch (...) {
        return onException;
    }
}

std::uint32_t busOpen(void** handle)
{
    return guarded([&] { return Broker::instance().open(handle); });
}

std::uint32_t busClose(void* handle)
{
    return guarded([&] { return Broker::instance().close(handle); });
}

std::uint32_t busPublish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* payload)
{
    return guarded([&] { return Broker::instance().publish(handle, header, name, sender, payload); });
}

std::uint32_t busRequest(void* handle, std::uint64_t replyIndex, void* context, BusReplyCallback callback,
                         const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* payload, std::int64_t timeLimitMs)
{
    return guarded([&] {
        return Broker::instance().request(handle, replyIndex, context, callback, header, name, sender, payload,
                                          timeLimitMs);
    });
}

std::uint32_t busSubscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name)
{
    return guarded([&] { return Broker::instance().subscribe(handle, context, callback, name, false); }, 0);
}

std::uint32_t busSubscribeFilter(void* handle, void* context, BusMessageCallback callback, const wchar_t* pattern)
{
    return guarded([&] { return Broker::instance().subscribe(handle, context, callback, pattern, true); }, 0);
}

std::uint32_t busUnsubscribe(void* handle, std::uint32_t id)
{
    return guarded([&] { return Broker::instance().unsubscribe(handle, id); });
}

std::uint32_t busCancelRequests(void* handle, BusReplyCallback callback)
{
    return guarded([&] { return Broker::instance().cancelRequests(handle, callback); });
}

constexpr Orvik::MessageBusFunctions kFunctions = {
    &busOpen,      &busClose,       &busPublish,        &busRequest, &busSubscribe,
    &busSubscribeFilter, &busUnsubscribe, &busCancelRequests, &busPublish, &busRequest,
};

} // namespace

extern "C" {

const Orvik::MessageBusFunctions* CreateObject(std::uint32_t interfaceVersion)
{
    return interfaceVersion == Orvik::kMessageBusInterfaceVersion ? &kFunctions : nullptr;
}

void ReleaseObject() {}

std::uint32_t GetVersionNum()
{
    return 2001000;
}

const char* GetVersionStr()
{
    return "2.1.0";
}

} // extern "C"
