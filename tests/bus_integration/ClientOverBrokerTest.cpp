// The bus client over the real sandbox broker.
#include "BrokerHarness.h"

#include "LogCapture.h"
#include "message/Reply.h"

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

using namespace Orvik;
using bustest::BrokerFixture;
using bustest::waitUntil;

TEST_F(BrokerFixture, PublishedMessagesReachNameAndPatternSubscribersOfAnotherClient)
{
    std::atomic<int> exact{0}, pattern{0}, partial{0};
    MessagePtr seen;
    std::mutex lock;
    ASSERT_EQ(peer->subscribe(L"Core.Update.State", [&](const MessagePtr& m) {
        std::lock_guard<std::mutex> guard(lock);
        seen = m;
        ++exact;
        return MODULE_STATUS_SUCCESS;
    }), 0u);
    ASSERT_EQ(peer->subscribeFilter(L"Core\\.Update\\..*", [&](const MessagePtr&) { return ++pattern, 0u; }), 0u);
    ASSERT_EQ(peer->subscribeFilter(L"Update", [&](const MessagePtr&) { return ++partial, 0u; }), 0u);

    ASSERT_EQ(client->publish(createMessage(L"Core.Update.State", L"UpdateModule", L"{\"state\":\"on\"}")), 0u);
    ASSERT_TRUE(waitUntil([&] { return exact == 1 && pattern == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(partial, 0);
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->getSender(), L"UpdateModule");
    EXPECT_EQ(seen->getPayload(), L"{\"state\":\"on\"}");
    EXPECT_EQ(seen->getHeader()->sessionId, client->sessionId()) << "the broker stamps the sender's session";
}

TEST_F(BrokerFixture, SameSessionSubscriberSeesMessagesOfItsOwnSession)
{
    std::atomic<int> calls{0};
    ASSERT_EQ(peer->subscribeSameSession(L"Local", [&](const MessagePtr&) { return ++calls, 0u; }), 0u);
    ASSERT_EQ(client->publish(createMessage(L"Local", L"Me", L"{}")), 0u);
    EXPECT_TRUE(waitUntil([&] { return calls == 1; }));
}

TEST_F(BrokerFixture, RequestGetsItsReplyAndSubscribersGetOnePlainCopy)
{
    ASSERT_EQ(bustest::subscribeEcho(*peer, L"Test.Echo"), 0u);
    std::atomic<int> copies{0};
    MessagePtr copy;
    std::mutex lock;
    ASSERT_EQ(client->subscribe(L"Test.Echo.Reply", [&](const MessagePtr& m) {
        std::lock_guard<std::mutex> guard(lock);
        copy = m;
        ++copies;
        return MODULE_STATUS_SUCCESS;
    }), 0u);

    ReplyPtr reply;
    ASSERT_EQ(client->request(createMessage(L"Test.Echo", L"Me", L"hello"), reply, TimeLimit(10000)), 0u);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->wait(), 0);
    ASSERT_TRUE(reply->getMessage());
    EXPECT_EQ(reply->getMessage()->getPayload(), L"echo:hello");
    EXPECT_TRUE(testFlag(*reply->getMessage()->getHeader(), kMessageFlagReply));

    ASSERT_TRUE(waitUntil([&] { return copies == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(copies, 1);
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(copy->getPayload(), L"echo:hello");
    EXPECT_FALSE(testFlag(*copy->getHeader(), kMessageFlagReply));
    EXPECT_TRUE(testFlag(*copy->getHeader(), kMessageFlagReplyCopied));
}

TEST_F(BrokerFixture, UnansweredRequestEndsWithTheTimeOutStatus)
{
    ASSERT_EQ(bustest::subscribeEcho(*peer, L"Test.Echo"), 0u);
    ReplyPtr reply;
    ASSERT_EQ(client->request(createMessage(L"Test.Echo", L"Me", L"silent"), reply, TimeLimit(150)), 0u);
    EXPECT_EQ(reply->waitFor(TimeLimit(0)), 1);
    EXPECT_EQ(reply->wait(), 2);
    EXPECT_FALSE(reply->getMessage());

    std::promise<std::int32_t> completed;
    ASSERT_EQ(client->requestAsync(createMessage(L"Test.Echo", L"Me", L"silent"),
                                   [&](const ReplyPtr& r) { completed.set_value(r->getStatus()); }, TimeLimit(150)),
              0u);
    auto status = completed.get_future();
    ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(status.get(), 2);
}

TEST_F(BrokerFixture, RequestToNobodyIsRefusedAtOnce)
{
    testsupport::LogCapture capture;
    ReplyPtr reply;
    EXPECT_EQ(client->request(createMessage(L"Nobody.Home", L"Me", L"{}"), reply, TimeLimit(5000)),
              MODULE_STATUS_NO_SUBSCRIBERS);
    EXPECT_FALSE(reply);
    EXPECT_TRUE(capture.contains(L"Failed to make request. Error code 2147483662."));
}

TEST_F(BrokerFixture, DestroyingAClientEndsItsWaitingRepliesWithFailure)
{
    ASSERT_EQ(bustest::subscribeEcho(*peer, L"Test.Echo"), 0u);
    std::vector<std::future<std::int32_t>> waits;
    for (int i = 0; i < 4; ++i) {
        ReplyPtr reply;
        ASSERT_EQ(client->request(createMessage(L"Test.Echo", L"Me", L"silent"), reply, TimeLimit(60000)), 0u);
        waits.push_back(std::async(std::launch::async, [reply] { return reply->wait(); }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    client.reset();
    for (auto& wait : waits) {
        ASSERT_EQ(wait.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(wait.get(), 3);
    }
}

TEST_F(BrokerFixture, UnsubscribeWaitsForCallbacksInFlightAndNoneRunAfter)
{
    std::atomic<int> inside{0}, calls{0};
    std::atomic<bool> unsubscribed{false};
    std::atomic<int> late{0};
    ASSERT_EQ(peer->subscribe(L"Slow", L"slow", [&](const MessagePtr&) {
        if (unsubscribed)
            ++late;
        ++inside;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --inside;
        ++calls;
        return MODULE_STATUS_SUCCESS;
    }), 0u);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(client->publish(createMessage(L"Slow", L"Me", L"{}")), 0u);
    ASSERT_TRUE(waitUntil([&] { return inside > 0; }));
    ASSERT_EQ(peer->unsubscribe(L"slow"), 0u);
    unsubscribed = true;
    EXPECT_EQ(inside, 0);
    ASSERT_EQ(client->publish(createMessage(L"Slow", L"Me", L"{}")), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(late, 0);
}

TEST_F(BrokerFixture, CallbacksMaySubscribeAndUnsubscribeWhileAnotherThreadUnsubscribesThem)
{
    // A callback that subscribes on its own client while another thread drops
    // the callback's alias: the service waits for the callback, which needs the
    // client's table.
    std::atomic<bool> entered{false};
    std::atomic<int> innerStatus{-1};
    ASSERT_EQ(peer->subscribe(L"Busy", L"busy", [&](const MessagePtr&) {
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the unsubscribe start
        innerStatus = static_cast<int>(peer->subscribe(L"Inner", L"inner", [](const MessagePtr&) { return 0u; }).value());
        (void)peer->unsubscribe(L"inner");
        return MODULE_STATUS_SUCCESS;
    }), 0u);
    ASSERT_EQ(client->publish(createMessage(L"Busy", L"Me", L"{}")), 0u);
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }));
    auto dropping = std::async(std::launch::async, [&] { return peer->unsubscribe(L"busy"); });
    ASSERT_EQ(dropping.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "deadlock";
    EXPECT_EQ(dropping.get(), 0u);
    EXPECT_EQ(innerStatus, 0);
}

TEST_F(BrokerFixture, ACallbackMayDropItsOwnSubscription)
{
    std::atomic<int> calls{0};
    std::atomic<int> status{-1};
    ASSERT_EQ(peer->subscribeFilter(L"Once\\..*", L"once", [&](const MessagePtr&) {
        ++calls;
        status = static_cast<int>(peer->unsubscribe(L"once").value());
        return MODULE_STATUS_SUCCESS;
    }), 0u);
    ASSERT_EQ(client->publish(createMessage(L"Once.More", L"Me", L"{}")), 0u);
    ASSERT_TRUE(waitUntil([&] { return status != -1; }));
    EXPECT_EQ(status, 0);
    ASSERT_EQ(client->publish(createMessage(L"Once.More", L"Me", L"{}")), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls, 1);
}
