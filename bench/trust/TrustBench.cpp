// Time of one validateFile of a signed library, warm and cold (first call in a
// new process), side by side with WinVerifyTrust alone and with the refusal of
// an unsigned file. Verdicts are never cached, so every warm call runs the full
// check. The warm calls and the baseline alternate round by round, so a load
// change on a shared machine touches both sides of the ratio alike.
//
// Usage: bench_trust.exe [<signed file> <unsigned file> [warm rounds]]
// Without files it measures the build's sandbox test server. The Wine prefix
// must be prepared as by the trust_pki test fixture (test root in the machine
// store, time-stamp policy provider registered).

#include "trust/FileSignatureCheck.h"
#include "trust/SignedLibraryValidation.h"
#include "win/UniqueHandle.h"

#include "TrustBenchPaths.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Orvik::win::UniqueKernelHandle;

constexpr double kRatioLimit = 1.3;

double nowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Stats {
    double median = 0, mean = 0, min = 0, max = 0;
};

Stats summarise(std::vector<double> samples)
{
    Stats s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.median = samples[samples.size() / 2];
    s.min = samples.front();
    s.max = samples.back();
    for (double v : samples)
        s.mean += v;
    s.mean /= static_cast<double>(samples.size());
    return s;
}

template <typename Call>
double timeOnce(Call call)
{
    const double start = nowMs();
    call();
    return nowMs() - start;
}

// Child mode: the first validateFile of this process, in milliseconds.
int runCold(const wchar_t* file)
{
    const double start = nowMs();
    const DWORD result = Orvik::validateFile(file);
    const double elapsed = nowMs() - start;
    std::printf("%.3f %lu\n", elapsed, static_cast<unsigned long>(result));
    return 0;
}

bool coldSample(const std::wstring& file, double* ms, DWORD* result)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --cold \"" + file + L"\"";

    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueKernelHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0))
        return false;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    writeEnd.reset();
    if (!started)
        return false;
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        output.append(buffer, read);
    WaitForSingleObject(process.get(), INFINITE);
    unsigned long code = 0;
    if (std::sscanf(output.c_str(), "%lf %lu", ms, &code) != 2)
        return false;
    *result = code;
    return true;
}

void printRow(const char* name, const Stats& s, double baseline)
{
    std::printf("%-44s %9.2f %9.2f %9.2f %9.2f %8.2fx\n", name, s.median, s.mean, s.min, s.max,
                baseline > 0 ? s.median / baseline : 0.0);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"--cold") == 0)
        return runCold(argv[2]);
    if (argc == 2) {
        std::fprintf(stderr, "usage: bench_trust [<signed file> <unsigned file> [warm rounds]]\n");
        return 2;
    }
    const std::wstring signedFile = argc > 2 ? argv[1] : std::wstring(UM_BENCH_SANDBOX_DIR) + L"\\TrustProbe.dll";
    const std::wstring unsignedFile =
        argc > 2 ? argv[2] : std::wstring(UM_BENCH_SANDBOX_DIR) + L"\\TrustProbeUnsigned.dll";
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 40;

    if (Orvik::validateFile(signedFile.c_str()) != 0) {
        std::fprintf(stderr, "the signed file does not validate: is the prefix prepared (trust_pki fixture)?\n");
        return 1;
    }
    std::vector<double> cold;
    for (int i = 0; i < 5; ++i) {
        double ms = 0;
        DWORD result = 1;
        if (coldSample(signedFile, &ms, &result) && result == 0)
            cold.push_back(ms);
    }

    const auto baselineCall = [&] { Orvik::trust::verifyFileTrust(signedFile); };
    const auto warmCall = [&] { Orvik::validateFile(signedFile.c_str()); };
    std::vector<double> baseline, warm, refused, ratios;
    for (int i = 0; i < rounds; ++i) {
        // Alternate which side goes first, so neither always runs right after the other.
        double base = 0, check = 0;
        if (i % 2 == 0) {
            base = timeOnce(baselineCall);
            check = timeOnce(warmCall);
        } else {
            check = timeOnce(warmCall);
            base = timeOnce(baselineCall);
        }
        baseline.push_back(base);
        warm.push_back(check);
        ratios.push_back(check / base);
        refused.push_back(timeOnce([&] { Orvik::validateFile(unsignedFile.c_str()); }));
    }
    const Stats baselineStats = summarise(baseline);
    const Stats warmStats = summarise(warm);
    const Stats ratioStats = summarise(ratios);

    std::printf("validateFile timing (ms), %d warm rounds, %zu cold processes\n", rounds, cold.size());
    std::printf("%-44s %9s %9s %9s %9s %9s\n", "measurement", "median", "mean", "min", "max", "vs base");
    printRow("baseline: WinVerifyTrust alone (0x1214)", baselineStats, baselineStats.median);
    printRow("validateFile, signed, warm", warmStats, baselineStats.median);
    printRow("validateFile, signed, cold (first call)", summarise(cold), baselineStats.median);
    printRow("validateFile, unsigned (refused), warm", summarise(refused), baselineStats.median);
    std::printf("warm validateFile / WinVerifyTrust, median of round ratios: %.2fx (limit %.2fx)\n",
                ratioStats.median, kRatioLimit);
    return 0;
}
