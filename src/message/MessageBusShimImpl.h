#pragma once
// MessageBusShim over a bus handle and function table owned by someone else
// (the host, or the bus library loader).

#include "message/MessageBusFunctions.h"
#include "message/MessageBusShim.h"

namespace Orvik {

class MessageBusShimImpl : public MessageBusShim {
public:
    // Throws ModuleException when the handle or the table is missing (handle checked first).
    MessageBusShimImpl(void* busHandle, const MessageBusFunctions* functions);
    // Cancels this module's outstanding requests on the handle.
    ~MessageBusShimImpl() override;

    MessageBusShimImpl(const MessageBusShimImpl&) = delete;
    MessageBusShimImpl& operator=(const MessageBusShimImpl&) = delete;

    ModuleStatus publish(const MessagePtr& message, bool extended) override;
    ModuleStatus request(const MessagePtr& message, std::uint64_t replyIndex, void* context,
                         std::int64_t timeLimitMs, bool extended) override;
    void cancelRequests() override;
    std::uint32_t subscribe(const std::wstring& name, void* context) override;
    std::uint32_t subscribeFilter(const std::wstring& pattern, void* context) override;
    ModuleStatus unsubscribe(std::uint32_t subscriptionId) override;

private:
    void* busHandle_;
    const MessageBusFunctions* functions_;
};

} // namespace Orvik
