#include "Broker.h"

#include "status/ModuleStatus.h"

#include <algorithm>
#include <cstring>

namespace busbroker {
namespace {

using namespace Orvik;

// Longest time limit honoured; anything longer counts as this.
constexpr std::int64_t kLongestTimeLimitMs = 365LL * 24 * 60 * 60 * 1000;

std::uint64_t readToken(const MessageHeader& header)
{
    std::uint64_t token = 0;
    std::memcpy(&token, header.replyRouting, sizeof token);
    return token;
}

void writeToken(MessageHeader& header, std::uint64_t token)
{
    std::memcpy(header.replyRouting, &token, sizeof token);
}

template <typename Value>
void writeServiceField(MessageHeader& header, std::size_t offset, Value value)
{
    std::memcpy(header.serviceData + offset, &value, sizeof value);
}

struct ThreadStart {
    std::shared_ptr<DeliveryPool> pool;
    Broker* broker = nullptr;
    bool timer = false;
    HMODULE module = nullptr;
};

DWORD WINAPI poolThreadMain(void* parameter)
{
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        module = start->module;
        if (start->timer)
            start->broker->runTimerThread(*start->pool);
        else
            start->broker->runDeliveryThread(*start->pool);
    }
    // Every C++ object of this thread is gone: drop our hold on the library and leave.
    ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

} // namespace

// ---- the pool ---------------------------------------------------------------------

bool DeliveryPool::start(Broker& broker)
{
    for (int i = 0; i <= kDeliveryThreads; ++i) {
        Orvik::win::UniqueLibrary module;
        // Counted reference: the thread releases it as it exits.
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                  reinterpret_cast<LPCWSTR>(&poolThreadMain), module.put()))
            return false;
        auto start = std::make_unique<ThreadStart>(ThreadStart{shared_from_this(), &broker, i == 0, module.get()});
        DWORD threadId = 0;
        ScopedHandle thread(::CreateThread(nullptr, 0, &poolThreadMain, start.get(), 0, &threadId));
        if (!thread)
            return false;
        // The thread owns both from here.
        (void)start.release();
        (void)module.release();
        threads_.push_back(std::move(thread));
        threadIds_.push_back(threadId);
    }
    return true;
}

bool DeliveryPool::isPoolThread(DWORD threadId) const
{
    return std::find(threadIds_.begin(), threadIds_.end(), threadId) != threadIds_.end();
}

void DeliveryPool::join()
{
    for (const ScopedHandle& thread : threads_)
        ::WaitForSingleObject(thread.get(), INFINITE);
}

// ---- connections --------------------------------------------------------------

Broker& Broker::instance()
{
    static Broker broker;
    return broker;
}

std::uint32_t Broker::open(void** handle)
{
    if (handle == nullptr)
        return MODULE_STATUS_INVALID_PARAMETER.value();
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session))
        session = 0;

    Guard guard(lock_);
    const std::uint64_t id = nextConnection_++;
    connections_[id] = Connection{id, session};
    *handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
    return MODULE_STATUS_SUCCESS.value();
}

std::uint32_t Broker::close(void* handle)
{
    const std::uint64_t id = connectionId(handle);
    Guard guard(lock_);
    if (connections_.erase(id) == 0)
        return MODULE_STATUS_INVALID_HANDLE.value();

    std::vector<std::shared_ptr<Subscription>> dropped;
    for (const auto& entry : subscriptions_)
        if (entry.second->connection == id)
            dropped.push_back(entry.second);
    for (const auto& subscription : dropped)
        deactivate(subscription);
    const auto running = cancelMatching(id, nullptr, true);
    for (const auto& subscription : dropped)
        waitForSubscription(guard, subscription);
    waitForRequests(guard, running);

    // The last connection takes the threads with it.
    std::shared_ptr<DeliveryPool> stopped;
    if (connections_.empty() && pool_) {
        stopped = std::move(pool_);
        stopped->stopping = true;
        queue_.clear();
        workAvailable_.notifyAll();
        deadlinesChanged_.notifyAll();
    }
    const bool join = stopped && !stopped->isPoolThread(::GetCurrentThreadId());
    guard.unlock();
    if (join)
        stopped->join();
    return MODULE_STATUS_SUCCESS.value();
}

// ---- messages -----------------------------------------------------------------

std::shared_ptr<Envelope> Broker::makeEnvelope(const MessageHeader& header, const wchar_t* name,
                                               const wchar_t* sender, const wchar_t* payload) const
{
    auto envelope = std::make_shared<Envelope>();
    envelope->name = name;
    envelope->sender = sender;
    envelope->payload = payload;
    MessageHeader& copy = envelope->header;
    copy = kMessageHeaderTemplate;
    if (header.version == kMessageHeaderVersion2) {
        std::memcpy(&copy, &header, kMessageHeaderSize);
    } else {
        std::memcpy(&copy, &header, kMessageHeaderV1Size);
        copy.version = kMessageHeaderVersion2;
    }
    copy.totalSize = messageTotalSize(envelope->name.size(), envelope->sender.size(), envelope->payload.size());
    copy.sessionKind = kSessionExtensionKind;
    copy.sessionSize = kSessionExtensionSize;
    return envelope;
}

void Broker::stamp(Envelope& envelope, const Connection& from)
{
    MessageHeader& header = envelope.header;
    std::memset(header.serviceData, 0, sizeof header.serviceData);
    writeServiceField(header, 0, nextSequence_++);
    writeServiceField(header, 8, from.id);
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    writeServiceField(header, 16, (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    header.sessionId = from.session;
}

std::vector<std::shared_ptr<Subscription>> Broker::route(const std::wstring& name) const
{
    std::vector<std::shared_ptr<Subscription>> targets;
    auto exact = byName_.find(name);
    if (exact != byName_.end())
        targets = exact->second;
    for (const auto& subscription : byPattern_)
        if (std::regex_match(name, subscription->pattern))
            targets.push_back(subscription);
    return targets;
}

// The threads start with the first message there is to deliver, not with the
// first connection: a module loaded for one request that sends nothing
// through this library never pays for starting and stopping them.
bool Broker::ensurePool()
{
    if (pool_)
        return true;
    auto pool = std::make_shared<DeliveryPool>();
    if (!pool->start(*this)) {
        pool->stopping = true;  // the threads that did start leave once they get the lock
        return false;
    }
    pool_ = std::move(pool);
    return true;
}

bool Broker::enqueue(std::vector<Task>& tasks)
{
    if (tasks.empty())
        return true;
    if (!ensurePool())
        return false;
    for (Task& task : tasks)
        queue_.push_back(std::move(task));
    if (tasks.size() == 1)
        workAvailable_.notifyOne();
    else
        workAvailable_.notifyAll();
    return true;
}

std::uint32_t Broker::publish(void* handle, const MessageHeader* header, const wchar_t* name,
                              const wchar_t* sender, const wchar_t* payload)
{
    if (header == nullptr || name == nullptr || sender == nullptr || payload == nullptr)
        return MODULE_STATUS_INVALID_PARAMETER.value();
    auto envelope = makeEnvelope(*header, name, sender, payload);

    Guard guard(lock_);
    auto connection = connections_.find(connectionId(handle));
    if (connection == connections_.end())
        return MODULE_STATUS_INVALID_HANDLE.value();
    stamp(*envelope, connection->second);

    const std::uint64_t token = readToken(envelope->header);
    std::vector<Task> tasks;
    if (testFlag(envelope->header, kMessageFlagReply) && token != 0) {
        // A reply: to its requester only, and only while the request waits.
        auto found = requests_.find(token);
        if (found == requests_.end() || found->second->state != Request::State::Waiting)
            return MODULE_STATUS_NOT_FOUND.value();
        forgetDeadline(*found->second);
        found->second->state = Request::State::Queued;
        tasks.push_back(Task{nullptr, found->second, envelope, MODULE_STATUS_SUCCESS.value()});
    } else {
        for (auto& subscription : route(envelope->name))
            tasks.push_back(Task{std::move(subscription), nullptr, envelope, MODULE_STATUS_SUCCESS.value()});
    }
    return enqueue(tasks) ? MODULE_STATUS_SUCCESS.value() : MODULE_STATUS_UNSUCCESSFUL.value();
}

std::uint32_t Broker::request(void* handle, std::uint64_t replyIndex, void* context, BusReplyCallback callback,
                              const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                              const wchar_t* payload, std::int64_t timeLimitMs)
{
    if (callback == nullptr || header == nullptr || name == nullptr || sender == nullptr || payload == nullptr ||
        timeLimitMs <= 0)
        return MODULE_STATUS_INVALID_PARAMETER.value();
    auto envelope = makeEnvelope(*header, name, sender, payload);
    const auto limit = std::chrono::milliseconds(std::min(timeLimitMs, kLongestTimeLimitMs));

    Guard guard(lock_);
    auto connection = connections_.find(connectionId(handle));
    if (connection == connections_.end())
        return MODULE_STATUS_INVALID_HANDLE.value();
    std::vector<std::shared_ptr<Subscription>> targets = route(envelope->name);
    if (targets.empty())
        return MODULE_STATUS_NO_SUBSCRIBERS.value();
    if (!ensurePool())
        return MODULE_STATUS_UNSUCCESSFUL.value();

    stamp(*envelope, connection->second);
    const std::uint64_t token = nextToken_++;
    clearFlag(envelope->header, kMessageFlagReply);
    writeToken(envelope->header, token);

    auto pending = std::make_shared<Request>();
    pending->token = token;
    pending->connection = connection->first;
    pending->replyIndex = replyIndex;
    pending->context = context;
    pending->callback = callback;
    pending->request = envelope;
    pending->deadline = Clock::now() + limit;
    requests_[token] = pending;
    const bool earliest = deadlines_.empty() || pending->deadline < deadlines_.begin()->first;
    deadlines_.emplace(pending->deadline, token);

    std::vector<Task> tasks;
    for (auto& subscription : targets)
        tasks.push_back(Task{std::move(subscription), nullptr, envelope, MODULE_STATUS_SUCCESS.value()});
    enqueue(tasks);
    if (earliest)
        deadlinesChanged_.notifyOne();
    return MODULE_STATUS_SUCCESS.value();
}

// ---- subscriptions ------------------------------------------------------------

std::uint32_t Broker::subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* text,
                                bool isPattern)
{
    if (callback == nullptr || text == nullptr)
        return 0;
    auto subscription = std::make_shared<Subscription>();
    subscription->connection = connectionId(handle);
    subscription->context = context;
    subscription->callback = callback;
    subscription->isPattern = isPattern;
    subscription->text = text;
    if (isPattern) {
        try {
            subscription->pattern.assign(subscription->text, std::regex_constants::ECMAScript |
                                                                 std::regex_constants::nosubs |
                                                                 std::regex_constants::optimize);
        } catch (const std::regex_error&) {
            return 0;
        }
    }

    Guard guard(lock_);
    if (!isOpen(subscription->connection))
        return 0;
    while (nextSubscription_ == 0 || subscriptions_.count(nextSubscription_) != 0)
        ++nextSubscription_;
    subscription->id = nextSubscription_++;
    subscriptions_[subscription->id] = subscription;
    if (isPattern)
        byPattern_.push_back(subscription);
    else
        byName_[subscription->text].push_back(subscription);
    return subscription->id;
}

void Broker::deactivate(const std::shared_ptr<Subscription>& subscription)
{
    subscription->active = false;
    subscriptions_.erase(subscription->id);
    if (subscription->isPattern) {
        byPattern_.erase(std::remove(byPattern_.begin(), byPattern_.end(), subscription), byPattern_.end());
        return;
    }
    auto named = byName_.find(subscription->text);
    if (named == byName_.end())
        return;
    auto& list = named->second;
    list.erase(std::remove(list.begin(), list.end(), subscription), list.end());
    if (list.empty())
        byName_.erase(named);
}

std::uint32_t Broker::unsubscribe(void* handle, std::uint32_t id)
{
    const std::uint64_t connection = connectionId(handle);
    Guard guard(lock_);
    if (!isOpen(connection))
        return MODULE_STATUS_INVALID_HANDLE.value();
    auto found = subscriptions_.find(id);
    if (found == subscriptions_.end() || found->second->connection != connection)
        return MODULE_STATUS_NOT_FOUND.value();
    const std::shared_ptr<Subscription> subscription = found->second;
    deactivate(subscription);
    waitForSubscription(guard, subscription);
    return MODULE_STATUS_SUCCESS.value();
}

void Broker::waitForSubscription(Guard& guard, const std::shared_ptr<Subscription>& subscription)
{
    const DWORD self = ::GetCurrentThreadId();
    callbackDone_.wait(guard, [&] {
        return std::all_of(subscription->runningOn.begin(), subscription->runningOn.end(),
                           [self](DWORD thread) { return thread == self; });
    });
}

// ---- requests -----------------------------------------------------------------

void Broker::forgetDeadline(const Request& request)
{
    auto range = deadlines_.equal_range(request.deadline);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == request.token) {
            deadlines_.erase(it);
            return;
        }
    }
}

std::vector<std::shared_ptr<Request>> Broker::cancelMatching(std::uint64_t connection, BusReplyCallback callback,
                                                             bool anyCallback)
{
    const DWORD self = ::GetCurrentThreadId();
    std::vector<std::shared_ptr<Request>> running;
    for (auto it = requests_.begin(); it != requests_.end();) {
        Request& pending = *it->second;
        if (pending.connection != connection || (!anyCallback && pending.callback != callback)) {
            ++it;
            continue;
        }
        if (pending.state == Request::State::Running) {
            if (pending.runningOn != self)
                running.push_back(it->second);
            ++it;
            continue;
        }
        if (pending.state == Request::State::Waiting)
            forgetDeadline(pending);
        pending.state = Request::State::Finished;  // a queued end is skipped by its thread
        it = requests_.erase(it);
    }
    return running;
}

void Broker::waitForRequests(Guard& guard, const std::vector<std::shared_ptr<Request>>& running)
{
    callbackDone_.wait(guard, [&] {
        return std::all_of(running.begin(), running.end(), [](const std::shared_ptr<Request>& pending) {
            return pending->state == Request::State::Finished;
        });
    });
}

std::uint32_t Broker::cancelRequests(void* handle, BusReplyCallback callback)
{
    const std::uint64_t connection = connectionId(handle);
    Guard guard(lock_);
    if (!isOpen(connection))
        return MODULE_STATUS_INVALID_HANDLE.value();
    const auto running = cancelMatching(connection, callback, callback == nullptr);
    waitForRequests(guard, running);
    return MODULE_STATUS_SUCCESS.value();
}

// ---- the threads --------------------------------------------------------------

void Broker::deliver(Guard& guard, Task& task)
{
    const DWORD self = ::GetCurrentThreadId();
    const Envelope& envelope = *task.envelope;
    if (task.subscription) {
        Subscription& subscription = *task.subscription;
        if (!subscription.active)
            return;
        subscription.runningOn.push_back(self);
        guard.unlock();
        try {
            subscription.callback(subscription.context, &envelope.header, envelope.name.c_str(),
                                  envelope.sender.c_str(), envelope.payload.c_str());
        } catch (...) {
        }
        guard.lock();
        auto& running = subscription.runningOn;
        running.erase(std::find(running.begin(), running.end(), self));
        if (!subscription.active)
            callbackDone_.notifyAll();
        return;
    }

    Request& pending = *task.request;
    if (pending.state != Request::State::Queued)
        return;
    pending.state = Request::State::Running;
    pending.runningOn = self;
    guard.unlock();
    // A time-out carries the request's own header, name and sender, and no payload.
    const wchar_t* payload = task.status == MODULE_STATUS_SUCCESS.value() ? envelope.payload.c_str() : L"";
    try {
        pending.callback(pending.context, pending.replyIndex, &envelope.header, envelope.name.c_str(),
                         envelope.sender.c_str(), payload, task.status);
    } catch (...) {
    }
    guard.lock();
    pending.state = Request::State::Finished;
    requests_.erase(pending.token);
    callbackDone_.notifyAll();
}

void Broker::runDeliveryThread(DeliveryPool& pool)
{
    Guard guard(lock_);
    for (;;) {
        workAvailable_.wait(guard, [&] { return pool.stopping || !queue_.empty(); });
        if (pool.stopping)
            return;
        Task task = std::move(queue_.front());
        queue_.pop_front();
        deliver(guard, task);
    }
}

void Broker::runTimerThread(DeliveryPool& pool)
{
    Guard guard(lock_);
    while (!pool.stopping) {
        const Clock::time_point now = Clock::now();
        std::vector<Task> expired;
        while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
            const std::uint64_t token = deadlines_.begin()->second;
            deadlines_.erase(deadlines_.begin());
            auto found = requests_.find(token);
            if (found == requests_.end() || found->second->state != Request::State::Waiting)
                continue;
            found->second->state = Request::State::Queued;
            expired.push_back(Task{nullptr, found->second, found->second->request, MODULE_STATUS_TIMEOUT.value()});
        }
        enqueue(expired);
        if (deadlines_.empty()) {
            deadlinesChanged_.wait(guard);
            continue;
        }
        const auto untilNext =
            std::chrono::ceil<std::chrono::milliseconds>(deadlines_.begin()->first - now).count();
        deadlinesChanged_.waitFor(guard, static_cast<DWORD>(std::max<long long>(1, std::min<long long>(untilNext, 60000))));
    }
}

} // namespace busbroker
