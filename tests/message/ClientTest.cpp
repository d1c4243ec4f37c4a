#include "message/MessageBusClient.h"

#include "BusMocks.h"
#include "LogCapture.h"
#include "message/Reply.h"

#include <gtest/gtest.h>

#include <future>

using namespace Orvik;
using bustest::MockProcessAPI;
using bustest::MockShim;
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::SetArgPointee;

namespace {

constexpr DWORD kProcessId = 1234;

class ClientTest : public ::testing::Test {
protected:
    // A client whose process runs in `session` (failure when `found` is false).
    std::unique_ptr<MessageBusClient> makeClient(DWORD session = 7, bool found = true)
    {
        auto shimOwner = std::make_shared<NiceMock<MockShim>>();
        auto processOwner = std::make_shared<NiceMock<MockProcessAPI>>();
        shim = shimOwner.get();
        ON_CALL(*processOwner, GetCurrentProcessId()).WillByDefault(Return(kProcessId));
        ON_CALL(*processOwner, ProcessIdToSessionId(kProcessId, _))
            .WillByDefault(DoAll(SetArgPointee<1>(session), Return(found ? TRUE : FALSE)));
        ON_CALL(*shim, subscribe(_, _)).WillByDefault(Invoke([this](const std::wstring&, void* context) {
            lastContext = context;
            return nextId++;
        }));
        ON_CALL(*shim, subscribeFilter(_, _)).WillByDefault(Invoke([this](const std::wstring&, void* context) {
            lastContext = context;
            return nextId++;
        }));
        return std::make_unique<MessageBusClient>(shimOwner, processOwner);
    }

    static MessageCallback counting(int& calls, ModuleStatus status = MODULE_STATUS_SUCCESS)
    {
        return [&calls, status](const MessagePtr&) {
            ++calls;
            return status;
        };
    }

    MockShim* shim = nullptr;
    void* lastContext = nullptr;
    std::uint32_t nextId = 11;
};

struct PublishSeen {
    std::uint32_t flags;
    std::uint8_t routing0;
    std::uint8_t routing7;
    bool extended;
};

} // namespace

TEST_F(ClientTest, SessionIdComesFromTheProcessApi)
{
    testsupport::LogCapture capture;
    EXPECT_EQ(makeClient(7)->sessionId(), 7u);
    auto found = capture.matching(L"Found session id 7 for process 1234");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].level, 1u);
    EXPECT_EQ(found[0].function, L"Orvik::MessageBusClient::MessageBusClient");

    EXPECT_EQ(makeClient(7, false)->sessionId(), 0u);
    auto failed = capture.matching(L"Failed to get the session id for process 1234 - defaulting to 0");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].level, 4u);
}

TEST_F(ClientTest, OneUnsubscribeDropsEveryEntryOfTheAliasSubscriptionsFirst)
{
    auto client = makeClient();
    int calls = 0;
    ASSERT_EQ(client->subscribe(L"A", L"group", counting(calls)), 0u);                // id 11
    ASSERT_EQ(client->subscribeFilter(L"B\\..*", L"group", counting(calls)), 0u);     // id 12
    ASSERT_EQ(client->subscribe(L"C", L"group", counting(calls)), 0u);                // id 13
    ASSERT_EQ(client->subscribe(L"D", counting(calls)), 0u);                          // id 14, alias "D"
    {
        InSequence order;
        EXPECT_CALL(*shim, unsubscribe(11u));
        EXPECT_CALL(*shim, unsubscribe(13u));
        EXPECT_CALL(*shim, unsubscribe(12u));
    }
    EXPECT_EQ(client->unsubscribe(L"group"), 0u);
    ::testing::Mock::VerifyAndClearExpectations(shim);

    testsupport::LogCapture capture;
    EXPECT_CALL(*shim, unsubscribe(_)).Times(0);
    EXPECT_EQ(client->unsubscribe(L"group"), 0u);
    auto logged = capture.matching(L"Subscription not found. Alias: group.");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 2u);
    ::testing::Mock::VerifyAndClearExpectations(shim);
    EXPECT_CALL(*shim, unsubscribe(14u));  // the client's teardown drops what is left
}

TEST_F(ClientTest, RefusedSubscribeLeavesAnEmptyAlias)
{
    auto client = makeClient();
    EXPECT_CALL(*shim, subscribe(std::wstring(L"A"), _)).WillOnce(Return(0u));
    testsupport::LogCapture capture;
    int calls = 0;
    EXPECT_EQ(client->subscribe(L"A", L"group", counting(calls)), MODULE_STATUS_UNSUCCESSFUL);
    auto logged = capture.matching(L"Failed to subscribe. Alias: group Message name: A");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 4u);

    EXPECT_CALL(*shim, subscribeFilter(std::wstring(L"B.*"), _)).WillOnce(Return(0u));
    EXPECT_EQ(client->subscribeFilter(L"B.*", L"group", counting(calls)), MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(capture.contains(L"Failed to subscribeFilter. Alias: group Message nameRegex: B.*"));

    capture.clear();
    EXPECT_CALL(*shim, unsubscribe(_)).Times(0);
    EXPECT_EQ(client->unsubscribe(L"group"), 0u);
    EXPECT_FALSE(capture.contains(L"Subscription not found")) << "the empty alias record is still there";
}

TEST_F(ClientTest, PatternThatDoesNotCompileIsRefusedBeforeTheService)
{
    auto client = makeClient();
    EXPECT_CALL(*shim, subscribeFilter(_, _)).Times(0);
    testsupport::LogCapture capture;
    int calls = 0;
    EXPECT_EQ(client->subscribeFilter(L"[", L"bad", counting(calls)), MODULE_STATUS_INVALID_PARAMETER);
    auto logged = capture.matching(L"subscribeFilter failed. Regex error with regex \"[\" [caught: ");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 4u);
    EXPECT_EQ(logged[0].function, L"Orvik::MessageBusClient::subscribeFilter");
    EXPECT_GT(logged[0].text.size(), std::wstring(L"subscribeFilter failed. Regex error with regex \"[\" [caught: ]").size())
        << "the error's own description is included";

    capture.clear();
    (void)client->unsubscribe(L"bad");
    EXPECT_TRUE(capture.contains(L"Subscription not found. Alias: bad.")) << "no entry remains";
}

TEST_F(ClientTest, SameSessionSubscribersSeeOnlyTheirSessionNoSessionAndVersionOne)
{
    auto client = makeClient(7);
    int calls = 0;
    ASSERT_EQ(client->subscribeSameSession(L"Note", counting(calls, MODULE_STATUS_PARTIAL_SUCCESS)), 0u);
    void* sameSession = lastContext;
    int plainCalls = 0;
    ASSERT_EQ(client->subscribe(L"Note", L"plain", counting(plainCalls)), 0u);
    void* plain = lastContext;

    EXPECT_EQ(bustest::deliver(sameSession, L"Note", bustest::headerWithSession(8)), 0u) << "dropped quietly";
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(bustest::deliver(sameSession, L"Note", bustest::headerWithSession(7)), MODULE_STATUS_PARTIAL_SUCCESS);
    EXPECT_EQ(bustest::deliver(sameSession, L"Note", bustest::headerWithSession(0)), MODULE_STATUS_PARTIAL_SUCCESS);
    EXPECT_EQ(bustest::deliver(sameSession, L"Note", bustest::headerWithSession(8, 1)), MODULE_STATUS_PARTIAL_SUCCESS)
        << "a version-1 header has no session to compare";
    EXPECT_EQ(calls, 3);

    bustest::deliver(plain, L"Note", bustest::headerWithSession(8));
    EXPECT_EQ(plainCalls, 1) << "an ordinary subscriber sees every session";

    // A filter subscription gets the same treatment.
    int filterCalls = 0;
    ASSERT_EQ(client->subscribeFilterSameSession(L"N.*", counting(filterCalls)), 0u);
    bustest::deliver(lastContext, L"Note", bustest::headerWithSession(8));
    bustest::deliver(lastContext, L"Note", bustest::headerWithSession(7));
    EXPECT_EQ(filterCalls, 1);
}

TEST_F(ClientTest, WithoutASessionIdTheSameSessionFilterIsOff)
{
    auto client = makeClient(0);
    int calls = 0;
    ASSERT_EQ(client->subscribeSameSession(L"Note", L"alias", counting(calls)), 0u);
    bustest::deliver(lastContext, L"Note", bustest::headerWithSession(8));
    EXPECT_EQ(calls, 1);
}

TEST_F(ClientTest, PublishingAReplyAlsoPublishesAPlainCopy)
{
    auto client = makeClient();
    std::vector<PublishSeen> seen;
    EXPECT_CALL(*shim, publish(_, _)).Times(2).WillRepeatedly(Invoke([&](const MessagePtr& m, bool extended) {
        const MessageHeader& h = *m->getHeader();
        seen.push_back({h.flags, h.replyRouting[0], h.replyRouting[7], extended});
        return MODULE_STATUS_SUCCESS;
    }));
    MessagePtr reply = createMessage(L"Reply", L"Me", L"{}");
    setFlag(*reply->getHeader(), kMessageFlagReply);
    reply->getHeader()->replyRouting[0] = 0x5A;
    reply->getHeader()->replyRouting[7] = 0xA5;

    EXPECT_EQ(client->publishEx(reply), 0u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].flags, 0x11u) << "reply and copy-made bits";
    EXPECT_EQ(seen[0].routing0, 0x5A);
    EXPECT_EQ(seen[0].routing7, 0xA5);
    EXPECT_EQ(seen[1].flags, 0x10u) << "the copy is no reply";
    EXPECT_EQ(seen[1].routing0, 0);
    EXPECT_EQ(seen[1].routing7, 0);
    EXPECT_TRUE(seen[0].extended && seen[1].extended);
    EXPECT_EQ(reply->getHeader()->flags, 0x10u) << "the caller holds the plain copy";
}

TEST_F(ClientTest, NoCopyForAReplyThatForbidsItOrHasOneAlready)
{
    auto client = makeClient();
    EXPECT_CALL(*shim, publish(_, false)).Times(3).WillRepeatedly(Return(MODULE_STATUS_SUCCESS));
    MessagePtr noCopy = createMessage(L"Reply", L"Me", L"{}");
    noCopy->getHeader()->flags = 0x9;  // reply + no copy
    EXPECT_EQ(client->publish(noCopy), 0u);
    EXPECT_EQ(noCopy->getHeader()->flags, 0x9u);

    MessagePtr copied = createMessage(L"Reply", L"Me", L"{}");
    copied->getHeader()->flags = 0x11;  // reply + copy made
    EXPECT_EQ(client->publish(copied), 0u);

    EXPECT_EQ(client->publish(createMessage(L"Plain", L"Me", L"{}")), 0u);
    EXPECT_EQ(client->publish(nullptr), MODULE_STATUS_INVALID_PARAMETER) << "refused before the service";
}

TEST_F(ClientTest, PublishFailuresAreReportedOnceEach)
{
    auto client = makeClient();
    testsupport::LogCapture capture;
    MessagePtr reply = createMessage(L"Reply", L"Me", L"{}");
    setFlag(*reply->getHeader(), kMessageFlagReply);
    EXPECT_CALL(*shim, publish(_, _)).WillOnce(Return(MODULE_STATUS_UNSUCCESSFUL));
    EXPECT_EQ(client->publish(reply), MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(reply->getHeader()->flags, 0x11u) << "the copy bit stays set, no copy was sent";
    auto logged = capture.matching(L"Failed to publish message. Error code 2147483650.");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 4u);

    ::testing::Mock::VerifyAndClearExpectations(shim);
    MessagePtr second = createMessage(L"Reply", L"Me", L"{}");
    setFlag(*second->getHeader(), kMessageFlagReply);
    EXPECT_CALL(*shim, publish(_, _)).WillOnce(Return(MODULE_STATUS_SUCCESS)).WillOnce(Return(MODULE_STATUS_TIMEOUT));
    EXPECT_EQ(client->publish(second), 0u) << "a failed copy does not fail the publish";
    auto warned = capture.matching(L"Failed to publish non-reply copy of the message. Error code 2147483661.");
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_EQ(warned[0].level, 2u);
}

TEST_F(ClientTest, RequestsAreNumberedFromZeroAndEndByTheirReplyStatus)
{
    auto client = makeClient();
    std::vector<std::uint64_t> indexes;
    void* context = nullptr;
    EXPECT_CALL(*shim, request(_, _, _, 5000, false))
        .Times(3)
        .WillRepeatedly(Invoke([&](const MessagePtr&, std::uint64_t index, void* ctx, std::int64_t, bool) {
            indexes.push_back(index);
            context = ctx;
            return MODULE_STATUS_SUCCESS;
        }));
    const TimeLimit limit(5000);
    ReplyPtr answered, timedOut, failed;
    ASSERT_EQ(client->request(createMessage(L"Q", L"Me", L"{}"), answered, limit), 0u);
    ASSERT_EQ(client->request(createMessage(L"Q", L"Me", L"{}"), timedOut, limit), 0u);
    ASSERT_EQ(client->request(createMessage(L"Q", L"Me", L"{}"), failed, limit), 0u);
    EXPECT_EQ(indexes, (std::vector<std::uint64_t>{0, 1, 2}));
    ASSERT_TRUE(answered && timedOut && failed);
    EXPECT_EQ(answered->getStatus(), 1);

    EXPECT_EQ(bustest::answer(context, 1, MODULE_STATUS_TIMEOUT.value()), 0u);
    EXPECT_EQ(bustest::answer(context, 0, MODULE_STATUS_SUCCESS.value()), 0u);
    EXPECT_EQ(bustest::answer(context, 2, MODULE_STATUS_UNSUCCESSFUL.value()), 0u);
    EXPECT_EQ(answered->wait(), 0);
    ASSERT_TRUE(answered->getMessage());
    EXPECT_EQ(answered->getMessage()->getPayload(), L"{\"ok\":true}");
    EXPECT_EQ(timedOut->wait(), 2);
    EXPECT_EQ(failed->wait(), 3);
}

TEST_F(ClientTest, ReplyForAnUnknownOrSettledIndexChangesNothing)
{
    auto client = makeClient();
    void* context = nullptr;
    EXPECT_CALL(*shim, request(_, _, _, _, _)).WillOnce(DoAll(SaveArg<2>(&context), Return(MODULE_STATUS_SUCCESS)));
    ReplyPtr reply;
    ASSERT_EQ(client->request(createMessage(L"Q", L"Me", L"{}"), reply, TimeLimit(100)), 0u);

    testsupport::LogCapture capture;
    EXPECT_EQ(bustest::answer(context, 5, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_NOT_FOUND);
    EXPECT_EQ(reply->waitFor(TimeLimit(0)), 1) << "the pending request is untouched";
    EXPECT_EQ(bustest::answer(context, 0, MODULE_STATUS_SUCCESS.value(), L"first"), 0u);
    EXPECT_EQ(bustest::answer(context, 0, MODULE_STATUS_SUCCESS.value(), L"second"), MODULE_STATUS_NOT_FOUND);
    EXPECT_EQ(reply->wait(), 0);
    EXPECT_EQ(reply->getMessage()->getPayload(), L"first");
    auto logged = capture.matching(L"Reply index not found. Returning");
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].level, 2u);
}

TEST_F(ClientTest, RefusedRequestReturnsTheServiceStatusAndForgetsTheIndex)
{
    auto client = makeClient();
    void* context = nullptr;
    EXPECT_CALL(*shim, request(_, 0u, _, _, true))
        .WillOnce(DoAll(SaveArg<2>(&context), Return(MODULE_STATUS_NO_SUBSCRIBERS)));
    testsupport::LogCapture capture;
    ReplyPtr untouched;
    EXPECT_EQ(client->requestEx(createMessage(L"Q", L"Me", L"{}"), untouched, TimeLimit(100)),
              MODULE_STATUS_NO_SUBSCRIBERS);
    EXPECT_FALSE(untouched);
    EXPECT_TRUE(capture.contains(L"Failed to make request. Error code 2147483662."));
    EXPECT_EQ(bustest::answer(context, 0, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_NOT_FOUND);

    // An empty message reaches the shim, which refuses it; the record goes too.
    EXPECT_CALL(*shim, request(_, 1u, _, _, _)).WillOnce(Return(MODULE_STATUS_INVALID_PARAMETER));
    EXPECT_EQ(client->request(nullptr, untouched, TimeLimit(100)), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bustest::answer(context, 1, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_NOT_FOUND);
}

TEST_F(ClientTest, AsyncCompletionGetsTheSettledReply)
{
    auto client = makeClient();
    void* context = nullptr;
    EXPECT_CALL(*shim, request(_, _, _, _, _))
        .WillRepeatedly(DoAll(SaveArg<2>(&context), Return(MODULE_STATUS_SUCCESS)));
    std::vector<std::int32_t> statuses;
    ReplyCallback completion = [&](const ReplyPtr& reply) { statuses.push_back(reply->getStatus()); };
    ASSERT_EQ(client->requestAsync(createMessage(L"Q", L"Me", L"{}"), completion, TimeLimit(100)), 0u);
    ASSERT_EQ(client->requestAsyncEx(createMessage(L"Q", L"Me", L"{}"), completion, TimeLimit(100)), 0u);
    EXPECT_EQ(bustest::answer(context, 0, MODULE_STATUS_SUCCESS.value()), 0u);
    EXPECT_EQ(bustest::answer(context, 1, MODULE_STATUS_TIMEOUT.value()), 0u);
    EXPECT_EQ(statuses, (std::vector<std::int32_t>{0, 2}));

    ReplyCallback throwing = [](const ReplyPtr&) { throw std::runtime_error("boom"); };
    ASSERT_EQ(client->requestAsync(createMessage(L"Q", L"Me", L"{}"), throwing, TimeLimit(100)), 0u);
    EXPECT_EQ(bustest::answer(context, 2, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(bustest::answer(context, 2, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_NOT_FOUND) << "the record is gone";
}

TEST_F(ClientTest, DestructionDropsSubscriptionsThenCancelsAndFailsWaitingReplies)
{
    auto client = makeClient();
    int calls = 0;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribe(L"A", L"one", counting(calls)));          // 11
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribeFilter(L"B.*", L"one", counting(calls)));  // 12
    EXPECT_CALL(*shim, request(_, _, _, _, _)).WillOnce(Return(MODULE_STATUS_SUCCESS));
    ReplyPtr pending;
    ASSERT_EQ(client->request(createMessage(L"Q", L"Me", L"{}"), pending, TimeLimit(60000)), 0u);
    {
        InSequence order;
        EXPECT_CALL(*shim, unsubscribe(11u));
        EXPECT_CALL(*shim, unsubscribe(12u));
        EXPECT_CALL(*shim, cancelRequests());
    }
    auto waiter = std::async(std::launch::async, [&] { return pending->wait(); });
    client.reset();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 3);
}

TEST_F(ClientTest, DirectDispatchReachesExactNamesAndWholeNamePatterns)
{
    auto client = makeClient();
    std::vector<std::string> reached;
    auto note = [&](const char* who, ModuleStatus status) {
        return [&reached, who, status](const MessagePtr& m) {
            EXPECT_EQ(m->getPayload(), L"{\"run\":1}");
            reached.push_back(who);
            return status;
        };
    };
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribeFilter(L"Core\\.Update\\..*", L"update", note("pattern", MODULE_STATUS_SUCCESS)));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribe(L"Core.Update.RunUpdate", L"update", note("exact", MODULE_STATUS_UNSUCCESSFUL)));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribeFilter(L"RunUpdate", L"partial", note("partial", MODULE_STATUS_SUCCESS)));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribe(L"Core.Update.State", L"other", note("other", MODULE_STATUS_SUCCESS)));
    EXPECT_CALL(*shim, publish(_, _)).Times(0);

    EXPECT_EQ(client->directDispatch(createMessage(L"Core.Update.RunUpdate", L"Host", L"{\"run\":1}")), 0u)
        << "a callback's failure does not fail the dispatch";
    EXPECT_EQ(reached, (std::vector<std::string>{"exact", "pattern"})) << "exact before pattern, partial match ignored";

    EXPECT_EQ(client->directDispatch(nullptr), MODULE_STATUS_INVALID_PARAMETER);
}

TEST_F(ClientTest, UnsubscribeLetsGoOfTheLockWhileTheServiceWaitsForCallbacks)
{
    auto client = makeClient();
    int calls = 0;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, client->subscribe(L"A", L"busy", counting(calls)));
    EXPECT_CALL(*shim, unsubscribe(_)).Times(::testing::AnyNumber());
    // The service's unsubscribe waits for a callback in flight; that callback subscribes.
    bool subscribedMeanwhile = false;
    std::future<ModuleStatus> callbackInFlight;
    EXPECT_CALL(*shim, unsubscribe(11u)).WillOnce(Invoke([&](std::uint32_t) {
        callbackInFlight = std::async(std::launch::async, [&] {
            return client->subscribe(L"B", L"late", counting(calls));
        });
        subscribedMeanwhile = callbackInFlight.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        return MODULE_STATUS_SUCCESS;
    }));
    EXPECT_EQ(client->unsubscribe(L"busy"), 0u);
    EXPECT_EQ(callbackInFlight.get(), 0u);
    EXPECT_TRUE(subscribedMeanwhile);
}

TEST_F(ClientTest, ACallbackThatDropsItsOwnSubscriptionLivesUntilItReturns)
{
    auto client = makeClient();
    static bool captureDestroyed = false;
    struct Sentinel {
        ~Sentinel() { captureDestroyed = true; }
    };
    captureDestroyed = false;
    auto sentinel = std::make_shared<Sentinel>();
    bool aliveAfterUnsubscribe = false;
    MessageBusClient* self = client.get();
    ASSERT_EQ(client->subscribe(L"Once", L"once", [sentinel, self, &aliveAfterUnsubscribe](const MessagePtr&) {
        (void)self->unsubscribe(L"once");
        aliveAfterUnsubscribe = !captureDestroyed && sentinel != nullptr;
        return MODULE_STATUS_SUCCESS;
    }), 0u);
    void* context = lastContext;
    sentinel.reset();
    EXPECT_EQ(bustest::deliver(context, L"Once", bustest::headerWithSession(0)), 0u);
    EXPECT_TRUE(aliveAfterUnsubscribe);
    EXPECT_TRUE(captureDestroyed) << "freed once the call is over";
}
