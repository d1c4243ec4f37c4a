// Several threads use one client against the real broker at the same time.
#include "BrokerHarness.h"

#include "message/Reply.h"

#include <atomic>
#include <future>
#include <vector>

using namespace Orvik;
using bustest::BrokerFixture;
using bustest::waitUntil;

namespace {

// One subscription's life: deliveries counted, and any that come after its
// unsubscribe returned.
struct Probe {
    std::atomic<bool> dropped{false};
    std::atomic<int> calls{0};
    std::atomic<int> late{0};
};

} // namespace

TEST_F(BrokerFixture, ConcurrentPublishRequestAndSubscriptionChurnOnOneClient)
{
    ASSERT_EQ(bustest::subscribeEcho(*peer, L"Stress.Echo"), 0u);
    constexpr int kMostPublishes = 20000;
    constexpr int kRequestsPerThread = 60;
    constexpr int kRequestThreads = 2;
    constexpr int kChurns = 150;

    std::atomic<int> syncAnswered{0}, syncTimedOut{0}, syncOther{0};
    std::vector<std::atomic<int>> asyncEnds(kRequestThreads * kRequestsPerThread);
    std::atomic<int> asyncIssued{0};
    std::atomic<int> lateCalls{0}, churnCalls{0}, innerFailures{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> churnDone{false};

    // Publishes for as long as the subscriptions churn, pausing now and then.
    auto publisher = std::async(std::launch::async, [&] {
        for (int i = 0; i < kMostPublishes && !churnDone; ++i) {
            if (client->publish(createMessage(i % 2 ? L"Stress.Note" : L"Stress.Other", L"Pub", L"{}")) != 0)
                failed = true;
            if (i % 16 == 15)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    std::vector<std::future<void>> requesters;
    for (int t = 0; t < kRequestThreads; ++t) {
        requesters.push_back(std::async(std::launch::async, [&, t] {
            for (int i = 0; i < kRequestsPerThread; ++i) {
                const bool silent = i % 3 == 2;  // sync and async requests both go unanswered now and then
                const std::wstring payload = silent ? L"silent" : L"ask";
                const TimeLimit limit(silent ? 200 : 20000);
                if (i % 2 == 0) {
                    ReplyPtr reply;
                    if (client->request(createMessage(L"Stress.Echo", L"Req", payload), reply, limit) != 0) {
                        failed = true;
                        continue;
                    }
                    const std::int32_t status = reply->wait();
                    if (status == 0 && !silent && reply->getMessage()->getPayload() == L"echo:ask")
                        ++syncAnswered;
                    else if (status == 2 && silent)
                        ++syncTimedOut;
                    else
                        ++syncOther;
                } else {
                    const int slot = t * kRequestsPerThread + i;
                    const ModuleStatus status = client->requestAsync(
                        createMessage(L"Stress.Echo", L"Req", payload),
                        [&asyncEnds, slot, silent](const ReplyPtr& reply) {
                            const int expected = silent ? 2 : 0;
                            asyncEnds[slot] += reply->getStatus() == expected ? 1 : 100;
                        },
                        limit);
                    if (status != 0)
                        failed = true;
                    else
                        ++asyncIssued;
                }
            }
        }));
    }

    std::vector<std::shared_ptr<Probe>> probes;
    auto churner = std::async(std::launch::async, [&] {
        for (int i = 0; i < kChurns; ++i) {
            auto probe = std::make_shared<Probe>();
            probes.push_back(probe);
            MessageBusClient* self = client.get();
            MessageCallback callback = [probe, self, &innerFailures, &churnCalls](const MessagePtr&) {
                if (probe->dropped)
                    ++probe->late;
                ++churnCalls;
                // Now and then subscribe and unsubscribe from the delivery thread itself.
                if (++probe->calls % 8 == 0) {
                    if (self->subscribe(L"Stress.Inner", L"inner", [](const MessagePtr&) { return 0u; }) != 0)
                        ++innerFailures;
                    (void)self->unsubscribe(L"inner");
                }
                return MODULE_STATUS_SUCCESS;
            };
            const ModuleStatus status = i % 2 ? client->subscribe(L"Stress.Note", L"churn", callback)
                                              : client->subscribeFilter(L"Stress\\.(Note|Other)", L"churn", callback);
            if (status != 0)
                failed = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            (void)client->unsubscribe(L"churn");
            probe->dropped = true;
        }
        churnDone = true;
    });

    const auto allDone = [&] {
        return churner.wait_for(std::chrono::seconds(60)) == std::future_status::ready &&
               publisher.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    };
    ASSERT_TRUE(allDone()) << "deadlock";
    for (auto& r : requesters)
        ASSERT_EQ(r.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "deadlock";

    const int syncCount = kRequestThreads * kRequestsPerThread / 2;
    EXPECT_FALSE(failed);
    EXPECT_EQ(syncAnswered + syncTimedOut, syncCount);
    EXPECT_EQ(syncOther, 0);
    EXPECT_GT(syncTimedOut, 0);
    EXPECT_EQ(asyncIssued, syncCount);
    const auto asyncEnded = [&] {
        int ended = 0;
        for (int t = 0; t < kRequestThreads; ++t)
            for (int i = 1; i < kRequestsPerThread; i += 2)
                ended += asyncEnds[t * kRequestsPerThread + i] != 0;
        return ended;
    };
    ASSERT_TRUE(waitUntil([&] { return asyncEnded() == syncCount; })) << "an async request never ended";
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // past every time limit
    for (int t = 0; t < kRequestThreads; ++t)
        for (int i = 1; i < kRequestsPerThread; i += 2)
            EXPECT_EQ(asyncEnds[t * kRequestsPerThread + i], 1) << "request " << i << " of thread " << t
                                                                << " must end exactly once, as expected";
    for (const auto& probe : probes)
        lateCalls += probe->late;  // deliveries queued before an unsubscribe had time to turn up by now
    EXPECT_EQ(lateCalls, 0) << "a callback ran after its unsubscribe returned";
    EXPECT_EQ(innerFailures, 0);
    EXPECT_GT(churnCalls, 0) << "the churned subscriptions did receive messages";
}
