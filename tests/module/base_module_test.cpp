#include "FakeBus.h"
#include "LogCapture.h"
#include "module/BaseModule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Orvik;
using testsupport::FakeBus;
using testsupport::LogCapture;

namespace {

struct UnloadProbe {
    std::wstring name;
    std::uint32_t request = 99;
    std::uint32_t answer = 0;
    int calls = 0;
};

std::uint32_t unloadCallback(void* context, const wchar_t* moduleName, std::uint32_t request)
{
    auto* probe = static_cast<UnloadProbe*>(context);
    probe->name = moduleName;
    probe->request = request;
    ++probe->calls;
    return probe->answer;
}

class BaseModuleTest : public ::testing::Test {
protected:
    LogCapture log;
    std::shared_ptr<Basalt::IOCContainer> container = std::make_shared<Basalt::IOCContainer>();
    BaseModule module{container};
    UnloadProbe probe;
    std::shared_ptr<internal::ModuleManagerShim> manager =
        std::make_shared<internal::ModuleManagerShim>(&probe, &unloadCallback);
    std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    PropertyMap properties{{L"a", L"1"}};
};

TEST_F(BaseModuleTest, NullModuleManagerIsRefusedAfterCopyingTheTexts)
{
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, module.baseInitialize(L"Upd", L"second", properties, nullptr, bus));
    EXPECT_EQ(L"Upd", module.moduleName());
    EXPECT_EQ(L"second", module.secondText());
    EXPECT_EQ(1u, module.properties().size());
    EXPECT_EQ(nullptr, module.messageBus());
    EXPECT_FALSE(container->isRegistered<MessageBus>());
    auto records = log.matching(L"Invalid module manager object passed to base initialize.");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(4u, records[0].level);
    EXPECT_EQ(L"BaseModule", records[0].file);
    EXPECT_EQ(L"Orvik::BaseModule::baseInitialize", records[0].function);
}

TEST_F(BaseModuleTest, NullBusIsRefusedWithTheManagerKept)
{
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, module.baseInitialize(L"Upd", L"", properties, manager, nullptr));
    EXPECT_EQ(manager, module.moduleManager());
    EXPECT_EQ(nullptr, module.messageBus());
    EXPECT_EQ(1u, log.matching(L"Invalid message bus object passed to base initialize.").size());
}

TEST_F(BaseModuleTest, SuccessRegistersTheBusAndForwardsEveryOperation)
{
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module.baseInitialize(L"Upd", L"", properties, manager, bus));
    EXPECT_EQ(bus, container->resolve<MessageBus>());
    EXPECT_TRUE(log.records().empty());

    // Every call answers a status of its own, which must come back unchanged
    // from the operation of the same form.
    ModuleStatus answered = 10;
    bus->answer = [&](const FakeBus::Record&) { return ++answered; };
    const auto forwarded = [&](ModuleStatus result, FakeBus::Call call, const std::wstring& name,
                               const std::wstring& alias) {
        const FakeBus::Record last = bus->calls().back();
        return result == answered && last.call == call && last.name == name && last.alias == alias;
    };
    using Call = FakeBus::Call;
    MessageBus& asBus = module;
    MessageCallback callback = [](const MessagePtr&) { return MODULE_STATUS_SUCCESS; };
    const MessagePtr message = createMessage(L"M", L"S", L"{}");
    ReplyPtr reply;
    EXPECT_TRUE(forwarded(asBus.publish(message), Call::Publish, L"M", L""));
    EXPECT_TRUE(forwarded(asBus.publishEx(message), Call::PublishEx, L"M", L""));
    EXPECT_TRUE(forwarded(asBus.requestAsync(message, {}, TimeLimit(1)), Call::RequestAsync, L"M", L""));
    EXPECT_TRUE(forwarded(asBus.request(message, reply, TimeLimit(5000)), Call::Request, L"M", L""));
    EXPECT_EQ(5000, bus->calls().back().limit.count());
    EXPECT_TRUE(forwarded(asBus.requestAsyncEx(message, {}, TimeLimit(1)), Call::RequestAsyncEx, L"M", L""));
    EXPECT_TRUE(forwarded(asBus.requestEx(message, reply, TimeLimit(1)), Call::RequestEx, L"M", L""));
    EXPECT_TRUE(forwarded(asBus.subscribe(L"N", L"A", callback), Call::Subscribe, L"N", L"A"));
    EXPECT_TRUE(forwarded(asBus.subscribe(L"N", callback), Call::Subscribe, L"N", L""));
    EXPECT_TRUE(forwarded(asBus.subscribeSameSession(L"N", L"A", callback), Call::SubscribeSameSession, L"N", L"A"));
    EXPECT_TRUE(forwarded(asBus.subscribeSameSession(L"N", callback), Call::SubscribeSameSession, L"N", L""));
    EXPECT_TRUE(forwarded(asBus.subscribeFilter(L"P.*", L"A", callback), Call::SubscribeFilter, L"P.*", L"A"));
    EXPECT_TRUE(forwarded(asBus.subscribeFilter(L"P.*", callback), Call::SubscribeFilter, L"P.*", L""));
    EXPECT_TRUE(forwarded(asBus.subscribeFilterSameSession(L"P", L"A", callback), Call::SubscribeFilterSameSession,
                          L"P", L"A"));
    EXPECT_TRUE(forwarded(asBus.subscribeFilterSameSession(L"P", callback), Call::SubscribeFilterSameSession, L"P",
                          L""));
    EXPECT_TRUE(forwarded(asBus.unsubscribe(L"A"), Call::Unsubscribe, L"A", L""));
}

TEST_F(BaseModuleTest, UnloadPassesTheNameAndReturnsTheHostAnswer)
{
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module.baseInitialize(L"UpdateModule", L"", {}, manager, bus));
    EXPECT_EQ(0u, module.unload());
    EXPECT_EQ(L"UpdateModule", probe.name);
    EXPECT_EQ(0u, probe.request);
    EXPECT_TRUE(log.records().empty());

    probe.answer = 0x80000002;
    EXPECT_EQ(0x80000002u, module.unload());
    auto records = log.matching(L"Failed to unload module. Error code: 2147483650.");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"Orvik::BaseModule::unload", records[0].function);
    EXPECT_EQ(2, probe.calls);
}

TEST(BaseModuleConstruction, MakesItsOwnContainerWhenGivenNone)
{
    BaseModule module(nullptr);
    ASSERT_NE(nullptr, module.container());
    EXPECT_EQ(0u, module.initialize());
    EXPECT_EQ(0u, module.start());
    EXPECT_EQ(0u, module.stop());
    EXPECT_EQ(0u, module.uninitialize());
}

} // namespace
