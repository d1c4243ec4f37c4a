// A host that loads the module for every request must not grow with the
// requests it serves. What the process keeps is the sum of its committed
// private regions; the signature checks every cycle must make keep a little
// of their own on this platform, so that is measured beside the cycles and
// only what goes beyond it counts.

#include "ModuleLibrary.h"
#include "OnDemandCycle.h"
#include "trust/FileSignatureCheck.h"
#include "win/ComApartment.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

std::size_t committedPrivateBytes()
{
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
    }
    return total;
}

// Bytes the process keeps per run of `step`, over `count` runs after a few warm ones.
double keptPerRun(int count, const std::function<bool()>& step)
{
    for (int i = 0; i < 5; ++i)
        step();
    const std::size_t before = committedPrivateBytes();
    for (int i = 0; i < count; ++i) {
        if (!step())
            return -1;
    }
    const std::size_t after = committedPrivateBytes();
    return after > before ? static_cast<double>(after - before) / count : 0.0;
}

TEST(OnDemandCycle, ServingRequestsFromColdLoadsKeepsNothingBehind)
{
    Orvik::win::ComApartment apartment;
    const std::wstring module = testsupport::buildFolder() + L"UpdateModule.dll";
    const std::wstring broker = testsupport::buildFolder() + L"tests\\BusBroker.dll";
    const std::wstring agent = sandbox::registeredServer(sandbox::kAgentClassId);
    ASSERT_FALSE(agent.empty()) << "the sandbox agent is not registered";
    constexpr int kCycles = 200;
    constexpr double kAllowance = 3 * 1024;

    const double checks = keptPerRun(kCycles, [&] {
        return Orvik::trust::verifyFileTrust(agent) == 0 && Orvik::trust::verifyFileTrust(broker) == 0;
    });
    const double cycles = keptPerRun(kCycles, [&] {
        const sandbox::CycleResult result = sandbox::serveOnDemand(module, L"Core.Update.RefreshState");
        return result.served && result.published == std::vector<std::wstring>{L"Core.Update.State"};
    });
    std::printf("kept per cycle %.0f bytes, per pair of signature checks %.0f bytes\n", cycles, checks);
    ASSERT_GE(checks, 0) << "WinVerifyTrust refused the agent's server or the broker";
    ASSERT_GE(cycles, 0) << "a cycle did not serve its request";
    EXPECT_LE(cycles - checks, kAllowance) << "per cycle: " << cycles << " bytes, per pair of checks: " << checks;

    // The libraries the module loads are loaded and unloaded as often.
    const double brokerLoads = keptPerRun(kCycles, [&] {
        HMODULE library = LoadLibraryW(broker.c_str());
        return library != nullptr && FreeLibrary(library);
    });
    std::printf("kept per load of BusBroker.dll %.0f bytes\n", brokerLoads);
    EXPECT_LE(brokerLoads, kAllowance) << "per load of BusBroker.dll";
}

} // namespace
