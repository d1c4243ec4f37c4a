#include "message/MessageBusShimImpl.h"

#include "BusMocks.h"
#include "LogCapture.h"
#include "status/ModuleException.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Orvik;

namespace {

// A service whose every entry records what it was called with.
struct Recorder {
    std::vector<std::string> calls;
    void* handle = nullptr;
    std::wstring name, sender, payload, text;
    std::uint32_t flags = 0;
    std::uint64_t replyIndex = 0;
    void* context = nullptr;
    std::int64_t timeLimit = 0;
    BusReplyCallback replyCallback = nullptr;
    BusMessageCallback messageCallback = nullptr;
    std::uint32_t id = 0;
    std::uint32_t result = 0;
};
Recorder* recorder = nullptr;

std::uint32_t recordPublish(const char* entry, void* handle, const MessageHeader* header, const wchar_t* name,
                            const wchar_t* sender, const wchar_t* payload)
{
    recorder->calls.push_back(entry);
    recorder->handle = handle;
    recorder->flags = header->flags;
    recorder->name = name;
    recorder->sender = sender;
    recorder->payload = payload;
    return recorder->result;
}

std::uint32_t recordRequest(const char* entry, void* handle, std::uint64_t index, void* context,
                            BusReplyCallback callback, const MessageHeader* header, const wchar_t* name,
                            const wchar_t* sender, const wchar_t* payload, std::int64_t limit)
{
    recordPublish(entry, handle, header, name, sender, payload);
    recorder->replyIndex = index;
    recorder->context = context;
    recorder->replyCallback = callback;
    recorder->timeLimit = limit;
    return recorder->result;
}

std::uint32_t recordSubscribe(const char* entry, void* handle, void* context, BusMessageCallback callback,
                              const wchar_t* text)
{
    recorder->calls.push_back(entry);
    recorder->handle = handle;
    recorder->context = context;
    recorder->messageCallback = callback;
    recorder->text = text;
    return recorder->result;
}

const MessageBusFunctions kRecordingTable = {
    [](void**) -> std::uint32_t { return 0; },
    [](void*) -> std::uint32_t { return 0; },
    [](void* h, const MessageHeader* hd, const wchar_t* n, const wchar_t* s, const wchar_t* p) {
        return recordPublish("publish", h, hd, n, s, p);
    },
    [](void* h, std::uint64_t i, void* c, BusReplyCallback cb, const MessageHeader* hd, const wchar_t* n,
       const wchar_t* s, const wchar_t* p, std::int64_t l) { return recordRequest("request", h, i, c, cb, hd, n, s, p, l); },
    [](void* h, void* c, BusMessageCallback cb, const wchar_t* t) { return recordSubscribe("subscribe", h, c, cb, t); },
    [](void* h, void* c, BusMessageCallback cb, const wchar_t* t) {
        return recordSubscribe("subscribeFilter", h, c, cb, t);
    },
    [](void* h, std::uint32_t id) -> std::uint32_t {
        recorder->calls.push_back("unsubscribe");
        recorder->handle = h;
        recorder->id = id;
        return recorder->result;
    },
    [](void* h, BusReplyCallback cb) -> std::uint32_t {
        recorder->calls.push_back("cancelRequests");
        recorder->handle = h;
        recorder->replyCallback = cb;
        return 0;
    },
    [](void* h, const MessageHeader* hd, const wchar_t* n, const wchar_t* s, const wchar_t* p) {
        return recordPublish("publishEx", h, hd, n, s, p);
    },
    [](void* h, std::uint64_t i, void* c, BusReplyCallback cb, const MessageHeader* hd, const wchar_t* n,
       const wchar_t* s, const wchar_t* p, std::int64_t l) { return recordRequest("requestEx", h, i, c, cb, hd, n, s, p, l); },
};

class ShimTest : public ::testing::Test {
protected:
    void SetUp() override { recorder = &record; }
    void TearDown() override { recorder = nullptr; }
    Recorder record;
    int handleTarget = 0;
    void* handle = &handleTarget;
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(ShimTest, ConstructionChecksTheHandleFirstThenTheTable)
{
    testsupport::LogCapture capture;
    try {
        MessageBusShimImpl shim(nullptr, nullptr);
        FAIL() << "a null handle must throw";
    } catch (const ModuleException& error) {
        EXPECT_STREQ(error.what(), "Invalid message bus handle");
    }
    try {
        MessageBusShimImpl shim(handle, nullptr);
        FAIL() << "a null table must throw";
    } catch (const ModuleException& error) {
        EXPECT_STREQ(error.what(), "Invalid message bus functions object");
    }
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, L"Invalid message bus handle. Throwing ModuleException.");
    EXPECT_EQ(records[1].text, L"Invalid message bus functions object. Throwing ModuleException.");
    for (const auto& r : records) {
        EXPECT_EQ(r.level, 4u);
        EXPECT_EQ(r.function, L"Orvik::MessageBusShimImpl::MessageBusShimImpl");
    }
    EXPECT_TRUE(record.calls.empty());
}

TEST_F(ShimTest, PublishAndRequestPickTheFormByFlagAndRefuseAnEmptyMessage)
{
    MessageBusShimImpl shim(handle, &kRecordingTable);
    EXPECT_EQ(shim.publish(nullptr, false), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(shim.request(nullptr, 0, nullptr, 10, true), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(record.calls.empty());

    MessagePtr message = createMessage(L"Core.Update.State", L"UpdateModule", L"{\"a\":1}");
    message->getHeader()->flags = 0x24;
    record.result = MODULE_STATUS_NO_SUBSCRIBERS.value();
    EXPECT_EQ(shim.publish(message, false), MODULE_STATUS_NO_SUBSCRIBERS) << "the service's status passes through";
    EXPECT_EQ(shim.publish(message, true), MODULE_STATUS_NO_SUBSCRIBERS);
    EXPECT_EQ(record.calls, (Strings{"publish", "publishEx"}));
    EXPECT_EQ(record.handle, handle);
    EXPECT_EQ(record.flags, 0x24u);
    EXPECT_EQ(record.name, L"Core.Update.State");
    EXPECT_EQ(record.sender, L"UpdateModule");
    EXPECT_EQ(record.payload, L"{\"a\":1}");

    record = Recorder{};
    int context = 0;
    EXPECT_EQ(shim.request(message, 41, &context, 5000, false), 0u);
    EXPECT_EQ(shim.request(message, 42, &context, 7000, true), 0u);
    EXPECT_EQ(record.calls, (Strings{"request", "requestEx"}));
    EXPECT_EQ(record.replyIndex, 42u);
    EXPECT_EQ(record.context, &context);
    EXPECT_EQ(record.timeLimit, 7000);
    EXPECT_EQ(record.replyCallback, &internal::replyCallbackEntry);
}

TEST_F(ShimTest, SubscriptionsUseTheMessageEntryPointAndDestructionCancelsRequests)
{
    {
        MessageBusShimImpl shim(handle, &kRecordingTable);
        int context = 0;
        record.result = 17;
        EXPECT_EQ(shim.subscribe(L"Core.Update.RunUpdate", &context), 17u);
        EXPECT_EQ(record.text, L"Core.Update.RunUpdate");
        EXPECT_EQ(record.messageCallback, &internal::messageCallbackEntry);
        EXPECT_EQ(record.context, &context);
        EXPECT_EQ(shim.subscribeFilter(L"Core\\..*", &context), 17u);
        EXPECT_EQ(record.text, L"Core\\..*");
        EXPECT_EQ(shim.unsubscribe(17), 17u);
        EXPECT_EQ(record.id, 17u);
        record.replyCallback = nullptr;
    }
    EXPECT_EQ(record.calls, (Strings{"subscribe", "subscribeFilter", "unsubscribe", "cancelRequests"}));
    EXPECT_EQ(record.replyCallback, &internal::replyCallbackEntry);
    EXPECT_EQ(record.handle, handle);
}

// ---- the entry points -----------------------------------------------------------

TEST(MessageEntryPoint, BuildsTheMessageAndReturnsTheCallbacksStatus)
{
    MessagePtr seen;
    auto callback = std::make_shared<MessageCallbackHolder>([&](const MessagePtr& message) {
        seen = message;
        return MODULE_STATUS_PARTIAL_SUCCESS;
    });
    MessageHeader header = bustest::headerWithSession(9);
    header.flags = 0x3;
    EXPECT_EQ(bustest::deliver(callback.get(), L"Name", header, L"payload"), MODULE_STATUS_PARTIAL_SUCCESS);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->getName(), L"Name");
    EXPECT_EQ(seen->getSender(), L"Peer");
    EXPECT_EQ(seen->getPayload(), L"payload");
    EXPECT_EQ(seen->getHeader()->flags, 0x3u);
    EXPECT_EQ(seen->getHeader()->sessionId, 9u);

    seen.reset();
    EXPECT_EQ(internal::messageCallbackEntry(callback.get(), nullptr, L"N", L"S", L"P"), MODULE_STATUS_PARTIAL_SUCCESS);
    ASSERT_TRUE(seen) << "a missing header leaves the template";
    EXPECT_EQ(seen->getHeader()->version, 2);
}

TEST(MessageEntryPoint, NothingThrownReachesTheService)
{
    MessageCallbackHolder throwing([](const MessagePtr&) -> ModuleStatus { throw std::runtime_error("boom"); });
    MessageCallbackHolder empty{MessageCallback()};
    const MessageHeader header = bustest::headerWithSession(0);
    EXPECT_EQ(bustest::deliver(&throwing, L"N", header), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(bustest::deliver(&empty, L"N", header), MODULE_STATUS_UNKNOWN_EXCEPTION);
}

TEST(MessageEntryPoint, MissingTextsOrContextAreRefused)
{
    int calls = 0;
    MessageCallbackHolder callback([&](const MessagePtr&) { return ++calls, MODULE_STATUS_SUCCESS; });
    const MessageHeader header = bustest::headerWithSession(0);
    testsupport::LogCapture capture;
    EXPECT_EQ(internal::messageCallbackEntry(&callback, &header, nullptr, L"S", L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(internal::messageCallbackEntry(&callback, &header, L"N", nullptr, L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(internal::messageCallbackEntry(&callback, &header, L"N", L"S", nullptr), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(internal::messageCallbackEntry(nullptr, &header, L"N", L"S", L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(capture.matching(L"Message delivered with a missing text. Dropped.").size(), 3u);
    EXPECT_TRUE(capture.contains(L"Message delivered without a subscription context."));
}

TEST(ReplyEntryPoint, BuildsTheReplyOnlyOnSuccess)
{
    std::vector<std::pair<bool, ModuleStatus>> seen;
    ReplyHandler handler = [&](std::uint64_t index, const MessagePtr& reply, ModuleStatus status) {
        EXPECT_EQ(index, 77u);
        if (reply) {
            EXPECT_EQ(reply->getPayload(), L"{\"ok\":true}");
        }
        seen.emplace_back(bool(reply), status);
        return MODULE_STATUS_SUCCESS;
    };
    EXPECT_EQ(bustest::answer(&handler, 77, MODULE_STATUS_SUCCESS.value()), 0u);
    EXPECT_EQ(bustest::answer(&handler, 77, MODULE_STATUS_TIMEOUT.value()), 0u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(true, MODULE_STATUS_SUCCESS));
    EXPECT_EQ(seen[1], std::make_pair(false, MODULE_STATUS_TIMEOUT));

    EXPECT_EQ(bustest::answer(nullptr, 77, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_INVALID_PARAMETER);
    ReplyHandler throwing = [](std::uint64_t, const MessagePtr&, ModuleStatus) -> ModuleStatus {
        throw std::runtime_error("boom");
    };
    EXPECT_EQ(bustest::answer(&throwing, 1, MODULE_STATUS_SUCCESS.value()), MODULE_STATUS_UNKNOWN_EXCEPTION);
}

TEST(ReplyEntryPoint, AReplyWithoutItsTextsStillSettlesTheRequestAsAFailure)
{
    bool called = false;
    ReplyHandler handler = [&](std::uint64_t, const MessagePtr& reply, ModuleStatus status) {
        called = true;
        EXPECT_FALSE(reply);
        EXPECT_EQ(status, MODULE_STATUS_SUCCESS);
        return MODULE_STATUS_SUCCESS;
    };
    testsupport::LogCapture capture;
    const MessageHeader header = bustest::headerWithSession(0);
    EXPECT_EQ(internal::replyCallbackEntry(&handler, 3, &header, L"N", L"S", nullptr, 0), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(called);
    EXPECT_TRUE(capture.contains(L"Reply delivered with a missing text. Reply index 3."));
}
