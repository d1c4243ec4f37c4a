#pragma once
// The module's door to the message bus: alias bookkeeping for subscriptions,
// request/reply correlation, the plain copy of published replies, session
// filtering and the dispatch of messages the host hands in directly.

#include "message/MessageBus.h"
#include "message/NamePattern.h"
#include "message/MessageBusCallbacks.h"
#include "message/MessageBusShim.h"
#include "wrappers/ProcessAPI.h"

#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Orvik {

class MessageBusClient : public MessageBus, public DirectDispatch {
public:
    // Binds the bus service library itself; throws ModuleException when it cannot.
    MessageBusClient();
    // Takes ownership of both; an empty process API means the real one.
    MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> processApi);
    // Drops every subscription, cancels outstanding requests (their Replies end
    // with status 3), then releases the shim.
    ~MessageBusClient() override;

    MessageBusClient(const MessageBusClient&) = delete;
    MessageBusClient& operator=(const MessageBusClient&) = delete;

    ModuleStatus publish(const MessagePtr& message) override;
    ModuleStatus publishEx(const MessagePtr& message) override;
    ModuleStatus requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                              const TimeLimit& timeLimit) override;
    ModuleStatus request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit) override;
    ModuleStatus requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                const TimeLimit& timeLimit) override;
    ModuleStatus requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit) override;
    ModuleStatus subscribe(const std::wstring& name, const std::wstring& alias,
                           const MessageCallback& callback) override;
    ModuleStatus subscribe(const std::wstring& name, const MessageCallback& callback) override;
    ModuleStatus subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                      const MessageCallback& callback) override;
    ModuleStatus subscribeSameSession(const std::wstring& name, const MessageCallback& callback) override;
    ModuleStatus subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                 const MessageCallback& callback) override;
    ModuleStatus subscribeFilter(const std::wstring& pattern, const MessageCallback& callback) override;
    ModuleStatus subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                            const MessageCallback& callback) override;
    ModuleStatus subscribeFilterSameSession(const std::wstring& pattern, const MessageCallback& callback) override;
    ModuleStatus unsubscribe(const std::wstring& alias) override;

    // Hands a message to the matching local subscribers on the caller's thread,
    // under the subscription lock (such callbacks must not subscribe or
    // unsubscribe on this client). Returns 0 whatever the callbacks answer.
    ModuleStatus directDispatch(const MessagePtr& message) override;
    DirectDispatch* directDispatcher() noexcept override { return this; }

    // Settles the pending request `replyIndex`; 0x8000000A when there is none.
    ModuleStatus replyCallback(std::uint64_t replyIndex, const MessagePtr& reply, ModuleStatus status);

    std::uint32_t sessionId() const { return sessionId_; }

private:
    struct SubscriptionEntry {
        std::uint32_t id;
        std::wstring name;
        std::shared_ptr<MessageCallbackHolder> callback;  // its address is the service's context
    };
    struct FilterEntry {
        std::uint32_t id;
        std::wstring pattern;
        NamePattern compiled;
        std::shared_ptr<MessageCallbackHolder> callback;
    };
    struct AliasRecord {
        std::vector<SubscriptionEntry> subscriptions;
        std::vector<FilterEntry> filters;
    };
    struct PendingReply {
        std::promise<MessagePtr> promise;
        std::function<void()> completion;  // requestAsync only
    };
    using SubscriptionTable = std::unordered_map<std::wstring, AliasRecord>;

    ModuleStatus internalPublish(const MessagePtr& message, bool extended);
    // Exactly one of `reply` and `completion` is given.
    ModuleStatus internalRequest(const MessagePtr& message, ReplyPtr* reply, const ReplyCallback* completion,
                                 const TimeLimit& timeLimit, bool extended);
    // The callback, or a wrapper that drops messages from another session.
    MessageCallback sameSessionOnly(const MessageCallback& callback) const;
    void unsubscribeRecord(const AliasRecord& record);
    void determineSessionId();

    // Member order is teardown order in reverse: the pending replies go first
    // (breaking unsettled promises), the shim last.
    std::shared_ptr<MessageBusShim> shim_;
    std::shared_ptr<ProcessAPI> processApi_;
    std::mutex subscriptionLock_;
    SubscriptionTable subscriptions_;
    std::uint64_t nextReplyIndex_ = 0;
    ReplyHandler replyHandler_;
    std::mutex replyLock_;
    std::unordered_map<std::uint64_t, PendingReply> pendingReplies_;
    std::uint32_t sessionId_ = 0;
};

} // namespace Orvik
