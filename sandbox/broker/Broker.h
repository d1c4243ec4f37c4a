#pragma once
// The broker behind BusBroker.dll's function table: connections, routing,
// request/reply correlation, time limits and the delivery threads.

#include "win/SrwLock.h"
#include "win/UniqueHandle.h"
#include "message/MessageBusFunctions.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <unordered_map>
#include <vector>

namespace busbroker {

using Orvik::win::ConditionVariable;
using Orvik::win::SrwLock;
using Guard = Orvik::win::ExclusiveGuard;
using ScopedHandle = Orvik::win::UniqueKernelHandle;


using Orvik::BusMessageCallback;
using Orvik::BusReplyCallback;
using Orvik::MessageHeader;
using Clock = std::chrono::steady_clock;

// A message as the broker keeps it while it is being delivered.
struct Envelope {
    MessageHeader header;
    std::wstring name;
    std::wstring sender;
    std::wstring payload;
};
using EnvelopePtr = std::shared_ptr<const Envelope>;

struct Subscription {
    std::uint32_t id = 0;
    std::uint64_t connection = 0;
    void* context = nullptr;
    BusMessageCallback callback = nullptr;
    bool isPattern = false;
    std::wstring text;
    std::wregex pattern;
    bool active = true;
    std::vector<DWORD> runningOn;  // threads inside its callback right now
};

struct Request {
    enum class State { Waiting, Queued, Running, Finished };
    std::uint64_t token = 0;
    std::uint64_t connection = 0;
    std::uint64_t replyIndex = 0;
    void* context = nullptr;
    BusReplyCallback callback = nullptr;
    EnvelopePtr request;
    Clock::time_point deadline;
    State state = State::Waiting;
    DWORD runningOn = 0;
};

// One unit of work for a delivery thread: a message for a subscription, or
// the end of a request (its reply or its time-out).
struct Task {
    std::shared_ptr<Subscription> subscription;
    std::shared_ptr<Request> request;
    EnvelopePtr envelope;
    std::uint32_t status = 0;
};

class DeliveryPool;

class Broker {
public:
    static Broker& instance();

    std::uint32_t open(void** handle);
    std::uint32_t close(void* handle);
    std::uint32_t publish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                          const wchar_t* payload);
    std::uint32_t request(void* handle, std::uint64_t replyIndex, void* context, BusReplyCallback callback,
                          const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                          const wchar_t* payload, std::int64_t timeLimitMs);
    std::uint32_t subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* text,
                            bool isPattern);
    std::uint32_t unsubscribe(void* handle, std::uint32_t id);
    std::uint32_t cancelRequests(void* handle, BusReplyCallback callback);

    // Bodies of the pool's threads; they return when the pool stops.
    void runDeliveryThread(DeliveryPool& pool);
    void runTimerThread(DeliveryPool& pool);

private:
    struct Connection {
        std::uint64_t id = 0;
        std::uint32_t session = 0;
    };

    Broker() = default;

    static std::uint64_t connectionId(void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }
    bool isOpen(std::uint64_t connection) const { return connections_.count(connection) != 0; }
    // A normalised copy of what the sender handed in, stamped for delivery.
    std::shared_ptr<Envelope> makeEnvelope(const MessageHeader& header, const wchar_t* name, const wchar_t* sender,
                                           const wchar_t* payload) const;
    void stamp(Envelope& envelope, const Connection& from);
    std::vector<std::shared_ptr<Subscription>> route(const std::wstring& name) const;
    bool ensurePool();
    // False when there is work but no thread could be started for it.
    bool enqueue(std::vector<Task>& tasks);
    void deliver(Guard& guard, Task& task);
    void deactivate(const std::shared_ptr<Subscription>& subscription);
    // Ends requests without a callback; returns those whose callback runs on another thread now.
    std::vector<std::shared_ptr<Request>> cancelMatching(std::uint64_t connection, BusReplyCallback callback,
                                                         bool anyCallback);
    void forgetDeadline(const Request& request);
    void waitForSubscription(Guard& guard, const std::shared_ptr<Subscription>& subscription);
    void waitForRequests(Guard& guard, const std::vector<std::shared_ptr<Request>>& running);

    SrwLock lock_;
    ConditionVariable workAvailable_;
    ConditionVariable callbackDone_;
    ConditionVariable deadlinesChanged_;
    std::deque<Task> queue_;
    std::unordered_map<std::uint64_t, Connection> connections_;
    std::unordered_map<std::uint32_t, std::shared_ptr<Subscription>> subscriptions_;
    std::unordered_map<std::wstring, std::vector<std::shared_ptr<Subscription>>> byName_;
    std::vector<std::shared_ptr<Subscription>> byPattern_;
    std::unordered_map<std::uint64_t, std::shared_ptr<Request>> requests_;  // every unfinished request
    std::multimap<Clock::time_point, std::uint64_t> deadlines_;
    std::shared_ptr<DeliveryPool> pool_;
    std::uint64_t nextConnection_ = 1;
    std::uint64_t nextToken_ = 1;
    std::uint64_t nextSequence_ = 1;
    std::uint32_t nextSubscription_ = 1;
};

// The broker's threads: a timer and the delivery threads. Each thread holds a
// reference on the broker's library, so the library stays mapped until the
// last of them has left its code.
class DeliveryPool : public std::enable_shared_from_this<DeliveryPool> {
public:
    static constexpr int kDeliveryThreads = 4;

    // Starts the threads; false when not one could be started.
    bool start(Broker& broker);
    // Threads check this under the broker's lock.
    bool stopping = false;
    bool isPoolThread(DWORD threadId) const;
    // Waits for every thread to end (never call from one of them).
    void join();

private:
    std::vector<ScopedHandle> threads_;
    std::vector<DWORD> threadIds_;
};

} // namespace busbroker
