#pragma once
// The bus service as the bus client sees it: a small virtual interface over
// the service's function table, working on Message objects.

#include "message/MessageBus.h"

#include <cstdint>
#include <string>

namespace Orvik {

class MessageBusShim {
public:
    virtual ~MessageBusShim() = default;
    // `extended` selects the service's publishEx form.
    virtual ModuleStatus publish(const MessagePtr& message, bool extended) = 0;
    // `extended` selects the service's requestEx form; `context` comes back with the reply.
    virtual ModuleStatus request(const MessagePtr& message, std::uint64_t replyIndex, void* context,
                                 std::int64_t timeLimitMs, bool extended) = 0;
    virtual void cancelRequests() = 0;
    // Subscription id, 0 when the service refused.
    virtual std::uint32_t subscribe(const std::wstring& name, void* context) = 0;
    virtual std::uint32_t subscribeFilter(const std::wstring& pattern, void* context) = 0;
    virtual ModuleStatus unsubscribe(std::uint32_t subscriptionId) = 0;
};

} // namespace Orvik
