#include "module/BaseModule.h"

#include "BusMocks.h"
#include "FakeBus.h"
#include "LogCapture.h"
#include "message/MessageBusClient.h"
#include "module/ModuleBusBinding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Orvik;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

namespace {

std::shared_ptr<internal::ModuleManagerShim> noManager()
{
    return std::make_shared<internal::ModuleManagerShim>(nullptr, nullptr);
}

std::shared_ptr<MessageBusClient> clientOverMock()
{
    auto shim = std::make_shared<NiceMock<bustest::MockShim>>();
    ON_CALL(*shim, subscribe(_, _)).WillByDefault(Return(1u));
    return std::make_shared<MessageBusClient>(shim, nullptr);
}

} // namespace

TEST(BaseModuleDirectMessage, NeedsTheBusClient)
{
    BaseModule module(nullptr);
    // A bus that is not the client: direct messages cannot be dispatched on it.
    ASSERT_EQ(module.baseInitialize(L"UpdateModule", L"", {}, noManager(), std::make_shared<testsupport::FakeBus>()), 0u);
    testsupport::LogCapture capture;
    EXPECT_EQ(module.directMessage(createMessage(L"N", L"S", L"P")), MODULE_STATUS_INVALID_STATE);
    auto logged = capture.matching(L"Failed to process direct message. Invalid message bus client.");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 4u);
    EXPECT_EQ(logged[0].function, L"Orvik::BaseModule::directMessage");
}

TEST(BaseModuleDirectMessage, ReachesTheClientsSubscribersOnTheCallersThread)
{
    BaseModule module(nullptr);
    ASSERT_EQ(module.baseInitialize(L"UpdateModule", L"", {}, noManager(), clientOverMock()), 0u);
    DWORD callbackThread = 0;
    MessagePtr seen;
    ASSERT_EQ(module.subscribe(L"Core.Update.RunUpdate", [&](const MessagePtr& m) {
        callbackThread = GetCurrentThreadId();
        seen = m;
        return MODULE_STATUS_SUCCESS;
    }), 0u);

    MessageHeader header = kMessageHeaderTemplate;
    header.version = 1;  // the host may hand in the shorter header
    header.flags = 0x4;
    EXPECT_EQ(internal::deliverDirectMessage(module, &header, L"Core.Update.RunUpdate", L"Host", L"{}"), 0u);
    ASSERT_TRUE(seen);
    EXPECT_EQ(callbackThread, GetCurrentThreadId());
    EXPECT_EQ(seen->getSender(), L"Host");
    EXPECT_EQ(seen->getHeader()->version, 2);
    EXPECT_EQ(seen->getHeader()->flags, 0x4u);

    seen.reset();
    EXPECT_EQ(internal::deliverDirectMessage(module, nullptr, L"Core.Update.RunUpdate", L"Host", L"{}"), 0u);
    EXPECT_TRUE(seen) << "a missing header leaves the template";
}

TEST(BaseModuleDirectMessage, MissingTextsAreRefused)
{
    BaseModule module(nullptr);
    ASSERT_EQ(module.baseInitialize(L"UpdateModule", L"", {}, noManager(), clientOverMock()), 0u);
    int calls = 0;
    module.subscribe(L"N", [&](const MessagePtr&) { return ++calls, MODULE_STATUS_SUCCESS; });
    testsupport::LogCapture capture;
    EXPECT_EQ(internal::deliverDirectMessage(module, nullptr, nullptr, L"S", L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(internal::deliverDirectMessage(module, nullptr, L"N", nullptr, L"P"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(internal::deliverDirectMessage(module, nullptr, L"N", L"S", nullptr), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(capture.matching(L"Direct message is missing its name, sender or payload. Returning.").size(), 3u);
}
