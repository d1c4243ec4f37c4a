// Every order a host could call the entries of one module in, through the
// built DLL: no order may crash the host, and a module that never got a bus
// says so instead of touching one.
#include "ModuleLibrary.h"
#include "message/MessageBusFunctions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

using testsupport::ModuleLibrary;

namespace {

std::atomic<std::uint32_t> g_nextSubscription{1};

// A host bus that accepts everything and delivers nothing.
extern "C" {
std::uint32_t busOpen(void**) { return 0; }
std::uint32_t busClose(void*) { return 0; }
std::uint32_t busPublish(void*, const Orvik::MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*)
{
    return 0;
}
std::uint32_t busRequest(void*, std::uint64_t, void*, Orvik::BusReplyCallback, const Orvik::MessageHeader*,
                         const wchar_t*, const wchar_t*, const wchar_t*, std::int64_t)
{
    return 0;
}
std::uint32_t busSubscribe(void*, void*, Orvik::BusMessageCallback, const wchar_t*) { return g_nextSubscription++; }
std::uint32_t busUnsubscribe(void*, std::uint32_t) { return 0; }
std::uint32_t busCancel(void*, Orvik::BusReplyCallback) { return 0; }
std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t) { return 0; }
}

const Orvik::MessageBusFunctions kQuietBus = {&busOpen,      &busClose,       &busPublish, &busRequest,
                                              &busSubscribe, &busSubscribe,   &busUnsubscribe,
                                              &busCancel,    &busPublish,     &busRequest};
int g_busHandle = 0;

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
                                    &g_busHandle, &kQuietBus);
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

TEST(EntryOrder, AModuleIsBoundToOneBus)
{
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);
    Orvik::ModuleHandle handle = nullptr;
    ASSERT_EQ(0u, t->newModule(&handle, L"UpdateModule"));
    ASSERT_EQ(0u, run(*t, handle, Step::InitializeV2));
    EXPECT_EQ(0x800000FFu, run(*t, handle, Step::InitializeV2));
    EXPECT_EQ(0u, run(*t, handle, Step::Direct));
    EXPECT_EQ(0u, run(*t, handle, Step::Uninitialize));
    EXPECT_EQ(0u, t->destroyModule(handle));
}

} // namespace
