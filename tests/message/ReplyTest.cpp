#include "message/Message.h"
#include "message/ReplyImpl.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <system_error>
#include <thread>

using namespace Orvik;

namespace {

std::exception_ptr failure(std::errc condition)
{
    return std::make_exception_ptr(std::system_error(std::make_error_code(condition)));
}

constexpr wchar_t kInvalidState[] = L"Reply future is in an invalid state. Returning.";

} // namespace

TEST(Reply, ReceivedReplyStaysReceived)
{
    std::promise<MessagePtr> promise;
    ReplyImpl reply(promise.get_future());
    EXPECT_EQ(reply.getStatus(), 1);
    EXPECT_FALSE(reply.getMessage());

    MessagePtr message = createMessage(L"Reply", L"Peer", L"{}");
    promise.set_value(message);
    EXPECT_EQ(reply.wait(), 0);
    EXPECT_EQ(reply.getMessage(), message);

    testsupport::LogCapture capture;
    EXPECT_EQ(reply.wait(), 0);
    EXPECT_EQ(reply.waitFor(std::chrono::milliseconds(0)), 0) << "a reply that arrived never turns into a failure";
    EXPECT_EQ(reply.getMessage(), message);
    EXPECT_FALSE(capture.contains(kInvalidState));
}

TEST(Reply, TimeOutGivesTwoThenTheSpentFutureGivesThree)
{
    std::promise<MessagePtr> promise;
    ReplyImpl reply(promise.get_future());
    promise.set_exception(failure(std::errc::operation_canceled));
    EXPECT_EQ(reply.wait(), 2);
    EXPECT_FALSE(reply.getMessage());

    testsupport::LogCapture capture;
    EXPECT_EQ(reply.wait(), 3);
    EXPECT_EQ(reply.getStatus(), 3);
    const auto logged = capture.matching(kInvalidState);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 4u);
    EXPECT_EQ(logged[0].function, L"Orvik::ReplyImpl::getReplyMessage");
}

TEST(Reply, OtherFailuresGiveThree)
{
    {
        std::promise<MessagePtr> promise;
        ReplyImpl reply(promise.get_future());
        promise.set_exception(failure(std::errc::no_message_available));
        EXPECT_EQ(reply.wait(), 3);
    }
    {
        std::future<MessagePtr> future;
        {
            std::promise<MessagePtr> promise;  // destroyed unsettled: broken promise
            future = promise.get_future();
        }
        ReplyImpl reply(std::move(future));
        EXPECT_EQ(reply.wait(), 3);
    }
    {
        std::promise<MessagePtr> promise;
        ReplyImpl reply(promise.get_future());
        promise.set_value(MessagePtr());
        EXPECT_EQ(reply.wait(), 3) << "an empty reply message is a failure";
        EXPECT_FALSE(reply.getMessage());
    }
}

TEST(Reply, WaitForZeroOnlyChecksAndLeavesTheReplyUsable)
{
    std::promise<MessagePtr> promise;
    ReplyImpl reply(promise.get_future());
    {
        testsupport::LogCapture capture;
        EXPECT_EQ(reply.waitFor(std::chrono::milliseconds(0)), 1);
        EXPECT_EQ(reply.waitFor(std::chrono::milliseconds(-5)), 1);
        const auto logged = capture.matching(L"Reply waitFor timed out. Returning.");
        ASSERT_EQ(logged.size(), 2u);
        EXPECT_EQ(logged[0].level, 2u);
        EXPECT_EQ(logged[0].function, L"Orvik::ReplyImpl::waitFor");
    }
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        promise.set_value(createMessage(L"Reply", L"Peer", L"late"));
    });
    EXPECT_EQ(reply.waitFor(std::chrono::milliseconds(10000)), 0);
    late.join();
    ASSERT_TRUE(reply.getMessage());
    EXPECT_EQ(reply.getMessage()->getPayload(), L"late");
}

TEST(Reply, UnusableFutureFailsBothWays)
{
    testsupport::LogCapture capture;
    ReplyImpl forWait{std::future<MessagePtr>()};
    EXPECT_EQ(forWait.wait(), 3);
    ReplyImpl forWaitFor{std::future<MessagePtr>()};
    EXPECT_EQ(forWaitFor.waitFor(std::chrono::milliseconds(100)), 3);
    EXPECT_EQ(forWaitFor.getStatus(), 3);

    const auto logged = capture.matching(kInvalidState);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].function, L"Orvik::ReplyImpl::getReplyMessage");
    EXPECT_EQ(logged[1].function, L"Orvik::ReplyImpl::waitFor");
}
