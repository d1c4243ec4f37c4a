// What one request costs a host that loads the module on demand, as such a
// host runs it: LoadLibraryW of UpdateModule.dll, CreateObject and NewModule
// (the settings client finds, verifies, loads and binds the BusBroker.dll
// beside this program), InitializeModuleV2 on a bus of the host's own,
// StartModule, one "Core.Update.RefreshState" (the update agent's server is
// verified, loaded and asked), UninitializeModule, DestroyModule and
// FreeLibrary. The baseline is WinVerifyTrust of the same two files, the
// checks no cycle can avoid. Rounds alternate which side goes first; the
// median of the rounds' ratios is reported, with each phase's median and the
// first (cold) cycle.
//
// The Wine prefix must hold the test root and the sandbox agent's
// registration, as the test fixtures leave them (scripts/test.sh or
// scripts/demo.sh prepares it).

#include "BenchCommon.h"
#include "OnDemandCycle.h"
#include "trust/FileSignatureCheck.h"
#include "win/ComApartment.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using sandbox::kPhaseCount;

bool servedRefresh(const sandbox::CycleResult& result)
{
    return result.served && result.published == std::vector<std::wstring>{L"Core.Update.State"};
}

double bareChecks(const std::vector<std::wstring>& files, bool& ok)
{
    const double start = sandbox::millisecondsNow();
    for (const std::wstring& file : files)
        ok = Orvik::trust::verifyFileTrust(file) == 0 && ok;
    return sandbox::millisecondsNow() - start;
}

} // namespace

int main()
{
    Orvik::win::ComApartment apartment;
    const std::wstring folder = benchsupport::programFolder();
    const std::wstring modulePath = folder + L"..\\UpdateModule.dll";
    const std::vector<std::wstring> files = {sandbox::registeredServer(sandbox::kAgentClassId),
                                             folder + L"BusBroker.dll"};
    if (files[0].empty()) {
        std::printf("the sandbox agent is not registered in this prefix\n");
        return 1;
    }
    const int rounds = 21;
    const sandbox::CycleResult first = sandbox::serveOnDemand(modulePath, L"Core.Update.RefreshState");
    if (!servedRefresh(first)) {
        std::printf("the first cycle failed: no signed broker beside this program, or no agent\n");
        return 1;
    }
    double firstTotal = 0;
    for (double phase : first.phases)
        firstTotal += phase;

    std::vector<double> cycles, checks, ratios, phases[kPhaseCount];
    for (int round = 0; round < rounds; ++round) {
        double cycle = 0, check = 0;
        sandbox::CycleResult result;
        bool trusted = true;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (round % 2 == 0)) {
                const double start = sandbox::millisecondsNow();
                result = sandbox::serveOnDemand(modulePath, L"Core.Update.RefreshState");
                cycle = sandbox::millisecondsNow() - start;
            } else {
                check = bareChecks(files, trusted);
            }
        }
        if (!servedRefresh(result) || !trusted) {
            std::printf("round %d: %s\n", round, trusted ? "the cycle failed" : "WinVerifyTrust refused a file");
            return 1;
        }
        cycles.push_back(cycle);
        checks.push_back(check);
        ratios.push_back(cycle / check);
        for (int p = 0; p < kPhaseCount; ++p)
            phases[p].push_back(result.phases[p]);
    }
    std::printf("rounds                                           : %8d (after one cold cycle, order alternating)\n",
                rounds);
    std::printf("first cycle in this process                      : %8.1f ms\n", firstTotal);
    for (int p = 0; p < kPhaseCount; ++p)
        std::printf("  %-47s: %8.1f ms (median; first %.1f)\n", sandbox::kCyclePhaseNames[p], benchsupport::medianOf(phases[p]),
                    first.phases[p]);
    std::printf("one cycle                                        : %8.1f ms (median)\n", benchsupport::medianOf(cycles));
    std::printf("WinVerifyTrust of the agent's server + the broker: %8.1f ms (median)\n", benchsupport::medianOf(checks));
    std::printf("median of round ratios (cycle / checks)          : %8.2f (target <= 1.3)\n", benchsupport::medianOf(ratios));
    return 0;
}
