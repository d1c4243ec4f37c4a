// The update module over a recording bus and settings client, with the real
// agent handle factory and the sandbox agent behind it.
#include "AgentEnvironment.h"
#include "FakeBus.h"
#include "LogCapture.h"
#include "json/JSONParser.h"
#include "message/Message.h"
#include "settings/SettingsManager.h"
#include "SettingsManagerStub.h"
#include "update/UpdateModuleImp.h"
#include "update/ZuUpdateAgentHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Orvik;
using testsupport::AgentCallLog;
using testsupport::FakeBus;
using testsupport::LogCapture;
using testsupport::ScopedEnvironment;

namespace {

class FakeSettings : public testsupport::SettingsManagerStub {
public:
    using SettingsManagerStub::getProperty;
    using SettingsManagerStub::watchPropertySet;

    bool watchAccepted = true;
    bool readSucceeds = true;
    std::wstring value;
    std::wstring watchedName;
    PropertyCallback watcher;
    std::chrono::milliseconds lastLimit{0};

    std::atomic<int> reads{0};

    bool getProperty(const std::wstring&, std::wstring& out, const std::chrono::milliseconds& limit) override
    {
        ++reads;
        lastLimit = limit;
        if (readSucceeds)
            out = value;
        return readSucceeds;
    }
    bool watchPropertySet(const PropertyCallback& callback, const std::wstring& name) override
    {
        watchedName = name;
        watcher = callback;
        return watchAccepted;
    }
};

struct UnloadProbe {
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> answer{0};
};

std::uint32_t onUnload(void* context, const wchar_t*, std::uint32_t)
{
    auto* probe = static_cast<UnloadProbe*>(context);
    ++probe->calls;
    return probe->answer;
}

class UpdateModule : public ::testing::Test {
protected:
    LogCapture log;
    AgentCallLog agentCalls;
    std::shared_ptr<Basalt::IOCContainer> container = std::make_shared<Basalt::IOCContainer>();
    std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    std::shared_ptr<FakeSettings> settings = std::make_shared<FakeSettings>();
    UnloadProbe unloads;
    std::unique_ptr<UpdateModuleImp> module;

    void SetUp() override
    {
        container->registerType<ZuUpdateAgentHandle>(container.get());
        container->registerInstance<SettingsManager>(Basalt::defaultRegistrationName(), settings);
        module = std::make_unique<UpdateModuleImp>(container);
        auto manager = std::make_shared<internal::ModuleManagerShim>(&unloads, &onUnload);
        ASSERT_EQ(0u, module->baseInitialize(L"UpdateModule", L"", {}, manager, bus));
    }
    bool logged(const std::wstring& text, std::uint32_t level)
    {
        for (const auto& r : log.records())
            if (r.text == text && r.level == level)
                return true;
        return false;
    }
};

const std::vector<std::wstring> kSubscriptionOrder = {
    L"Core.Update.RefreshState", L"Core.Update.ChangeState",   L"Core.Update.Personalize",
    L"Core.Update.RunUpdate",    L"Core.Update.UpdateProgress", L"Core.Update.RefreshUpdateProgress"};

TEST_F(UpdateModule, SubscribesTheSixRequestsInOrderAndStopsAtAFailure)
{
    ASSERT_EQ(0u, module->initialize());
    EXPECT_EQ(kSubscriptionOrder, bus->names(FakeBus::Call::Subscribe));
    EXPECT_TRUE(logged(L"Subscribed to 'Core.Update.RunUpdate' successfully", 1));

    auto other = std::make_unique<UpdateModuleImp>(container);
    auto failing = std::make_shared<FakeBus>();
    failing->answer = FakeBus::refusing(FakeBus::Call::Subscribe, L"Core.Update.Personalize", 0x80000008);
    other->baseInitialize(L"UpdateModule", L"", {}, std::make_shared<internal::ModuleManagerShim>(nullptr, nullptr),
                          failing);
    EXPECT_EQ(0x80000008u, other->initialize());
    EXPECT_EQ(3u, failing->names(FakeBus::Call::Subscribe).size());
    EXPECT_TRUE(logged(L"Subscription to 'Core.Update.Personalize' failed. Status: 0x80000008", 4));
}

TEST_F(UpdateModule, UninitializeTriesEveryAliasAndReportsAnyFailure)
{
    EXPECT_EQ(0u, module->uninitialize());
    const std::vector<std::wstring> order = {L"Core.Update.ChangeState",       L"Core.Update.RefreshState",
                                             L"Core.Update.RefreshUpdateProgress", L"Core.Update.Personalize",
                                             L"Core.Update.RunUpdate",          L"Core.Update.UpdateProgress"};
    EXPECT_EQ(order, bus->names(FakeBus::Call::Unsubscribe));
    bus->forget();
    bus->answer = FakeBus::refusing(FakeBus::Call::Unsubscribe, L"Core.Update.RefreshState", 0x8000000A);
    EXPECT_EQ(0x80000002u, module->uninitialize());
    EXPECT_EQ(6u, bus->names(FakeBus::Call::Unsubscribe).size());
    EXPECT_TRUE(logged(L"Unsubscription to 'Core.Update.RefreshState' failed. Status: 0x8000000A", 4));
    EXPECT_TRUE(logged(L"Unsubscribed to 'Core.Update.UpdateProgress' successfully", 1));
}

// Destruction drops only what uninitialisation left subscribed.
TEST_F(UpdateModule, DestructionUnsubscribesOnlyWhatIsStillSubscribed)
{
    ASSERT_EQ(0u, module->initialize());
    EXPECT_EQ(0u, module->uninitialize());
    bus->forget();
    module.reset();
    EXPECT_TRUE(bus->names(FakeBus::Call::Unsubscribe).empty());

    module = std::make_unique<UpdateModuleImp>(container);
    auto manager = std::make_shared<internal::ModuleManagerShim>(&unloads, &onUnload);
    ASSERT_EQ(0u, module->baseInitialize(L"UpdateModule", L"", {}, manager, bus));
    ASSERT_EQ(0u, module->initialize());
    module.reset(); // never uninitialised
    EXPECT_EQ(6u, bus->names(FakeBus::Call::Unsubscribe).size());
}

TEST_F(UpdateModule, StartNeedsTheSettingsClientAndItsWatch)
{
    container->registerInstance<SettingsManager>(Basalt::defaultRegistrationName(), nullptr);
    EXPECT_EQ(0x80000002u, module->start());
    EXPECT_TRUE(logged(L"Error getting the settings Mgr", 4));

    container->registerInstance<SettingsManager>(Basalt::defaultRegistrationName(), settings);
    settings->watchAccepted = false;
    EXPECT_EQ(0x80000002u, module->start());
    EXPECT_TRUE(logged(L"Error susbscribing for setting.", 4));
    EXPECT_EQ(L"Core.Update.UpdateResults", settings->watchedName);
}

TEST_F(UpdateModule, StartReadsTheResultsPropertyOrFallsBackToNoAction)
{
    settings->readSucceeds = false;
    EXPECT_EQ(0u, module->start());
    EXPECT_EQ(LR"({"timestamp":0,"status":"no_action"})", module->latestProgress());
    EXPECT_TRUE(logged(L"It was not possible to get the initial Update Results. Setting initial default value", 1));
    EXPECT_TRUE(logged(L"Error: failed to retrieve property 'Core.Update.UpdateResults' value.", 4));

    settings->readSucceeds = true;
    settings->value = LR"({"timestamp":1700000000000,"result":"ok"})";
    EXPECT_EQ(0u, module->start());
    EXPECT_EQ(5000, settings->lastLimit.count());
    EXPECT_EQ(1700000000000ull, module->latestTimestamp());
    EXPECT_EQ(LR"({"timestamp":1700000000000,"status":"no_action"})", module->latestProgress());

    // A change notification re-reads the property: equal timestamps are taken, older ones are not.
    settings->value = LR"({"timestamp":1600000000000})";
    settings->watcher(L"Core.Update.UpdateResults");
    EXPECT_EQ(1700000000000ull, module->latestTimestamp());
    settings->value = L"{\"timestamp\":\"soon\"}";
    EXPECT_EQ(0x80000008u, module->onPropertyUpdateResults(L"Core.Update.UpdateResults"));
    settings->value = L"[";
    EXPECT_EQ(0x80000002u, module->onPropertyUpdateResults(L"Core.Update.UpdateResults"));
    EXPECT_TRUE(logged(L"Error: parsing property 'Core.Update.UpdateResults' value.", 4));
}

// The settings watch outlives the module (it lasts as long as the settings
// client): notifications arriving while the module stops, uninitialises and
// goes away must never reach it once its destruction has begun.
TEST_F(UpdateModule, SettingsNotificationsNeverReachAModuleBeingDestroyed)
{
    settings->value = L"{\"timestamp\":5}";
    ASSERT_EQ(0u, module->start());
    const SettingsManager::PropertyCallback watcher = settings->watcher;
    ASSERT_TRUE(watcher);
    std::atomic<bool> done{false};
    std::thread notifier([&] {
        while (!done)
            watcher(L"Core.Update.UpdateResults");
    });
    const int before = settings->reads.load();
    EXPECT_EQ(0u, module->stop());
    module->uninitialize();
    while (settings->reads.load() < before + 50)
        std::this_thread::yield(); // still followed after uninitialisation
    module.reset();
    const int atDestruction = settings->reads.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = true;
    notifier.join();
    EXPECT_EQ(atDestruction, settings->reads.load());
    watcher(L"Core.Update.UpdateResults");
    EXPECT_EQ(atDestruction, settings->reads.load());
}

TEST_F(UpdateModule, RefreshStatePublishesTheAgentSetting)
{
    ASSERT_EQ(0u, module->initialize());
    {
        ScopedEnvironment absent(L"ZU_AGENT_GETPROPERTY_RESULT", L"0x80070490");
        EXPECT_EQ(0u, bus->deliver(L"Core.Update.RefreshState", L"peer", L""));
    }
    {
        ScopedEnvironment off(L"ZU_AGENT_AUTOCHK", L"0");
        EXPECT_EQ(0u, bus->deliver(L"Core.Update.RefreshState", L"peer", L""));
    }
    {
        ScopedEnvironment odd(L"ZU_AGENT_AUTOCHK", L"7");
        EXPECT_EQ(0u, bus->deliver(L"Core.Update.RefreshState", L"peer", L""));
    }
    auto published = bus->messages(FakeBus::Call::Publish);
    ASSERT_EQ(3u, published.size());
    EXPECT_EQ(L"Core.Update.State", published[0]->getName());
    EXPECT_EQ(L"UpdateModule", published[0]->getSender());
    EXPECT_EQ(LR"({"state":"on","option":3,"error":false})", published[0]->getPayload());
    EXPECT_EQ(LR"({"state":"off","option":0,"error":false})", published[1]->getPayload());
    EXPECT_EQ(LR"({"state":"off","option":7,"error":true})", published[2]->getPayload());
    EXPECT_TRUE(logged(L"Update Setting State is an unexpected option 7", 4));
    EXPECT_TRUE(logged(L"Processing: CallbackRefreshState", 1));
    EXPECT_EQ(3, unloads.calls.load()); // idle after each request
}

TEST_F(UpdateModule, AgentRequestsReachTheAgent)
{
    ASSERT_EQ(0u, module->initialize());
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.ChangeState", L"peer", LR"({"state":"on","option":1})"));
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.Personalize", L"peer", LR"({"products":["X","Y"]})"));
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.RunUpdate", L"peer", L"ignored"));
    EXPECT_EQ((std::vector<std::string>{"SetProperty(default,autochk,1)", "Install(default,X;Y;)",
                                        "StartUpdate(default)"}),
              agentCalls.calls());
    EXPECT_TRUE(logged(L"Success calling Personalize", 1));
    EXPECT_TRUE(logged(L"Successful call of 'Run Update'", 1));

    EXPECT_EQ(0x80000002u, bus->deliver(L"Core.Update.ChangeState", L"peer", LR"({"state":"later"})"));
    EXPECT_TRUE(logged(L"Error: State change was not possible", 4));
    EXPECT_EQ(0x80000002u, bus->deliver(L"Core.Update.Personalize", L"peer", LR"({"products":[]})"));
    EXPECT_TRUE(logged(L"Error personalizing", 4));
    ScopedEnvironment failStart(L"ZU_AGENT_STARTUPDATE_RESULT", L"0x80004005");
    EXPECT_EQ(0x80000002u, bus->deliver(L"Core.Update.RunUpdate", L"peer", L""));
    EXPECT_TRUE(logged(L"Error Starting Update", 4));
}

TEST_F(UpdateModule, AgentCreationFailureEndsTheRequest)
{
    ASSERT_EQ(0u, module->initialize());
    ScopedEnvironment failCreation(L"ZU_AGENT_CREATE_RESULT", L"0x80040154");
    EXPECT_EQ(0x80000002u, bus->deliver(L"Core.Update.RunUpdate", L"peer", L""));
    EXPECT_TRUE(logged(L"Failed to create IID_IZuUpdateAgent instance - error 0x80040154", 4));
    EXPECT_TRUE(bus->messages(FakeBus::Call::Publish).empty());
}

TEST_F(UpdateModule, NonNumericAgentSettingEscapesAsAnException)
{
    ASSERT_EQ(0u, module->initialize());
    ScopedEnvironment text(L"ZU_AGENT_AUTOCHK", L"on");
    // The bus client's delivery barrier turns this into a status; no unload is asked for.
    EXPECT_THROW(bus->deliver(L"Core.Update.RefreshState", L"peer", L""), std::invalid_argument);
    EXPECT_EQ(0, unloads.calls.load());
}

TEST_F(UpdateModule, ProgressIsTakenOnlyFromTheBridgeAndOnlyWhenNewer)
{
    ASSERT_EQ(0u, module->initialize());
    const std::wstring first = LR"({"timestamp":100,"status":"running","percent":5})";
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", first));
    EXPECT_EQ(first, module->latestProgress());
    EXPECT_TRUE(module->updateInProgress());
    EXPECT_EQ(0, unloads.calls.load());

    // Same timestamp: not newer, kept as it was. Another sender: ignored.
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge",
                               LR"({"timestamp":100,"status":"running","percent":9})"));
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.UpdateProgress", L"updatemsgrbridge", LR"({"timestamp":900})"));
    EXPECT_TRUE(logged(L"Upgrade progress message received from updatemsgrbridge. This message will not be processed.", 3));
    EXPECT_EQ(first, module->latestProgress());

    EXPECT_EQ(0x80000008u, bus->deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"status":"done"})"));
    EXPECT_EQ(0x80000002u, bus->deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", L"{oops"));
    EXPECT_EQ(0, unloads.calls.load());

    // A finished update clears the flag and the module asks to go.
    const std::wstring done = LR"({"timestamp":200,"status":"finished"})";
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", done));
    EXPECT_FALSE(module->updateInProgress());
    EXPECT_EQ(1, unloads.calls.load());
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.RefreshUpdateProgress", L"peer", L""));
    auto published = bus->messages(FakeBus::Call::Publish);
    ASSERT_EQ(1u, published.size());
    EXPECT_EQ(L"Core.Update.UpdateProgress", published[0]->getName());
    EXPECT_EQ(done, published[0]->getPayload());

    // The module hearing its own publication is no report at all.
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.UpdateProgress", L"UpdateModule", done));
    EXPECT_FALSE(module->updateInProgress());
}

TEST_F(UpdateModule, RefreshBeforeAnyTimestampStampsTheDefaultWithNow)
{
    settings->readSucceeds = false;
    ASSERT_EQ(0u, module->start());
    ASSERT_EQ(0u, module->initialize());
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t before =
        ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 116444736000000000ull) / 10000;
    EXPECT_EQ(0u, bus->deliver(L"Core.Update.RefreshUpdateProgress", L"peer", L""));
    auto published = bus->messages(FakeBus::Call::Publish);
    ASSERT_EQ(1u, published.size());
    // The stamp replaces the member, which moves it behind "status".
    JSONParser payload;
    ASSERT_TRUE(payload.parse(published[0]->getPayload()));
    std::uint64_t stamped = 0;
    std::wstring status;
    ASSERT_TRUE(payload.getUInt64(L"timestamp", stamped));
    ASSERT_TRUE(payload.getString(L"status", status));
    EXPECT_EQ(L"no_action", status);
    EXPECT_GE(stamped, before);
    EXPECT_LT(stamped, before + 60000);
    EXPECT_EQ(0u, module->latestTimestamp());
    EXPECT_EQ(published[0]->getPayload(), module->latestProgress());
}

TEST_F(UpdateModule, RefreshWithNothingStoredFailsCleanly)
{
    ASSERT_EQ(0u, module->initialize());
    EXPECT_EQ(0x80000002u, bus->deliver(L"Core.Update.RefreshUpdateProgress", L"peer", L""));
    EXPECT_TRUE(logged(L"Error: parsing message for Refresh Update Progress", 4));
}

TEST_F(UpdateModule, RefusedUnloadReplacesTheHandlerStatus)
{
    ASSERT_EQ(0u, module->initialize());
    unloads.answer = 0x80000010;
    EXPECT_EQ(0x80000010u, bus->deliver(L"Core.Update.RunUpdate", L"peer", L""));
    EXPECT_TRUE(logged(L"Unloading module status: 2147483664", 3));
    EXPECT_TRUE(logged(L"Unloading module error: MODULE_STATUS_DUPLICATE_MODULE", 4));
}

TEST_F(UpdateModule, FailedPublishIsReported)
{
    ASSERT_EQ(0u, module->initialize());
    bus->answer = FakeBus::refusing(FakeBus::Call::Publish, L"", 0x8000000E);
    EXPECT_EQ(0x8000000Eu, module->PublishUpdateSettingState(1));
    EXPECT_TRUE(logged(L"Failed publishing (Core.Update.State): 2147483662", 4));
}

TEST_F(UpdateModule, ConcurrentProgressKeepsTheNewestPair)
{
    ASSERT_EQ(0u, module->initialize());
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 1; i <= 200; ++i) {
                const std::uint64_t stamp = static_cast<std::uint64_t>(i) * 4 + t;
                bus->deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge",
                             L"{\"timestamp\":" + std::to_wstring(stamp) + L",\"status\":\"running\",\"n\":" +
                                 std::to_wstring(stamp) + L"}");
                if (i % 20 == 0)
                    bus->deliver(L"Core.Update.RefreshUpdateProgress", L"peer", L"");
            }
        });
    }
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(803u, module->latestTimestamp());
    EXPECT_EQ(LR"({"timestamp":803,"status":"running","n":803})", module->latestProgress());
    for (const auto& p : bus->messages(FakeBus::Call::Publish)) {
        std::uint64_t stamp = 0, n = 1;
        ASSERT_EQ(2, swscanf(p->getPayload().c_str(), L"{\"timestamp\":%llu,\"status\":\"running\",\"n\":%llu}", &stamp, &n));
        EXPECT_EQ(stamp, n); // never a timestamp from one message with the text of another
    }
}

} // namespace
