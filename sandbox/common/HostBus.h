#pragma once
// A bus of the host's own, for hosts that hand the module a bus table without
// running a broker: it keeps the subscriptions it is given, delivers a message
// on the caller's thread to the ones of that name, and records what is
// published. One per process (the table carries no context of its own).

#include "message/MessageBusFunctions.h"
#include "message/MessageHeader.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sandbox {

class HostBus {
public:
    static HostBus& instance()
    {
        static HostBus bus;
        return bus;
    }

    const Orvik::MessageBusFunctions* table() const { return &kTable; }
    void* handle() { return this; }

    // Hands `payload` to every current subscription of `name`; how many took it.
    std::size_t deliver(const std::wstring& name, const wchar_t* sender, const wchar_t* payload)
    {
        std::vector<Subscription> targets;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (const Subscription& subscription : subscriptions_) {
                if (subscription.name == name)
                    targets.push_back(subscription);
            }
        }
        Orvik::MessageHeader header{};
        header.formatMarker = 1;
        for (const Subscription& target : targets)
            target.callback(target.context, &header, name.c_str(), sender, payload);
        return targets.size();
    }

    std::size_t subscriptionCount()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return subscriptions_.size();
    }

    // The names published since the last call, oldest first.
    std::vector<std::wstring> takePublished()
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::wstring> published;
        published.swap(published_);
        return published;
    }

private:
    struct Subscription {
        std::uint32_t id;
        void* context;
        Orvik::BusMessageCallback callback;
        std::wstring name;
    };

    static HostBus& of(void* handle) { return *static_cast<HostBus*>(handle); }

    static std::uint32_t open(void** handle)
    {
        *handle = &instance();
        return 0;
    }
    static std::uint32_t close(void*) { return 0; }
    static std::uint32_t publish(void* handle, const Orvik::MessageHeader*, const wchar_t* name, const wchar_t*,
                                 const wchar_t*)
    {
        HostBus& bus = of(handle);
        std::lock_guard<std::mutex> guard(bus.lock_);
        bus.published_.push_back(name != nullptr ? name : L"");
        return 0;
    }
    // Nobody serves requests on this bus: each is refused at once.
    static std::uint32_t request(void*, std::uint64_t, void*, Orvik::BusReplyCallback, const Orvik::MessageHeader*,
                                 const wchar_t*, const wchar_t*, const wchar_t*, std::int64_t)
    {
        return 0x8000000Eu;  // no subscribers
    }
    static std::uint32_t subscribe(void* handle, void* context, Orvik::BusMessageCallback callback,
                                   const wchar_t* name)
    {
        HostBus& bus = of(handle);
        std::lock_guard<std::mutex> guard(bus.lock_);
        const std::uint32_t id = ++bus.nextId_;
        bus.subscriptions_.push_back({id, context, callback, name != nullptr ? name : L""});
        return id;
    }
    static std::uint32_t unsubscribe(void* handle, std::uint32_t id)
    {
        HostBus& bus = of(handle);
        std::lock_guard<std::mutex> guard(bus.lock_);
        for (auto it = bus.subscriptions_.begin(); it != bus.subscriptions_.end(); ++it) {
            if (it->id == id) {
                bus.subscriptions_.erase(it);
                return 0;
            }
        }
        return 0x8000000Au;  // not found
    }
    static std::uint32_t cancel(void*, Orvik::BusReplyCallback) { return 0; }

    static constexpr Orvik::MessageBusFunctions kTable = {&open,      &close,       &publish, &request,
                                                          &subscribe, &subscribe,   &unsubscribe,
                                                          &cancel,    &publish,     &request};

    std::mutex lock_;
    std::uint32_t nextId_ = 0;
    std::vector<Subscription> subscriptions_;
    std::vector<std::wstring> published_;
};

} // namespace sandbox
