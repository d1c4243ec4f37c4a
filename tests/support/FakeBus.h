#pragma once
// A message bus for tests: it keeps every call it is given, hands a message
// to the subscribers of a name on the caller's thread, and answers as a test
// scripts it. A module given a host's bus table reaches the same bus through
// table() and handle().

#include "message/Message.h"
#include "message/MessageBus.h"
#include "message/MessageBusFunctions.h"
#include "message/Reply.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class FakeBus : public Orvik::MessageBus {
public:
    using MessagePtr = Orvik::MessagePtr;
    using Callback = Orvik::MessageCallback;
    using Limit = Orvik::TimeLimit;
    using Text = std::wstring;
    using ReplyPtr = Orvik::ReplyPtr;

    enum class Call { Publish, PublishEx, Request, RequestEx, RequestAsync, RequestAsyncEx, Subscribe,
                      SubscribeSameSession, SubscribeFilter, SubscribeFilterSameSession, Unsubscribe };
    // One call. `name` is the message name, the pattern, or the alias an
    // unsubscribe names; `alias` is empty for the subscribe forms without one.
    struct Record {
        Call call;
        Text name;
        Text alias{};
        MessagePtr message{};
        Limit limit{0};
    };
    using Answer = std::function<ModuleStatus(const Record&)>;

    // What each call answers, 0 when empty. A refused subscription is not kept.
    Answer answer;
    // The reply of a request answered with 0; settled at once.
    std::int32_t replyStatus = Orvik::kReplyStatusReceived;
    Text replyPayload;

    // Refuses `call` with `status` when it names `name` (any name when empty).
    static Answer refusing(Call call, Text name, ModuleStatus status)
    {
        return [call, name = std::move(name), status](const Record& record) -> ModuleStatus {
            return record.call == call && (name.empty() || record.name == name) ? status : 0;
        };
    }

    std::vector<Record> calls() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    std::vector<Text> names(Call call) const { return select(call, &Record::name); }
    std::vector<MessagePtr> messages(Call call) const { return select(call, &Record::message); }
    // Forgets the calls so far; the subscriptions stay.
    void forget()
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.clear();
    }
    std::size_t subscriptionCount() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return subscriptions_.size();
    }

    // A new message to every subscriber of `name` (or of that alias), outside
    // the lock; the last one's status, MODULE_STATUS_NO_SUBSCRIBERS for none.
    ModuleStatus deliver(const Text& name, const Text& sender, const Text& payload)
    {
        std::vector<Callback> targets;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (const Subscription& subscription : subscriptions_)
                if (subscription.key == name)
                    targets.push_back(subscription.callback);
        }
        ModuleStatus status = MODULE_STATUS_NO_SUBSCRIBERS;
        for (const Callback& target : targets)
            status = target(Orvik::createMessage(name, sender, payload));
        return status;
    }

    ModuleStatus publish(const MessagePtr& m) override { return note({Call::Publish, nameOf(m), {}, m}); }
    ModuleStatus publishEx(const MessagePtr& m) override { return note({Call::PublishEx, nameOf(m), {}, m}); }
    ModuleStatus request(const MessagePtr& m, ReplyPtr& reply, const Limit& l) override
    { return ask({Call::Request, nameOf(m), {}, m, l}, reply); }
    ModuleStatus requestEx(const MessagePtr& m, ReplyPtr& reply, const Limit& l) override
    { return ask({Call::RequestEx, nameOf(m), {}, m, l}, reply); }
    // Kept and answered, never called back.
    ModuleStatus requestAsync(const MessagePtr& m, const Orvik::ReplyCallback&, const Limit& l) override
    { return note({Call::RequestAsync, nameOf(m), {}, m, l}); }
    ModuleStatus requestAsyncEx(const MessagePtr& m, const Orvik::ReplyCallback&, const Limit& l) override
    { return note({Call::RequestAsyncEx, nameOf(m), {}, m, l}); }
    ModuleStatus subscribe(const Text& n, const Text& a, const Callback& c) override
    { return keep({Call::Subscribe, n, a}, c); }
    ModuleStatus subscribe(const Text& n, const Callback& c) override { return keep({Call::Subscribe, n}, c); }
    ModuleStatus subscribeSameSession(const Text& n, const Text& a, const Callback& c) override
    { return keep({Call::SubscribeSameSession, n, a}, c); }
    ModuleStatus subscribeSameSession(const Text& n, const Callback& c) override
    { return keep({Call::SubscribeSameSession, n}, c); }
    ModuleStatus subscribeFilter(const Text& p, const Text& a, const Callback& c) override
    { return keep({Call::SubscribeFilter, p, a}, c); }
    ModuleStatus subscribeFilter(const Text& p, const Callback& c) override
    { return keep({Call::SubscribeFilter, p}, c); }
    ModuleStatus subscribeFilterSameSession(const Text& p, const Text& a, const Callback& c) override
    { return keep({Call::SubscribeFilterSameSession, p, a}, c); }
    ModuleStatus subscribeFilterSameSession(const Text& p, const Callback& c) override
    { return keep({Call::SubscribeFilterSameSession, p}, c); }
    ModuleStatus unsubscribe(const Text& alias) override
    { return forgetIf(note({Call::Unsubscribe, alias}), [&](const Subscription& s) { return s.key == alias; }); }

    // The bus as a host hands it over: the service's function table, with this
    // bus as the handle. Requests made there are kept and never answered.
    static const Orvik::MessageBusFunctions* table() { return &kTable; }
    void* handle() { return this; }

private:
    struct Subscription {
        Text key; // the alias, or the name when there is none
        Callback callback;
        std::uint32_t id;
    };

    class SettledReply : public Orvik::Reply {
    public:
        SettledReply(std::int32_t status, MessagePtr message) : status_(status), message_(std::move(message)) {}
        std::int32_t getStatus() const override { return status_; }
        MessagePtr getMessage() const override { return status_ == Orvik::kReplyStatusReceived ? message_ : nullptr; }
        std::int32_t wait() override { return status_; }
        std::int32_t waitFor(const std::chrono::milliseconds&) override { return status_; }
        std::int32_t status_;
        MessagePtr message_;
    };

    static Text nameOf(const MessagePtr& message) { return message ? message->getName() : Text(); }

    template <typename Field>
    std::vector<Field> select(Call call, Field Record::*field) const
    {
        std::vector<Field> selected;
        for (const Record& record : calls())
            if (record.call == call)
                selected.push_back(record.*field);
        return selected;
    }
    ModuleStatus note(Record record)
    {
        const ModuleStatus status = answer ? answer(record) : 0;
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(std::move(record));
        return status;
    }
    ModuleStatus ask(Record record, ReplyPtr& reply)
    {
        const ModuleStatus status = note(std::move(record));
        if (status == 0)
            reply = std::make_shared<SettledReply>(replyStatus,
                                                   Orvik::createMessage(L"Reply", L"Service", replyPayload));
        return status;
    }
    // Keeps an accepted subscription under its alias (or its name) and a new id.
    ModuleStatus keep(Record record, const Callback& callback, std::uint32_t* id = nullptr)
    {
        Text key = record.alias.empty() ? record.name : record.alias;
        const ModuleStatus status = note(std::move(record));
        std::lock_guard<std::mutex> guard(lock_);
        if (status == 0)
            subscriptions_.push_back({std::move(key), callback, ++lastId_});
        if (status == 0 && id != nullptr)
            *id = lastId_;
        return status;
    }
    template <typename Test>
    ModuleStatus forgetIf(ModuleStatus status, Test&& test)
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = subscriptions_.begin(); status == 0 && it != subscriptions_.end();)
            it = test(*it) ? subscriptions_.erase(it) : it + 1;
        return status;
    }

    // The table's entries record what they are given like the interface does.
    static FakeBus& of(void* handle) { return *static_cast<FakeBus*>(handle); }
    static Text text(const wchar_t* text) { return text != nullptr ? text : L""; }
    static std::uint32_t open(void**) { return 0; }
    static std::uint32_t close(void*) { return 0; }
    static std::uint32_t publishEntry(void* handle, const Orvik::MessageHeader*, const wchar_t* name,
                                      const wchar_t* sender, const wchar_t* payload)
    {
        return of(handle).publish(Orvik::createMessage(text(name), text(sender), text(payload)));
    }
    static std::uint32_t requestEntry(void* handle, std::uint64_t, void*, Orvik::BusReplyCallback,
                                      const Orvik::MessageHeader*, const wchar_t* name, const wchar_t* sender,
                                      const wchar_t* payload, std::int64_t limit)
    {
        const MessagePtr message = Orvik::createMessage(text(name), text(sender), text(payload));
        return of(handle).note({Call::Request, text(name), {}, message, Limit(limit)});
    }
    // The subscription's id; 0 when refused.
    static std::uint32_t subscribeEntry(void* handle, void* context, Orvik::BusMessageCallback callback,
                                        const wchar_t* name)
    {
        std::uint32_t id = 0;
        of(handle).keep({Call::Subscribe, text(name)}, [context, callback](const MessagePtr& m) {
            return callback(context, m->getHeader(), m->getName().c_str(), m->getSender().c_str(),
                            m->getPayload().c_str());
        }, &id);
        return id;
    }
    static std::uint32_t unsubscribeEntry(void* handle, std::uint32_t id)
    {
        FakeBus& bus = of(handle);
        return bus.forgetIf(bus.note({Call::Unsubscribe, std::to_wstring(id)}),
                            [id](const Subscription& s) { return s.id == id; });
    }
    static std::uint32_t cancel(void*, Orvik::BusReplyCallback) { return 0; }

    static constexpr Orvik::MessageBusFunctions kTable = {&open, &close, &publishEntry, &requestEntry,
        &subscribeEntry, &subscribeEntry, &unsubscribeEntry, &cancel, &publishEntry, &requestEntry};

    mutable std::mutex lock_;
    std::vector<Record> calls_;
    std::vector<Subscription> subscriptions_;
    std::uint32_t lastId_ = 0;
};

} // namespace testsupport
