#pragma once
// The two entry points the module gives the bus service, and what they lead to.

#include "message/MessageBus.h"
#include "message/MessageBusFunctions.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace Orvik {

// What a request's context points at: the bus client's reply handler.
using ReplyHandler = std::function<ModuleStatus(std::uint64_t replyIndex, const MessagePtr& reply, ModuleStatus status)>;

// What a subscription's context points at. Owned by the bus client's table; the
// entry point holds it through `self` for the length of a call, so a callback
// that drops its own subscription does not free itself while it runs.
struct MessageCallbackHolder {
    explicit MessageCallbackHolder(MessageCallback callbackIn) : callback(std::move(callbackIn)) {}
    // A shared holder whose `self` is set.
    static std::shared_ptr<MessageCallbackHolder> create(MessageCallback callback)
    {
        auto holder = std::make_shared<MessageCallbackHolder>(std::move(callback));
        holder->self = holder;
        return holder;
    }

    MessageCallback callback;
    // Locked where it stands on every delivery. weak_from_this would copy it
    // first: two more atomic operations on the one count that every delivery
    // thread of a busy subscription shares.
    std::weak_ptr<MessageCallbackHolder> self;
};

namespace internal {

// Context: the subscription's MessageCallbackHolder. Builds the message, calls the
// callback and returns its status; any exception becomes 0x8000000F.
std::uint32_t messageCallbackEntry(void* context, const MessageHeader* header, const wchar_t* name,
                                   const wchar_t* sender, const wchar_t* payload) noexcept;

// Context: the client's ReplyHandler. Builds the reply message (status 0 only)
// and hands it on; any exception becomes 0x8000000F.
std::uint32_t replyCallbackEntry(void* context, std::uint64_t replyIndex, const MessageHeader* header,
                                 const wchar_t* name, const wchar_t* sender, const wchar_t* payload,
                                 std::uint32_t status) noexcept;

} // namespace internal
} // namespace Orvik
