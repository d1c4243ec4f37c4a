// The sandbox broker through its raw function table, as any bus user sees it.
#include "BrokerHarness.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

using namespace Orvik;
using bustest::BrokerConnection;
using bustest::BrokerLibrary;
using bustest::waitUntil;

namespace {

// A plain C subscriber: counts deliveries and keeps the last header and name.
struct RawSubscriber {
    std::atomic<int> calls{0};
    std::atomic<int> inside{0};
    std::mutex lock;
    MessageHeader lastHeader{};
    std::wstring lastName;
    std::function<void()> whileInside;  // runs during the callback

    static std::uint32_t onMessage(void* context, const MessageHeader* header, const wchar_t* name,
                                   const wchar_t*, const wchar_t*)
    {
        auto* self = static_cast<RawSubscriber*>(context);
        ++self->inside;
        {
            std::lock_guard<std::mutex> guard(self->lock);
            self->lastHeader = *header;
            self->lastName = name;
        }
        if (self->whileInside)
            self->whileInside();
        ++self->calls;
        --self->inside;
        return 0;
    }
};

struct RawRequester {
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> status{0};
    std::atomic<std::uint64_t> index{0};
    std::wstring payload;

    static std::uint32_t onReply(void* context, std::uint64_t index, const MessageHeader*, const wchar_t*,
                                 const wchar_t*, const wchar_t* payload, std::uint32_t status)
    {
        auto* self = static_cast<RawRequester*>(context);
        self->payload = payload;
        self->index = index;
        self->status = status;
        ++self->calls;
        return 0;
    }
};

class RawBroker : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(library.handle(), nullptr);
        table = library.functions();
        ASSERT_NE(table, nullptr);
        connection = std::make_unique<BrokerConnection>(table);
        ASSERT_EQ(connection->openStatus(), 0u);
        handle = connection->handle();
    }
    std::uint32_t publish(const std::wstring& name, const MessageHeader& header = kMessageHeaderTemplate,
                          const std::wstring& payload = L"{}")
    {
        return table->publish(handle, &header, name.c_str(), L"Tester", payload.c_str());
    }

    BrokerLibrary library;
    const MessageBusFunctions* table = nullptr;
    std::unique_ptr<BrokerConnection> connection;
    void* handle = nullptr;
};

} // namespace

TEST(BrokerLibrary, ExportsTheFourFrameworkEntriesAndTheTableForItsVersionOnly)
{
    BrokerLibrary library;
    ASSERT_NE(library.handle(), nullptr);
    auto create = library.get<const MessageBusFunctions* (*)(std::uint32_t)>("CreateObject");
    auto versionNum = library.get<std::uint32_t (*)()>("GetVersionNum");
    auto versionStr = library.get<const char* (*)()>("GetVersionStr");
    auto release = library.get<void (*)()>("ReleaseObject");
    ASSERT_TRUE(create && versionNum && versionStr && release);
    EXPECT_NE(create(2001000), nullptr);
    EXPECT_EQ(create(2001000), create(2001000));
    EXPECT_EQ(create(1000000), nullptr);
    EXPECT_EQ(versionNum(), 2001000u);
    EXPECT_STREQ(versionStr(), "2.1.0");
    release();
}

TEST_F(RawBroker, RoutesByExactNameAndWholeNamePattern)
{
    RawSubscriber exact, pattern, partial, other;
    ASSERT_NE(table->subscribe(handle, &exact, &RawSubscriber::onMessage, L"Core.Update.State"), 0u);
    ASSERT_NE(table->subscribeFilter(handle, &pattern, &RawSubscriber::onMessage, L"Core\\.Update\\..*"), 0u);
    ASSERT_NE(table->subscribeFilter(handle, &partial, &RawSubscriber::onMessage, L"Update"), 0u);
    ASSERT_NE(table->subscribe(handle, &other, &RawSubscriber::onMessage, L"Core.Update.Other"), 0u);

    EXPECT_EQ(publish(L"Core.Update.State"), 0u);
    EXPECT_EQ(publish(L"Nobody.Listens"), 0u) << "publishing to no subscriber is fine";
    ASSERT_TRUE(waitUntil([&] { return exact.calls == 1 && pattern.calls == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(exact.calls, 1);
    EXPECT_EQ(pattern.calls, 1);
    EXPECT_EQ(partial.calls, 0) << "a pattern must match the whole name";
    EXPECT_EQ(other.calls, 0);
}

TEST_F(RawBroker, FillsInTheHeaderItDelivers)
{
    RawSubscriber subscriber;
    ASSERT_NE(table->subscribe(handle, &subscriber, &RawSubscriber::onMessage, L"Note"), 0u);
    MessageHeader versionOne = kMessageHeaderTemplate;
    versionOne.version = 1;
    versionOne.flags = 0x4;
    versionOne.sessionId = 99;  // not part of a version-1 header
    ASSERT_EQ(publish(L"Note", versionOne, L"abc"), 0u);
    ASSERT_TRUE(waitUntil([&] { return subscriber.calls == 1; }));

    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    std::lock_guard<std::mutex> guard(subscriber.lock);
    const MessageHeader& h = subscriber.lastHeader;
    EXPECT_EQ(h.version, 2);
    EXPECT_EQ(h.flags, 0x4u);
    EXPECT_EQ(h.totalSize, messageTotalSize(4, 6, 3));
    EXPECT_EQ(h.sessionKind, 11);
    EXPECT_EQ(h.sessionSize, 8);
    EXPECT_EQ(h.sessionId, session);
    std::uint64_t sequence = 0;
    std::memcpy(&sequence, h.serviceData, sizeof sequence);
    EXPECT_NE(sequence, 0u);
}

TEST_F(RawBroker, RefusesBadInputWithAStatus)
{
    RawSubscriber subscriber;
    RawRequester requester;
    const MessageHeader header = kMessageHeaderTemplate;
    EXPECT_EQ(table->subscribeFilter(handle, &subscriber, &RawSubscriber::onMessage, L"["), 0u);
    EXPECT_EQ(table->subscribe(handle, &subscriber, &RawSubscriber::onMessage, nullptr), 0u);
    EXPECT_EQ(table->subscribe(handle, &subscriber, nullptr, L"Name"), 0u);
    EXPECT_EQ(table->publish(handle, nullptr, L"N", L"S", L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(table->publish(handle, &header, L"N", nullptr, L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(table->request(handle, 0, &requester, &RawRequester::onReply, &header, L"N", L"S", L"P", 0),
              MODULE_STATUS_INVALID_PARAMETER) << "a request needs a time limit";
    EXPECT_EQ(table->request(handle, 0, &requester, &RawRequester::onReply, &header, L"N", L"S", L"P", 100),
              MODULE_STATUS_NO_SUBSCRIBERS);
    EXPECT_EQ(table->unsubscribe(handle, 123456), MODULE_STATUS_NOT_FOUND);

    void* closed = reinterpret_cast<void*>(std::uintptr_t(0x7FFF0000));
    EXPECT_EQ(table->publish(closed, &header, L"N", L"S", L"P"), MODULE_STATUS_INVALID_HANDLE);
    EXPECT_EQ(table->subscribe(closed, &subscriber, &RawSubscriber::onMessage, L"N"), 0u);
    EXPECT_EQ(table->close(closed), MODULE_STATUS_INVALID_HANDLE);
    EXPECT_EQ(table->open(nullptr), MODULE_STATUS_INVALID_PARAMETER);

    MessageHeader stray = kMessageHeaderTemplate;
    setFlag(stray, kMessageFlagReply);
    stray.replyRouting[0] = 0x42;
    EXPECT_EQ(publish(L"Reply", stray), MODULE_STATUS_NOT_FOUND) << "a reply to a request never made";
    EXPECT_EQ(requester.calls, 0);
    EXPECT_EQ(subscriber.calls, 0);
}

TEST_F(RawBroker, DeliversOnItsOwnThreadsConcurrently)
{
    RawSubscriber subscriber;
    std::atomic<int> together{0};
    std::atomic<int> maxTogether{0};
    std::mutex threadsLock;
    std::vector<DWORD> threads;
    subscriber.whileInside = [&] {
        {
            std::lock_guard<std::mutex> guard(threadsLock);
            threads.push_back(GetCurrentThreadId());
        }
        const int now = ++together;
        int seen = maxTogether;
        while (now > seen && !maxTogether.compare_exchange_weak(seen, now)) {
        }
        // Hold the thread until a second callback has joined (or give up).
        waitUntil([&] { return maxTogether >= 2; }, std::chrono::milliseconds(3000));
        --together;
    };
    ASSERT_NE(table->subscribe(handle, &subscriber, &RawSubscriber::onMessage, L"Parallel"), 0u);
    ASSERT_EQ(publish(L"Parallel"), 0u);
    ASSERT_EQ(publish(L"Parallel"), 0u);
    ASSERT_TRUE(waitUntil([&] { return subscriber.calls == 2; }));
    EXPECT_EQ(maxTogether, 2) << "two callbacks ran at the same time";
    std::lock_guard<std::mutex> guard(threadsLock);
    for (DWORD thread : threads)
        EXPECT_NE(thread, GetCurrentThreadId());
}

TEST_F(RawBroker, RequestEndsOnceWithItsReplyOrItsTimeOut)
{
    RawSubscriber responder, ignorer;
    RawRequester answered, unanswered;
    const MessageBusFunctions* t = table;
    void* h = handle;
    responder.whileInside = [&, t, h] {
        MessageHeader reply;
        {
            std::lock_guard<std::mutex> guard(responder.lock);
            reply = responder.lastHeader;  // the routing bytes come along
        }
        setFlag(reply, kMessageFlagReply);
        EXPECT_EQ(t->publish(h, &reply, L"Ask.Reply", L"Responder", L"answer"), 0u);
        EXPECT_EQ(t->publish(h, &reply, L"Ask.Reply", L"Responder", L"again"), MODULE_STATUS_NOT_FOUND)
            << "a request takes one reply";
    };
    ASSERT_NE(table->subscribe(handle, &responder, &RawSubscriber::onMessage, L"Ask"), 0u);
    ASSERT_NE(table->subscribe(handle, &ignorer, &RawSubscriber::onMessage, L"Ignore"), 0u);
    RawSubscriber replyWatcher;
    ASSERT_NE(table->subscribe(handle, &replyWatcher, &RawSubscriber::onMessage, L"Ask.Reply"), 0u);

    const MessageHeader header = kMessageHeaderTemplate;
    ASSERT_EQ(table->request(handle, 7, &answered, &RawRequester::onReply, &header, L"Ask", L"Me", L"q", 10000), 0u);
    ASSERT_EQ(table->request(handle, 8, &unanswered, &RawRequester::onReply, &header, L"Ignore", L"Me", L"q", 150),
              0u);
    ASSERT_TRUE(waitUntil([&] { return answered.calls == 1 && unanswered.calls == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(answered.calls, 1);
    EXPECT_EQ(answered.index, 7u);
    EXPECT_EQ(answered.status, 0u);
    EXPECT_EQ(answered.payload, L"answer");
    EXPECT_EQ(unanswered.calls, 1);
    EXPECT_EQ(unanswered.index, 8u);
    EXPECT_EQ(unanswered.status, MODULE_STATUS_TIMEOUT.value());
    EXPECT_EQ(unanswered.payload, L"") << "a time-out carries no payload";
    EXPECT_EQ(replyWatcher.calls, 0) << "a routed reply goes to its requester only";
}

TEST_F(RawBroker, NoCallbackAfterUnsubscribeOrCancelReturns)
{
    RawSubscriber slow;
    std::atomic<bool> release{false};
    slow.whileInside = [&] { waitUntil([&] { return release.load(); }, std::chrono::milliseconds(200)); };
    const std::uint32_t id = table->subscribe(handle, &slow, &RawSubscriber::onMessage, L"Slow");
    ASSERT_NE(id, 0u);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(publish(L"Slow"), 0u);
    ASSERT_TRUE(waitUntil([&] { return slow.inside > 0; }));
    EXPECT_EQ(table->unsubscribe(handle, id), 0u);
    EXPECT_EQ(slow.inside, 0) << "unsubscribe waited for the callbacks in flight";
    const int after = slow.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(slow.calls, after) << "queued deliveries were dropped";
    EXPECT_LT(after, 6);

    // A request cancelled before its time limit never calls back.
    RawSubscriber silent;
    RawRequester requester;
    ASSERT_NE(table->subscribe(handle, &silent, &RawSubscriber::onMessage, L"Silent"), 0u);
    const MessageHeader header = kMessageHeaderTemplate;
    ASSERT_EQ(table->request(handle, 1, &requester, &RawRequester::onReply, &header, L"Silent", L"Me", L"", 100), 0u);
    EXPECT_EQ(table->cancelRequests(handle, &RawRequester::onReply), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(requester.calls, 0);
}

TEST_F(RawBroker, ACallbackMayUnsubscribeItself)
{
    RawSubscriber self;
    std::atomic<std::uint32_t> id{0};
    std::atomic<std::uint32_t> status{1};
    const MessageBusFunctions* t = table;
    void* h = handle;
    self.whileInside = [&, t, h] { status = t->unsubscribe(h, id); };
    id = table->subscribe(handle, &self, &RawSubscriber::onMessage, L"Once");
    ASSERT_NE(id, 0u);
    ASSERT_EQ(publish(L"Once"), 0u);
    ASSERT_TRUE(waitUntil([&] { return self.calls == 1; }, std::chrono::milliseconds(5000)))
        << "unsubscribing from inside the callback must not wait for that callback";
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(publish(L"Once"), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(self.calls, 1);
}
