#pragma once
// The message bus as the module's parts see it: publish, request, subscribe
// by name or pattern, unsubscribe by alias.

#include "status/ModuleStatus.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace Orvik {

class Message;
class Reply;

using MessagePtr = std::shared_ptr<Message>;
using ReplyPtr = std::shared_ptr<Reply>;
// A subscriber: receives the message, answers a status.
using MessageCallback = std::function<ModuleStatus(const MessagePtr&)>;
// Completion of an asynchronous request.
using ReplyCallback = std::function<void(const ReplyPtr&)>;
using TimeLimit = std::chrono::milliseconds;

// Hands a message the host delivered directly to the local subscribers.
class DirectDispatch {
public:
    virtual ModuleStatus directDispatch(const MessagePtr& message) = 0;

protected:
    ~DirectDispatch() = default;
};

class MessageBus {
public:
    virtual ~MessageBus() = default;

    virtual ModuleStatus publish(const MessagePtr& message) = 0;
    virtual ModuleStatus publishEx(const MessagePtr& message) = 0;
    virtual ModuleStatus requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                                      const TimeLimit& timeLimit) = 0;
    virtual ModuleStatus request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit) = 0;
    virtual ModuleStatus requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                        const TimeLimit& timeLimit) = 0;
    virtual ModuleStatus requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit) = 0;
    virtual ModuleStatus subscribe(const std::wstring& name, const std::wstring& alias,
                                   const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribe(const std::wstring& name, const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                              const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribeSameSession(const std::wstring& name, const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                         const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribeFilter(const std::wstring& pattern, const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                                    const MessageCallback& callback) = 0;
    virtual ModuleStatus subscribeFilterSameSession(const std::wstring& pattern,
                                                    const MessageCallback& callback) = 0;
    virtual ModuleStatus unsubscribe(const std::wstring& alias) = 0;

    // Where messages the host delivers directly are dispatched; null when
    // this bus has no local subscribers to give them to.
    virtual DirectDispatch* directDispatcher() noexcept { return nullptr; }
};

} // namespace Orvik
