// The settings client against the sandbox settings service over the real
// broker: each kind of operation, volatile against persistent properties
// across a restart, prefixes, watches, and the service misbehaving.
#include "LogCapture.h"
#include "SettingsService.h"
#include "message/MessageBusClient.h"
#include "entry/UpdateModule.h"
#include "module/ModuleManagerShim.h"
#include "settings/SettingsManagerClient.h"
#include "update/UpdateModuleImp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace Orvik;
using sandbox::SettingsService;

namespace {

const SettingsManager::TimeLimit kLimit{5000};

bool waitUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class SettingsOverBroker : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        store = std::wstring(temp) + L"um-settings-" + std::to_wstring(GetCurrentProcessId()) + L".json";
        DeleteFileW(store.c_str());
        serviceBus = std::make_shared<MessageBusClient>();
        startService();
        client = SettingsManagerClient::getInstance();
        ASSERT_TRUE(client) << "the client binds BusBroker.dll beside the tests";
    }
    void TearDown() override
    {
        client.reset();
        service.reset();
        DeleteFileW(store.c_str());
    }
    void startService()
    {
        service.reset();
        service = std::make_unique<SettingsService>(serviceBus, store);
        ASSERT_TRUE(service->listening());
    }

    std::wstring store;
    std::shared_ptr<MessageBusClient> serviceBus;
    std::unique_ptr<SettingsService> service;
    std::unique_ptr<SettingsManagerClient> client;
};

TEST_F(SettingsOverBroker, EachKindOfOperationReachesTheService)
{
    EXPECT_TRUE(client->setProperty(L"Core.A", 42, kLimit));
    int number = 0;
    EXPECT_TRUE(client->getProperty(L"Core.A", number, kLimit));
    EXPECT_EQ(42, number);

    const auto set = client->setProperties({{L"Core.B", L"b"}, {L"Core.C", L"c"}}, kLimit);
    EXPECT_EQ((SettingsManager::PropertyResults{{L"Core.B", true}, {L"Core.C", true}}), set);
    SettingsManager::PropertyValues values;
    const auto got = client->getProperties({L"Core.B", L"Missing"}, values, kLimit);
    EXPECT_EQ((SettingsManager::PropertyResults{{L"Core.B", true}, {L"Missing", false}}), got);
    EXPECT_EQ(L"b", values[L"Core.B"]);

    EXPECT_TRUE(client->removeProperty(L"Core.A", kLimit));
    EXPECT_FALSE(client->removeProperty(L"Core.A", kLimit));
    EXPECT_EQ((SettingsManager::PropertyResults{{L"Core.C", true}}), client->removeProperties({L"Core.C"}, kLimit));
    std::wstring value;
    EXPECT_FALSE(service->lookUp(L"Core.C", value));
}

TEST_F(SettingsOverBroker, VolatilePropertiesAreGoneAfterARestartPersistentOnesStay)
{
    ASSERT_TRUE(client->setProperty(L"Kept", L"yes", kLimit));
    ASSERT_TRUE(client->setVolatileProperty(L"Passing", true, kLimit));
    std::wstring value;
    ASSERT_TRUE(client->getProperty(L"Passing", value, kLimit));
    EXPECT_EQ(L"1", value);

    startService();
    EXPECT_TRUE(client->getProperty(L"Kept", value, kLimit));
    EXPECT_EQ(L"yes", value);
    EXPECT_FALSE(client->getProperty(L"Passing", value, kLimit));
}

TEST_F(SettingsOverBroker, PrefixesAreMatchedLiterallyForGetRemoveAndWatch)
{
    service->put(L"a.(x)*1", L"1");
    service->put(L"a.(x)*2", L"2");
    service->put(L"a.Yx)*3", L"3"); // would match if "." or "(" acted as pattern syntax
    SettingsManager::PropertyValues values;
    ASSERT_TRUE(client->getPropertiesByPrefix(L"a.(x)*", values, kLimit));
    EXPECT_EQ((SettingsManager::PropertyValues{{L"a.(x)*1", L"1"}, {L"a.(x)*2", L"2"}}), values);

    std::mutex lock;
    std::vector<std::wstring> seen;
    ASSERT_TRUE(client->watchPrefixSet(
        [&](const std::wstring& name, const std::wstring& value) {
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(name + L"=" + value);
        },
        L"a.(x)*"));
    service->change(L"a.Yx)*3", L"ignored");
    service->change(L"a.(x)*1", L"new");
    ASSERT_TRUE(waitUntil([&] { std::lock_guard<std::mutex> guard(lock); return !seen.empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ((std::vector<std::wstring>{L"a.(x)*1=new"}), seen);
    }
    ASSERT_TRUE(client->unwatchPrefixSet(L"a.(x)*"));
    service->change(L"a.(x)*2", L"after");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(1u, seen.size());
    }

    const auto removed = client->removePropertiesByPrefix(L"a.(x)*", kLimit);
    EXPECT_EQ((SettingsManager::PropertyResults{{L"a.(x)*", false}, {L"a.(x)*1", true}, {L"a.(x)*2", true}}),
              removed);
    std::wstring value;
    EXPECT_TRUE(service->lookUp(L"a.Yx)*3", value));
}

TEST_F(SettingsOverBroker, WatchersHearSetsAndRemovals)
{
    std::atomic<int> sets{0}, removals{0};
    ASSERT_TRUE(client->watchPropertySet([&](const std::wstring&) { ++sets; }, L"Core.Update.UpdateResults"));
    ASSERT_TRUE(client->watchPropertyRemoved([&](const std::wstring&) { ++removals; }));
    ASSERT_TRUE(client->setProperty(L"Core.Update.UpdateResults", L"{}", kLimit));
    ASSERT_TRUE(client->setProperty(L"Other", L"x", kLimit));
    ASSERT_TRUE(client->removeProperty(L"Other", kLimit));
    EXPECT_TRUE(waitUntil([&] { return sets == 1 && removals == 1; }));
}

TEST_F(SettingsOverBroker, AMisbehavingServiceGivesFailuresNeverACrash)
{
    testsupport::LogCapture log;
    service->put(L"p", L"v");
    std::wstring value;
    const struct {
        SettingsService::Behaviour behaviour;
        const wchar_t* logged;
    } cases[] = {
        {SettingsService::Behaviour::WrongName, L"does not match expected property name"},
        {SettingsService::Behaviour::FalseStatus, L"Settings Manager failed to set property value."},
        {SettingsService::Behaviour::Malformed, L"Failed to parse settings manager response message."},
    };
    for (const auto& c : cases) {
        log.clear();
        service->setBehaviour(c.behaviour);
        EXPECT_FALSE(client->setProperty(L"p", L"w", kLimit)) << static_cast<int>(c.behaviour);
        EXPECT_TRUE(log.contains(c.logged)) << static_cast<int>(c.behaviour);
    }

    // A service that never answers: the request ends at its own limit.
    service->setBehaviour(SettingsService::Behaviour::Silent);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(client->getProperty(L"p", value, SettingsManager::TimeLimit(300)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(log.contains(L"Property request timed out. Returning."));

    // An answer after the request timed out goes nowhere; the next request works.
    service->setBehaviour(SettingsService::Behaviour::Late, std::chrono::milliseconds(400));
    EXPECT_FALSE(client->getProperty(L"p", value, SettingsManager::TimeLimit(100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    service->setBehaviour(SettingsService::Behaviour::Normal);
    EXPECT_TRUE(client->getProperty(L"p", value, kLimit));
    std::wstring stored;
    ASSERT_TRUE(service->lookUp(L"p", stored));
    EXPECT_EQ(stored, value);
}

std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}

// The module as createModule makes it, started against the service: it reads
// the results property and follows its changes.
TEST_F(SettingsOverBroker, TheStartedModuleReadsAndFollowsTheUpdateResults)
{
    service->put(L"Core.Update.UpdateResults", L"{\"timestamp\":1000,\"status\":\"success\"}");
    Module* created = nullptr;
    ASSERT_EQ(0u, createModule(&created));
    std::unique_ptr<Module> module(created);
    auto* update = dynamic_cast<UpdateModuleImp*>(created);
    ASSERT_NE(nullptr, update);
    auto manager = std::make_shared<internal::ModuleManagerShim>(nullptr, &acceptUnload);
    ASSERT_EQ(0u, update->baseInitialize(L"UpdateModule", L"", {}, manager, std::make_shared<MessageBusClient>()));
    ASSERT_EQ(0u, update->initialize());
    ASSERT_EQ(0u, update->start());
    EXPECT_EQ(1000u, update->latestTimestamp());

    service->change(L"Core.Update.UpdateResults", L"{\"timestamp\":2000}");
    EXPECT_TRUE(waitUntil([&] { return update->latestTimestamp() == 2000u; }));
    // Changes keep arriving while the module goes away.
    // (Each notification costs the module a round trip to the service on the
    // broker's four delivery threads: a steady trickle, not a flood.)
    std::thread changer([&] {
        for (unsigned stamp = 3000; stamp < 3040; ++stamp) {
            service->change(L"Core.Update.UpdateResults", L"{\"timestamp\":" + std::to_wstring(stamp) + L"}");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0u, update->stop());
    EXPECT_EQ(0u, update->uninitialize());
    module.reset();
    changer.join();
}

} // namespace
