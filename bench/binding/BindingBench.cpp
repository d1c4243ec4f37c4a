// What binding the bus costs a host that hands the module no bus: the time
// from LoadLibraryW of UpdateModule.dll to a successful InitializeModule (the
// module finds, verifies, loads and binds the BusBroker.dll beside this
// program), against the signed-library check of that broker file alone.
// Rounds alternate which side goes first; the first round is left out (warm);
// the median of the per-round ratios is reported.
//
// The Wine prefix must hold the test root, as the trust_pki test fixture
// leaves it (scripts/test.sh, or scripts/demo.sh, prepares it).

#include "BenchCommon.h"
#include "entry/ModuleFunctions.h"
#include "trust/SignedLibraryValidation.h"
#include "win/ProcAddress.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double nowMs()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

extern "C" std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}

// One host start: load, create, initialise (timed), then tear all down again.
double bindOnce(const std::wstring& modulePath, bool& ok)
{
    const double start = nowMs();
    Orvik::win::UniqueLibrary library(LoadLibraryW(modulePath.c_str()));
    auto create = Orvik::win::procAddress<const Orvik::ModuleEntryTable* (*)()>(library.get(), "CreateObject");
    const Orvik::ModuleEntryTable* t = create != nullptr ? create() : nullptr;
    Orvik::ModuleHandle handle = nullptr;
    ok = t != nullptr && t->newModule(&handle, L"UpdateModule") == 0 &&
         t->initializeModule(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload) == 0;
    const double elapsed = nowMs() - start;
    if (handle != nullptr) {
        t->uninitializeModule(handle);
        t->destroyModule(handle);
    }
    return elapsed;
}

} // namespace

int main()
{
    const std::wstring folder = benchsupport::programFolder();
    const std::wstring modulePath = folder + L"..\\UpdateModule.dll";
    const std::wstring brokerPath = folder + L"BusBroker.dll";
    const int rounds = 15;
    std::vector<double> binding, check, ratios;
    for (int round = 0; round <= rounds; ++round) {
        // Alternate which side goes first, so neither always runs on a cache
        // the other has just warmed.
        double bound = 0, checked = 0;
        bool ok = true;
        DWORD verdict = 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (round % 2 == 0)) {
                bound = bindOnce(modulePath, ok);
            } else {
                const double start = nowMs();
                verdict = Orvik::validateFile(brokerPath.c_str());
                checked = nowMs() - start;
            }
        }
        if (!ok) {
            std::printf("InitializeModule did not bind the broker beside this program\n");
            return 1;
        }
        if (verdict != 0) {
            std::printf("the broker beside this program is not trusted (%lu)\n", verdict);
            return 1;
        }
        if (round == 0)
            continue;  // cold: first load of everything
        binding.push_back(bound);
        check.push_back(checked);
        ratios.push_back(bound / checked);
    }
    std::printf("rounds                                        : %10d (warm, order alternating)\n", rounds);
    std::printf("signed-library check of BusBroker.dll         : %10.1f ms (median)\n", benchsupport::medianOf(check));
    std::printf("LoadLibraryW(UpdateModule) .. InitializeModule: %10.1f ms (median)\n", benchsupport::medianOf(binding));
    std::printf("median of round ratios (binding / check)      : %10.2f (target <= 1.25)\n", benchsupport::medianOf(ratios));
    return 0;
}
