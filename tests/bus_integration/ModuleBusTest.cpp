// The entry table with a host-supplied bus: the sandbox broker's handle and table.
#include "BrokerHarness.h"

#include "LogCapture.h"
#include "module/BaseModule.h"
#include "entry/ModuleFunctions.h"

#include <atomic>

using namespace Orvik;
using bustest::BrokerConnection;
using bustest::BrokerLibrary;
using bustest::waitUntil;

namespace {

std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}

class ModuleOnBroker : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(library.handle(), nullptr);
        table = library.functions();
        ASSERT_NE(table, nullptr);
        hostConnection = std::make_unique<BrokerConnection>(table);
        ASSERT_EQ(hostConnection->openStatus(), 0u);
        ASSERT_EQ(entries.newModule(&handle, L"UpdateModule"), 0u);
    }
    void TearDown() override
    {
        if (handle != nullptr) {
            EXPECT_EQ(entries.destroyModule(handle), 0u);
        }
        hostConnection.reset();
    }
    std::uint32_t initialize(void* busHandle)
    {
        return entries.initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr,
                                          &acceptUnload, busHandle, table);
    }
    BaseModule& module() { return *dynamic_cast<BaseModule*>(handle->module); }

    const ModuleEntryTable& entries = *CreateObject();
    BrokerLibrary library;
    const MessageBusFunctions* table = nullptr;
    std::unique_ptr<BrokerConnection> hostConnection;
    ModuleHandle handle = nullptr;
};

} // namespace

TEST_F(ModuleOnBroker, NullBusHandleIsRefusedThroughTheBarrierAfterTheShimSaysWhy)
{
    testsupport::LogCapture capture;
    EXPECT_EQ(initialize(nullptr), MODULE_STATUS_UNKNOWN_EXCEPTION);
    const auto logged = capture.matching(L"Invalid message bus handle. Throwing ModuleException.");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, 4u);
    EXPECT_EQ(logged[0].function, L"Orvik::MessageBusShimImpl::MessageBusShimImpl");
    EXPECT_EQ(module().messageBus(), nullptr);
}

TEST_F(ModuleOnBroker, DirectMessageReachesASubscriberOfTheModulesBusClient)
{
    ASSERT_EQ(initialize(hostConnection->handle()), 0u);
    std::atomic<int> calls{0};
    std::atomic<DWORD> thread{0};
    std::wstring payload;
    ASSERT_EQ(module().subscribe(L"Core.Update.RunUpdate", [&](const MessagePtr& m) {
        payload = m->getPayload();
        thread = GetCurrentThreadId();
        ++calls;
        return MODULE_STATUS_SUCCESS;
    }), 0u);

    MessageHeader header = kMessageHeaderTemplate;
    header.sessionId = 3;
    EXPECT_EQ(entries.directMessage(handle, &header, L"Core.Update.RunUpdate", L"Host", L"{\"direct\":1}"), 0u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(thread, GetCurrentThreadId()) << "a direct message runs on the host's thread";
    EXPECT_EQ(payload, L"{\"direct\":1}");

    testsupport::LogCapture capture;
    EXPECT_EQ(entries.directMessage(handle, &header, nullptr, L"Host", L"{}"), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(capture.contains(L"Direct message is missing its name, sender or payload. Returning."));
}

TEST_F(ModuleOnBroker, MessagesPublishedOnTheBusReachTheModuleUntilItIsDestroyed)
{
    ASSERT_EQ(initialize(hostConnection->handle()), 0u);
    auto calls = std::make_shared<std::atomic<int>>(0);
    ASSERT_EQ(module().subscribe(L"Core.Update.RefreshState", [calls](const MessagePtr&) {
        ++*calls;
        return MODULE_STATUS_SUCCESS;
    }), 0u);

    // Another component on its own connection.
    BrokerConnection other(table);
    auto peer = other.makeClient();
    ASSERT_EQ(peer->publish(createMessage(L"Core.Update.RefreshState", L"Peer", L"{}")), 0u);
    ASSERT_TRUE(waitUntil([&] { return *calls == 1; }));

    EXPECT_EQ(entries.destroyModule(handle), 0u);
    handle = nullptr;
    ASSERT_EQ(peer->publish(createMessage(L"Core.Update.RefreshState", L"Peer", L"{}")), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(*calls, 1) << "the destroyed module's client dropped its subscriptions";
}

TEST_F(ModuleOnBroker, FirstVersionInitialisationBindsTheBrokerBesideTheHost)
{
    // The module loads its own copy of the broker (the one beside this
    // program), so its traffic goes round that copy's routing.
    ASSERT_EQ(entries.initializeModule(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload),
              0u);
    ASSERT_NE(module().messageBus(), nullptr);
    auto calls = std::make_shared<std::atomic<int>>(0);
    ASSERT_EQ(module().subscribe(L"Bus.Loopback", [calls](const MessagePtr&) {
        ++*calls;
        return MODULE_STATUS_SUCCESS;
    }), 0u);
    ASSERT_EQ(module().publish(createMessage(L"Bus.Loopback", L"UpdateModule", L"{}")), 0u);
    EXPECT_TRUE(waitUntil([&] { return *calls == 1; }));
}
