#include "LogCapture.h"
#include "module/BaseModule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Orvik;
using testsupport::LogCapture;

namespace {

// A bus that only records that it was asked; the base module just forwards.
class RecordingBus : public MessageBus {
public:
    std::wstring lastCall;
    ModuleStatus publish(const MessagePtr&) override { return note(L"publish", 11); }
    ModuleStatus publishEx(const MessagePtr&) override { return note(L"publishEx", 12); }
    ModuleStatus requestAsync(const MessagePtr&, const ReplyCallback&, const TimeLimit&) override
    {
        return note(L"requestAsync", 13);
    }
    ModuleStatus request(const MessagePtr&, ReplyPtr&, const TimeLimit& limit) override
    {
        return note(L"request", static_cast<ModuleStatus>(limit.count()));
    }
    ModuleStatus requestAsyncEx(const MessagePtr&, const ReplyCallback&, const TimeLimit&) override
    {
        return note(L"requestAsyncEx", 15);
    }
    ModuleStatus requestEx(const MessagePtr&, ReplyPtr&, const TimeLimit&) override { return note(L"requestEx", 16); }
    ModuleStatus subscribe(const std::wstring& n, const std::wstring& a, const MessageCallback&) override
    {
        return note(L"subscribe3:" + n + L"/" + a, 17);
    }
    ModuleStatus subscribe(const std::wstring& n, const MessageCallback&) override { return note(L"subscribe2:" + n, 18); }
    ModuleStatus subscribeSameSession(const std::wstring& n, const std::wstring& a, const MessageCallback&) override
    {
        return note(L"sameSession3:" + n + L"/" + a, 19);
    }
    ModuleStatus subscribeSameSession(const std::wstring& n, const MessageCallback&) override
    {
        return note(L"sameSession2:" + n, 20);
    }
    ModuleStatus subscribeFilter(const std::wstring& p, const std::wstring& a, const MessageCallback&) override
    {
        return note(L"filter3:" + p + L"/" + a, 21);
    }
    ModuleStatus subscribeFilter(const std::wstring& p, const MessageCallback&) override { return note(L"filter2:" + p, 22); }
    ModuleStatus subscribeFilterSameSession(const std::wstring& p, const std::wstring& a,
                                            const MessageCallback&) override
    {
        return note(L"filterSame3:" + p + L"/" + a, 23);
    }
    ModuleStatus subscribeFilterSameSession(const std::wstring& p, const MessageCallback&) override
    {
        return note(L"filterSame2:" + p, 24);
    }
    ModuleStatus unsubscribe(const std::wstring& a) override { return note(L"unsubscribe:" + a, 25); }

private:
    ModuleStatus note(const std::wstring& call, ModuleStatus result)
    {
        lastCall = call;
        return result;
    }
};

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
    std::shared_ptr<RecordingBus> bus = std::make_shared<RecordingBus>();
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

    MessageBus& asBus = module;
    MessageCallback callback = [](const MessagePtr&) { return MODULE_STATUS_SUCCESS; };
    ReplyPtr reply;
    EXPECT_EQ(11u, asBus.publish(nullptr));
    EXPECT_EQ(12u, asBus.publishEx(nullptr));
    EXPECT_EQ(13u, asBus.requestAsync(nullptr, {}, TimeLimit(1)));
    EXPECT_EQ(5000u, asBus.request(nullptr, reply, TimeLimit(5000)));
    EXPECT_EQ(15u, asBus.requestAsyncEx(nullptr, {}, TimeLimit(1)));
    EXPECT_EQ(16u, asBus.requestEx(nullptr, reply, TimeLimit(1)));
    EXPECT_EQ(17u, asBus.subscribe(L"N", L"A", callback));
    EXPECT_EQ(L"subscribe3:N/A", bus->lastCall);
    EXPECT_EQ(18u, asBus.subscribe(L"N", callback));
    EXPECT_EQ(19u, asBus.subscribeSameSession(L"N", L"A", callback));
    EXPECT_EQ(20u, asBus.subscribeSameSession(L"N", callback));
    EXPECT_EQ(21u, asBus.subscribeFilter(L"P.*", L"A", callback));
    EXPECT_EQ(L"filter3:P.*/A", bus->lastCall);
    EXPECT_EQ(22u, asBus.subscribeFilter(L"P.*", callback));
    EXPECT_EQ(23u, asBus.subscribeFilterSameSession(L"P", L"A", callback));
    EXPECT_EQ(24u, asBus.subscribeFilterSameSession(L"P", callback));
    EXPECT_EQ(25u, asBus.unsubscribe(L"A"));
    EXPECT_EQ(L"unsubscribe:A", bus->lastCall);
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
