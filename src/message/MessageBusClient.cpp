#include "message/MessageBusClient.h"

#include "Logging/Logger.h"
#include "message/MessageBusLib.h"
#include "message/Message.h"
#include "message/Reply.h"
#include "message/ReplyImpl.h"
#include "status/ModuleException.h"

#include <system_error>

namespace Orvik {
namespace {
UM_LOG_SOURCE(L"Orvik::MessageBusClient");

std::exception_ptr replyFailure(std::errc condition)
{
    return std::make_exception_ptr(std::system_error(std::make_error_code(condition)));
}
} // namespace

MessageBusClient::MessageBusClient() : MessageBusClient(std::make_shared<MessageBusLib>(), nullptr) {}

MessageBusClient::MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> processApi)
    : shim_(std::move(shim)), processApi_(processApi ? std::move(processApi) : std::make_shared<ProcessAPI>())
{
    if (!shim_) {
        logging::error(UM_HERE, L"Invalid message bus shim. Throwing ModuleException.");
        throw ModuleException("Invalid message bus shim");
    }
    replyHandler_ = [this](std::uint64_t replyIndex, const MessagePtr& reply, ModuleStatus status) {
        return replyCallback(replyIndex, reply, status);
    };
    determineSessionId();
}

MessageBusClient::~MessageBusClient()
{
    try {
        // Take the table out under the lock, then drop the subscriptions without
        // it: the service waits for callbacks in flight, and those may need the lock.
        SubscriptionTable table;
        {
            std::lock_guard<std::mutex> guard(subscriptionLock_);
            table.swap(subscriptions_);
        }
        for (const auto& entry : table)
            unsubscribeRecord(entry.second);
        shim_->cancelRequests();
    } catch (...) {
        // A destructor lets nothing out; what was not dropped stays with the service.
        logging::error(UM_HERE, L"Unexpected exception while dropping the subscriptions.");
    }
}

void MessageBusClient::determineSessionId()
{
    const DWORD processId = processApi_->GetCurrentProcessId();
    DWORD session = 0;
    if (processApi_->ProcessIdToSessionId(processId, &session)) {
        logging::normal(UM_HERE_AS("MessageBusClient"), L"Found session id %ld for process %ld", session, processId);
        sessionId_ = session;
    } else {
        logging::error(UM_HERE_AS("MessageBusClient"),
                       L"Failed to get the session id for process %ld - defaulting to %ld", processId, 0UL);
        sessionId_ = 0;
    }
}

// ---- publish and request ------------------------------------------------------

ModuleStatus MessageBusClient::publish(const MessagePtr& message)
{
    return internalPublish(message, false);
}

ModuleStatus MessageBusClient::publishEx(const MessagePtr& message)
{
    return internalPublish(message, true);
}

ModuleStatus MessageBusClient::requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                                            const TimeLimit& timeLimit)
{
    return internalRequest(message, nullptr, &callback, timeLimit, false);
}

ModuleStatus MessageBusClient::request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return internalRequest(message, &reply, nullptr, timeLimit, false);
}

ModuleStatus MessageBusClient::requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                              const TimeLimit& timeLimit)
{
    return internalRequest(message, nullptr, &callback, timeLimit, true);
}

ModuleStatus MessageBusClient::requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return internalRequest(message, &reply, nullptr, timeLimit, true);
}

ModuleStatus MessageBusClient::internalPublish(const MessagePtr& message, bool extended)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    MessageHeader& header = *message->getHeader();
    // A reply goes to its requester only; ordinary subscribers get a plain copy.
    const bool copyDue = testFlag(header, kMessageFlagReply) && !testFlag(header, kMessageFlagNoReplyCopy) &&
                         !testFlag(header, kMessageFlagReplyCopied);
    if (copyDue)
        setFlag(header, kMessageFlagReplyCopied);

    const ModuleStatus status = shim_->publish(message, extended);
    if (status.failed())
        return logging::fail(status, UM_HERE, L"Failed to publish message. Error code %lu.", status);
    if (copyDue) {
        clearFlag(header, kMessageFlagReply);
        clearReplyRouting(header);
        const ModuleStatus copyStatus = shim_->publish(message, extended);
        if (copyStatus.failed())
            logging::warning(UM_HERE, L"Failed to publish non-reply copy of the message. Error code %lu.", copyStatus);
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::internalRequest(const MessagePtr& message, ReplyPtr* reply,
                                               const ReplyCallback* completion, const TimeLimit& timeLimit,
                                               bool extended)
{
    std::uint64_t replyIndex = 0;
    std::future<MessagePtr> future;
    {
        std::lock_guard<std::mutex> guard(replyLock_);
        replyIndex = nextReplyIndex_++;
        PendingReply record;
        if (completion != nullptr) {
            auto recordFuture = std::make_shared<std::future<MessagePtr>>(record.promise.get_future());
            ReplyCallback callback = *completion;
            record.completion = [recordFuture, callback]() {
                auto settled = std::make_shared<ReplyImpl>(std::move(*recordFuture));
                settled->wait();  // the promise is settled already: returns at once
                callback(settled);
            };
        }
        auto inserted = pendingReplies_.emplace(replyIndex, std::move(record));
        if (!inserted.second)
            return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Unable to create reply promise. Returning.");
        if (completion == nullptr)
            future = inserted.first->second.promise.get_future();
    }

    // Outside the lock: the reply may arrive before this call returns.
    const ModuleStatus status = shim_->request(message, replyIndex, &replyHandler_, timeLimit.count(), extended);
    if (status.failed()) {
        std::lock_guard<std::mutex> guard(replyLock_);
        pendingReplies_.erase(replyIndex);
        return logging::fail(status, UM_HERE, L"Failed to make request. Error code %lu.", status);
    }
    if (reply != nullptr)
        *reply = std::make_shared<ReplyImpl>(std::move(future));
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::replyCallback(std::uint64_t replyIndex, const MessagePtr& reply, ModuleStatus status)
{
    std::lock_guard<std::mutex> guard(replyLock_);
    auto found = pendingReplies_.find(replyIndex);
    if (found == pendingReplies_.end()) {
        logging::warning(UM_HERE, L"Reply index not found. Returning");
        return MODULE_STATUS_NOT_FOUND;
    }
    PendingReply& record = found->second;
    ModuleStatus result = MODULE_STATUS_SUCCESS;
    try {
        if (status == MODULE_STATUS_TIMEOUT)
            record.promise.set_exception(replyFailure(std::errc::operation_canceled));
        else if (status != MODULE_STATUS_SUCCESS)
            record.promise.set_exception(replyFailure(std::errc::no_message_available));
        else
            record.promise.set_value(reply);
        // A requestAsync completion runs here, under the reply lock.
        if (record.completion)
            record.completion();
    } catch (...) {
        // The requester's completion threw; the bus thread gets a status instead.
        result = logging::fail(MODULE_STATUS_UNKNOWN_EXCEPTION, UM_HERE,
                               L"Unexpected exception while settling reply %I64u.", replyIndex);
    }
    pendingReplies_.erase(found);
    return result;
}

// ---- subscriptions ------------------------------------------------------------

MessageCallback MessageBusClient::sameSessionOnly(const MessageCallback& callback) const
{
    if (sessionId_ == 0)
        return callback;
    const std::uint32_t ownSession = sessionId_;
    return [ownSession, callback](const MessagePtr& message) -> ModuleStatus {
        if (message) {
            const MessageHeader& header = *message->getHeader();
            if (header.version == kMessageHeaderVersion2 && header.sessionId != 0 && header.sessionId != ownSession)
                return MODULE_STATUS_SUCCESS;
        }
        return callback(message);
    };
}

namespace {

// Enters a subscription (exact or by pattern) in its alias's list, under the
// subscription lock the caller holds, and asks the service for it with the
// holder's address as context; the entry goes again when the service refuses
// (false) or throws.
template <typename Entry, typename ServiceSubscribe>
bool enterSubscription(std::vector<Entry>& entries, Entry entry, ServiceSubscribe&& serviceSubscribe)
{
    entries.push_back(std::move(entry));
    std::uint32_t id = 0;
    try {
        id = serviceSubscribe(entries.back().callback.get());
    } catch (...) {
        entries.pop_back();
        throw;
    }
    if (id == 0) {
        entries.pop_back();
        return false;
    }
    entries.back().id = id;
    return true;
}

} // namespace

ModuleStatus MessageBusClient::subscribe(const std::wstring& name, const std::wstring& alias,
                                         const MessageCallback& callback)
{
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    if (enterSubscription(subscriptions_[alias].subscriptions,
                          SubscriptionEntry{0, name, MessageCallbackHolder::create(callback)},
                          [&](MessageCallbackHolder* holder) { return shim_->subscribe(name, holder); }))
        return MODULE_STATUS_SUCCESS;
    return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Failed to subscribe. Alias: %ls Message name: %ls",
                         alias.c_str(), name.c_str());
}

ModuleStatus MessageBusClient::subscribe(const std::wstring& name, const MessageCallback& callback)
{
    return subscribe(name, name, callback);
}

ModuleStatus MessageBusClient::subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                                    const MessageCallback& callback)
{
    return subscribe(name, alias, sameSessionOnly(callback));
}

ModuleStatus MessageBusClient::subscribeSameSession(const std::wstring& name, const MessageCallback& callback)
{
    return subscribeSameSession(name, name, callback);
}

ModuleStatus MessageBusClient::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                               const MessageCallback& callback)
{
    NamePattern compiled;
    std::string error;
    if (!compiled.assign(pattern, error))
        return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                             L"subscribeFilter failed. Regex error with regex \"%ls\" [caught: %hs]", pattern.c_str(),
                             error.c_str());

    std::lock_guard<std::mutex> guard(subscriptionLock_);
    if (enterSubscription(subscriptions_[alias].filters,
                          FilterEntry{0, pattern, std::move(compiled), MessageCallbackHolder::create(callback)},
                          [&](MessageCallbackHolder* holder) { return shim_->subscribeFilter(pattern, holder); }))
        return MODULE_STATUS_SUCCESS;
    return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE,
                         L"Failed to subscribeFilter. Alias: %ls Message nameRegex: %ls", alias.c_str(),
                         pattern.c_str());
}

ModuleStatus MessageBusClient::subscribeFilter(const std::wstring& pattern, const MessageCallback& callback)
{
    return subscribeFilter(pattern, pattern, callback);
}

ModuleStatus MessageBusClient::subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                                          const MessageCallback& callback)
{
    return subscribeFilter(pattern, alias, sameSessionOnly(callback));
}

ModuleStatus MessageBusClient::subscribeFilterSameSession(const std::wstring& pattern,
                                                          const MessageCallback& callback)
{
    return subscribeFilterSameSession(pattern, pattern, callback);
}

ModuleStatus MessageBusClient::unsubscribe(const std::wstring& alias)
{
    AliasRecord record;
    {
        std::lock_guard<std::mutex> guard(subscriptionLock_);
        auto found = subscriptions_.find(alias);
        if (found == subscriptions_.end()) {
            logging::warning(UM_HERE, L"Subscription not found. Alias: %ls.", alias.c_str());
            return MODULE_STATUS_SUCCESS;
        }
        record = std::move(found->second);
        subscriptions_.erase(found);
    }
    // Outside the lock: the service waits for this alias's callbacks in flight,
    // and a callback may itself be subscribing on this client.
    unsubscribeRecord(record);
    return MODULE_STATUS_SUCCESS;  // the callbacks are freed with `record`, after the service let go
}

void MessageBusClient::unsubscribeRecord(const AliasRecord& record)
{
    // A refusal is told and the rest are still dropped.
    const auto drop = [this](std::uint32_t id) {
        if (const ModuleStatus status = shim_->unsubscribe(id); status.failed())
            logging::warning(UM_HERE_AS("unsubscribeRecord"), L"Failed to unsubscribe subscription %lu. Error code %lu.", id,
                             status);
    };
    for (const SubscriptionEntry& entry : record.subscriptions)
        drop(entry.id);
    for (const FilterEntry& entry : record.filters)
        drop(entry.id);
}

ModuleStatus MessageBusClient::directDispatch(const MessagePtr& message)
{
    if (!message)
        return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE, L"Direct message is empty. Returning.");
    const std::wstring& name = message->getName();
    // Every subscriber gets the message whatever another one answered.
    const auto deliver = [&](const MessageCallbackHolder& holder) {
        if (const ModuleStatus status = holder.callback(message); status.failed())
            logging::warning(UM_HERE_AS("directDispatch"), L"Direct message handler failed. Message name: %ls. Error code %lu.",
                             name.c_str(), status);
    };
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    for (const auto& aliasEntry : subscriptions_) {
        const AliasRecord& record = aliasEntry.second;
        for (const SubscriptionEntry& entry : record.subscriptions)
            if (entry.name == name)
                deliver(*entry.callback);
        for (const FilterEntry& entry : record.filters)
            if (entry.compiled.matches(name))
                deliver(*entry.callback);
    }
    return MODULE_STATUS_SUCCESS;
}

} // namespace Orvik
