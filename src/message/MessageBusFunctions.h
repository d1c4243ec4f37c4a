#pragma once
// The bus service's function table and the two callback entry points the
// module hands it. Plain C function pointers: this is the boundary with the
// service library.

#include "message/MessageHeader.h"

#include <cstdint>

namespace Orvik {

extern "C" {

// Called by the service for each message delivered to a subscription.
typedef std::uint32_t (*BusMessageCallback)(void* context, const MessageHeader* header, const wchar_t* name,
                                            const wchar_t* sender, const wchar_t* payload);
// Called by the service once per accepted request: status 0 with the reply, or a
// failure status (a time-out) with no usable reply.
typedef std::uint32_t (*BusReplyCallback)(void* context, std::uint64_t replyIndex, const MessageHeader* header,
                                          const wchar_t* name, const wchar_t* sender, const wchar_t* payload,
                                          std::uint32_t status);

typedef std::uint32_t (*BusOpenFunction)(void** handle);
typedef std::uint32_t (*BusCloseFunction)(void* handle);
typedef std::uint32_t (*BusPublishFunction)(void* handle, const MessageHeader* header, const wchar_t* name,
                                            const wchar_t* sender, const wchar_t* payload);
typedef std::uint32_t (*BusRequestFunction)(void* handle, std::uint64_t replyIndex, void* context,
                                            BusReplyCallback replyCallback, const MessageHeader* header,
                                            const wchar_t* name, const wchar_t* sender, const wchar_t* payload,
                                            std::int64_t timeLimitMs);
// Returns the subscription id; 0 means the subscription was refused.
typedef std::uint32_t (*BusSubscribeFunction)(void* handle, void* context, BusMessageCallback messageCallback,
                                              const wchar_t* nameOrPattern);
typedef std::uint32_t (*BusUnsubscribeFunction)(void* handle, std::uint32_t subscriptionId);
typedef std::uint32_t (*BusCancelRequestsFunction)(void* handle, BusReplyCallback replyCallback);

} // extern "C"

// The ten entries, in the order the service lays them out.
struct MessageBusFunctions {
    BusOpenFunction open;
    BusCloseFunction close;
    BusPublishFunction publish;
    BusRequestFunction request;
    BusSubscribeFunction subscribe;
    BusSubscribeFunction subscribeFilter;
    BusUnsubscribeFunction unsubscribe;
    BusCancelRequestsFunction cancelRequests;
    BusPublishFunction publishEx;
    BusRequestFunction requestEx;
};
static_assert(sizeof(MessageBusFunctions) == 10 * sizeof(void*), "the service lays out ten pointer slots");

// The interface version a client asks the service library's CreateObject for.
constexpr std::uint32_t kMessageBusInterfaceVersion = 2001000;

} // namespace Orvik
