// Time of one validateFile of a signed library, cold (first call in a new
// process) and warm (later calls), side by side with WinVerifyTrust alone and
// with the refusal of an unsigned file. Verdicts are never cached, so every
// warm call runs the full check.
//
// Usage: bench_trust.exe <signed file> <unsigned file> [warm rounds]
// The Wine prefix must be prepared as by the trust_pki test fixture (test root
// in the machine store, time-stamp policy provider registered).

#include "trust/FileSignatureCheck.h"
#include "trust/SignedLibraryValidation.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

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
Stats measure(int rounds, Call call)
{
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        const double start = nowMs();
        call();
        samples.push_back(nowMs() - start);
    }
    return summarise(samples);
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
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                        &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        output.append(buffer, read);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    unsigned long code = 0;
    return std::sscanf(output.c_str(), "%lf %lu", ms, &code) == 2 && ((*result = code), true);
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
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_trust <signed file> <unsigned file> [warm rounds]\n");
        return 2;
    }
    const std::wstring signedFile = argv[1];
    const std::wstring unsignedFile = argv[2];
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 20;

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

    const Stats baseline = measure(rounds, [&] { Orvik::trust::verifyFileTrust(signedFile); });
    const Stats warm = measure(rounds, [&] { Orvik::validateFile(signedFile.c_str()); });
    const Stats refused = measure(rounds, [&] { Orvik::validateFile(unsignedFile.c_str()); });
    const Stats coldStats = summarise(cold);

    std::printf("validateFile timing (ms), %d warm rounds, %zu cold processes\n", rounds, cold.size());
    std::printf("%-44s %9s %9s %9s %9s %9s\n", "measurement", "median", "mean", "min", "max", "vs base");
    printRow("baseline: WinVerifyTrust alone (0x1214)", baseline, baseline.median);
    printRow("validateFile, signed, warm", warm, baseline.median);
    printRow("validateFile, signed, cold (first call)", coldStats, baseline.median);
    printRow("validateFile, unsigned (refused), warm", refused, baseline.median);
    return 0;
}
