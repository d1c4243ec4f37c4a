// A host's view: the built DLL on the sandbox broker, serving update requests
// with the signed sandbox agent behind it.
#include "AgentEnvironment.h"
#include "BrokerHarness.h"
#include "ModuleLibrary.h"
#include "json/JSONParser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace bustest;
using testsupport::AgentCallLog;
using testsupport::ModuleLibrary;
using testsupport::ScopedEnvironment;

namespace {

struct Seen {
    std::wstring name;
    std::wstring sender;
    std::wstring payload;
};

std::atomic<int> g_unloadRequests{0};

std::uint32_t onUnload(void*, const wchar_t*, std::uint32_t request)
{
    EXPECT_EQ(0u, request);
    ++g_unloadRequests;
    return 0;
}

class EndToEnd : public ::testing::Test {
protected:
    ModuleLibrary module;
    BrokerLibrary broker;
    const Orvik::MessageBusFunctions* functions = nullptr;
    std::unique_ptr<BrokerConnection> hostSide;
    std::unique_ptr<BrokerConnection> moduleSide;
    std::shared_ptr<Orvik::MessageBusClient> host;
    const Orvik::ModuleEntryTable* entries = nullptr;
    Orvik::ModuleHandle handle = nullptr;
    std::mutex lock;
    std::vector<Seen> seen;

    void SetUp() override
    {
        ASSERT_NE(nullptr, module.handle());
        ASSERT_NE(nullptr, broker.handle());
        functions = broker.functions();
        hostSide = std::make_unique<BrokerConnection>(functions);
        moduleSide = std::make_unique<BrokerConnection>(functions);
        host = hostSide->makeClient();
        for (const wchar_t* name : {L"Core.Update.State", L"Core.Update.UpdateProgress"}) {
            ASSERT_EQ(0u, host->subscribe(name, [this](const Orvik::MessagePtr& m) {
                std::lock_guard<std::mutex> guard(lock);
                seen.push_back({m->getName(), m->getSender(), m->getPayload()});
                return 0u;
            }));
        }
        entries = module.entries();
        ASSERT_EQ(0u, entries->newModule(&handle, L"UpdateModule"));
        ASSERT_EQ(0u, entries->initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr,
                                                  &onUnload, moduleSide->handle(), functions));
        // The settings client binds the broker; with no settings service answering,
        // start falls back to "no action" and succeeds.
        EXPECT_EQ(0u, entries->startModule(handle));
        g_unloadRequests = 0;
    }
    void TearDown() override
    {
        if (handle != nullptr) {
            EXPECT_EQ(0u, entries->uninitializeModule(handle));
            EXPECT_EQ(0u, entries->destroyModule(handle));
        }
        host.reset();
        moduleSide.reset();
        hostSide.reset();
    }

    void send(const std::wstring& name, const std::wstring& sender, const std::wstring& payload)
    {
        ASSERT_EQ(0u, host->publish(Orvik::createMessage(name, sender, payload)));
    }
    // The module's publication of `name` after `count` earlier ones.
    bool waitForPublication(const std::wstring& name, std::size_t count, Seen& out)
    {
        return waitUntil([&] {
            std::lock_guard<std::mutex> guard(lock);
            std::size_t found = 0;
            for (const Seen& s : seen)
                if (s.name == name && s.sender == L"UpdateModule" && found++ == count) {
                    out = s;
                    return true;
                }
            return false;
        });
    }
};

TEST_F(EndToEnd, StateRequestsAreAnsweredOnTheBusAndTheModuleAsksToUnload)
{
    AgentCallLog agent;
    Seen state;
    send(L"Core.Update.ChangeState", L"Settings.UI", LR"({"state":"on","option":2})");
    ASSERT_TRUE(waitUntil([&] { return agent.calls().size() == 1; }));
    send(L"Core.Update.RefreshState", L"Settings.UI", L"");
    ASSERT_TRUE(waitForPublication(L"Core.Update.State", 0, state));
    EXPECT_EQ(L"UpdateModule", state.sender);
    EXPECT_EQ(LR"({"state":"on","option":2,"error":false})", state.payload);

    // Requests run on the broker's threads: let the change land before asking again.
    send(L"Core.Update.ChangeState", L"Settings.UI", LR"({"state":"OFF"})");
    ASSERT_TRUE(waitUntil([&] { return agent.calls().size() == 3; }));
    send(L"Core.Update.RefreshState", L"Settings.UI", L"");
    ASSERT_TRUE(waitForPublication(L"Core.Update.State", 1, state));
    EXPECT_EQ(LR"({"state":"off","option":0,"error":false})", state.payload);
    EXPECT_TRUE(waitUntil([] { return g_unloadRequests.load() == 4; }));
    EXPECT_EQ((std::vector<std::string>{"SetProperty(default,autochk,2)", "GetProperty(default,autochk)",
                                        "SetProperty(default,autochk,0)", "GetProperty(default,autochk)"}),
              agent.calls());
}

TEST_F(EndToEnd, ARunningUpdateKeepsTheModuleLoadedUntilItFinishes)
{
    AgentCallLog agent;
    send(L"Core.Update.RunUpdate", L"Settings.UI", L"");
    ASSERT_TRUE(waitUntil([] { return g_unloadRequests.load() == 1; }));
    EXPECT_EQ(std::vector<std::string>{"StartUpdate(default)"}, agent.calls());

    // The broker delivers on several threads: give each report time to land
    // before the next, so they are handled in the order sent.
    send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"timestamp":1000,"status":"running","pct":40})");
    Sleep(300);
    send(L"Core.Update.UpdateProgress", L"SomeoneElse", LR"({"timestamp":5000,"status":"failed"})");
    Sleep(300);
    EXPECT_EQ(1, g_unloadRequests.load());
    send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"timestamp":2000,"status":"succeeded"})");
    EXPECT_TRUE(waitUntil([] { return g_unloadRequests.load() == 2; }));

    send(L"Core.Update.RefreshUpdateProgress", L"Settings.UI", L"");
    Seen progress;
    ASSERT_TRUE(waitForPublication(L"Core.Update.UpdateProgress", 0, progress));
    EXPECT_EQ(LR"({"timestamp":2000,"status":"succeeded"})", progress.payload);
}

TEST_F(EndToEnd, AgentCreationFailureEndsTheRequestWithoutAnAnswer)
{
    ScopedEnvironment failCreation(L"ZU_AGENT_CREATE_RESULT", L"0x80004005");
    send(L"Core.Update.RefreshState", L"Settings.UI", L"");
    ASSERT_TRUE(waitUntil([] { return g_unloadRequests.load() == 1; }));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_TRUE(seen.empty());
}

} // namespace

namespace {

TEST_F(EndToEnd, NonNumericAgentSettingFailsTheRequestWithoutUnload)
{
    AgentCallLog agent;
    ScopedEnvironment text(L"ZU_AGENT_AUTOCHK", L"on");
    send(L"Core.Update.RefreshState", L"Settings.UI", L"");
    ASSERT_TRUE(waitUntil([&] { return agent.calls().size() == 1; }));
    Sleep(300);
    // The conversion's exception ends at the bus client's barrier: no answer, no unload.
    EXPECT_EQ(0, g_unloadRequests.load());
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_TRUE(seen.empty());
}

TEST_F(EndToEnd, ConcurrentProgressAndRefreshKeepAConsistentPair)
{
    // Delivered on several broker threads at once; every published progress must
    // pair a timestamp with the text that carried it. The first report lands
    // alone so that every refresh has something to publish.
    send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"timestamp":1,"status":"running","n":1})");
    Sleep(300);
    for (int t = 2; t <= 60; ++t) {
        send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge",
             L"{\"timestamp\":" + std::to_wstring(t) + L",\"status\":\"running\",\"n\":" + std::to_wstring(t) + L"}");
        if (t % 6 == 0)
            send(L"Core.Update.RefreshUpdateProgress", L"Settings.UI", L"");
    }
    Seen last;
    ASSERT_TRUE(waitForPublication(L"Core.Update.UpdateProgress", 9, last));
    Sleep(300);
    send(L"Core.Update.RefreshUpdateProgress", L"Settings.UI", L"");
    ASSERT_TRUE(waitForPublication(L"Core.Update.UpdateProgress", 10, last));
    EXPECT_EQ(LR"({"timestamp":60,"status":"running","n":60})", last.payload);
    std::lock_guard<std::mutex> guard(lock);
    for (const Seen& s : seen) {
        if (s.sender != L"UpdateModule")
            continue;
        Orvik::JSONParser progress;
        std::uint64_t timestamp = 0, n = 1;
        ASSERT_TRUE(progress.parse(s.payload));
        ASSERT_TRUE(progress.getUInt64(L"timestamp", timestamp));
        ASSERT_TRUE(progress.getUInt64(L"n", n));
        EXPECT_EQ(timestamp, n);
    }
}

} // namespace

namespace {

// The module hears its own "Core.Update.UpdateProgress" back from the broker;
// that echo is no update and must not keep the module loaded.
TEST_F(EndToEnd, AnsweringARefreshLeavesTheModuleUnloadable)
{
    // Something to republish: there is no settings service here.
    send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"timestamp":2000,"status":"succeeded"})");
    ASSERT_TRUE(waitUntil([] { return g_unloadRequests.load() == 1; }));
    Seen progress;
    send(L"Core.Update.RefreshUpdateProgress", L"Settings.UI", L"");
    ASSERT_TRUE(waitForPublication(L"Core.Update.UpdateProgress", 0, progress));
    Sleep(300);  // let the echo reach the module
    const int before = g_unloadRequests.load();
    send(L"Core.Update.RefreshUpdateProgress", L"Settings.UI", L"");
    ASSERT_TRUE(waitForPublication(L"Core.Update.UpdateProgress", 1, progress));
    EXPECT_TRUE(waitUntil([&] { return g_unloadRequests.load() > before; }));
}

TEST_F(EndToEnd, AStaleRunningReportDoesNotReviveAFinishedUpdate)
{
    send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"timestamp":2000,"status":"succeeded"})");
    ASSERT_TRUE(waitUntil([] { return g_unloadRequests.load() == 1; }));
    send(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", LR"({"timestamp":1000,"status":"running"})");
    EXPECT_TRUE(waitUntil([] { return g_unloadRequests.load() == 2; }));
}

} // namespace
