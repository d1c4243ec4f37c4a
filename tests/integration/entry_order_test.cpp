// Every order a host could call the entries of one module in, through the
// built DLL: no order may crash the host, and a module that never got a bus
// says so instead of touching one.
#include "FakeBus.h"
#include "ModuleLibrary.h"
#include "message/MessageBusFunctions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::ModuleLibrary;

namespace {

std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t) { return 0; }

// Host buses that accept everything and deliver only what a test hands them.
testsupport::FakeBus g_quietBus;
testsupport::FakeBus g_firstBus;
testsupport::FakeBus g_secondBus;

enum class Step { InitializeV1, InitializeV2NoBus, InitializeV2, Start, Stop, Uninitialize, Direct };
constexpr Step kSteps[] = {Step::InitializeV1, Step::InitializeV2NoBus, Step::InitializeV2, Step::Start,
                           Step::Stop,         Step::Uninitialize,      Step::Direct};
constexpr const char* kStepNames[] = {"InitializeModule", "InitializeModuleV2(no bus)", "InitializeModuleV2",
                                      "StartModule",      "StopModule",                 "UninitializeModule",
                                      "DirectMessage"};

std::uint32_t run(const Orvik::ModuleEntryTable& t, Orvik::ModuleHandle handle, Step step)
{
    switch (step) {
    case Step::InitializeV1:
        return t.initializeModule(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload);
    case Step::InitializeV2NoBus:
        return t.initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload,
                                    nullptr, nullptr);
    case Step::InitializeV2:
        return t.initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload,
                                    g_quietBus.handle(), testsupport::FakeBus::table());
    case Step::Start:
        return t.startModule(handle);
    case Step::Stop:
        return t.stopModule(handle);
    case Step::Uninitialize:
        return t.uninitializeModule(handle);
    case Step::Direct: {
        const unsigned char header[108] = {};
        return t.directMessage(handle, header, L"Core.Update.RefreshUpdateProgress", L"Host", L"{}");
    }
    }
    return 0;
}

bool isStatus(std::uint32_t status)
{
    return status == 0 || (status & 0x80000000u) != 0;
}

TEST(EntryOrder, NoSequenceOfEntriesCrashesTheHost)
{
    // Kept loaded, so that each first-version initialisation binds the broker
    // already in the process instead of verifying its signature again.
    ModuleLibrary broker(testsupport::buildFolder() + L"tests\\BusBroker.dll");
    ASSERT_NE(nullptr, broker.handle());
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);
    constexpr std::size_t kStepCount = sizeof(kSteps) / sizeof(kSteps[0]);
    // Every sequence of up to three steps, each followed by DestroyModule.
    for (std::size_t length = 1; length <= 3; ++length) {
        std::size_t total = 1;
        for (std::size_t i = 0; i < length; ++i)
            total *= kStepCount;
        for (std::size_t code = 0; code < total; ++code) {
            std::vector<Step> sequence;
            std::string description;
            for (std::size_t rest = code, i = 0; i < length; ++i, rest /= kStepCount) {
                sequence.push_back(kSteps[rest % kStepCount]);
                description += std::string(kStepNames[rest % kStepCount]) + " ";
            }
            Orvik::ModuleHandle handle = nullptr;
            ASSERT_EQ(0u, t->newModule(&handle, L"UpdateModule"));
            for (Step step : sequence)
                EXPECT_TRUE(isStatus(run(*t, handle, step))) << description;
            ASSERT_EQ(0u, t->destroyModule(handle)) << description;
        }
    }
}

TEST(EntryOrder, AModuleWithoutABusRefusesWhatNeedsOne)
{
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);
    const std::vector<std::vector<Step>> withoutBus = {
        {}, {Step::InitializeV2NoBus}, {Step::InitializeV2NoBus, Step::Start}};
    for (const std::vector<Step>& before : withoutBus) {
        Orvik::ModuleHandle handle = nullptr;
        ASSERT_EQ(0u, t->newModule(&handle, L"UpdateModule"));
        // Start needs no host bus (the settings client binds one of its own);
        // a refused initialisation does.
        for (Step step : before) {
            if (step == Step::Start)
                run(*t, handle, step);
            else
                EXPECT_NE(0u, run(*t, handle, step));
        }
        EXPECT_EQ(0x800000FFu, run(*t, handle, Step::Direct));
        EXPECT_EQ(0x800000FFu, run(*t, handle, Step::Uninitialize));
        EXPECT_EQ(0u, t->destroyModule(handle));
    }
}

std::uint32_t initializeOn(const Orvik::ModuleEntryTable& t, Orvik::ModuleHandle handle, testsupport::FakeBus& bus)
{
    return t.initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload,
                                bus.handle(), testsupport::FakeBus::table());
}

TEST(EntryOrder, AModuleTakesAnotherBusOnlyAfterUninitialize)
{
    ModuleLibrary broker(testsupport::buildFolder() + L"tests\\BusBroker.dll");
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);
    Orvik::ModuleHandle handle = nullptr;
    ASSERT_EQ(0u, t->newModule(&handle, L"UpdateModule"));
    ASSERT_EQ(0u, initializeOn(*t, handle, g_firstBus));
    EXPECT_EQ(0x800000FFu, initializeOn(*t, handle, g_secondBus));
    EXPECT_EQ(0u, g_secondBus.subscriptionCount());
    EXPECT_EQ(0u, run(*t, handle, Step::Uninitialize));

    // The handle is reused: the module subscribes the six requests on the new
    // bus and answers there, and refuses yet another bus while initialised.
    ASSERT_EQ(0u, initializeOn(*t, handle, g_secondBus));
    EXPECT_EQ(6u, g_secondBus.subscriptionCount());
    // A stored report, then a refresh that publishes it.
    g_secondBus.deliver(L"Core.Update.UpdateProgress", L"UpdateMsgrBridge", L"{\"timestamp\":5,\"status\":\"done\"}");
    g_secondBus.deliver(L"Core.Update.RefreshUpdateProgress", L"Peer", L"{}");
    const auto published = [](const testsupport::FakeBus& bus) { return bus.names(testsupport::FakeBus::Call::Publish); };
    EXPECT_EQ(std::vector<std::wstring>{L"Core.Update.UpdateProgress"}, published(g_secondBus));
    EXPECT_TRUE(published(g_firstBus).empty());
    EXPECT_EQ(0x800000FFu, initializeOn(*t, handle, g_firstBus));

    // After a first-version initialisation too.
    EXPECT_EQ(0u, run(*t, handle, Step::Uninitialize));
    ASSERT_EQ(0u, run(*t, handle, Step::InitializeV1));
    EXPECT_EQ(0u, run(*t, handle, Step::Uninitialize));
    const std::size_t before = g_firstBus.subscriptionCount();
    ASSERT_EQ(0u, initializeOn(*t, handle, g_firstBus));
    EXPECT_EQ(before + 6, g_firstBus.subscriptionCount());
    EXPECT_EQ(0u, t->destroyModule(handle));
}

} // namespace
