// Enabled lines through each back end against the bare work they stand on,
// side by side in one run (rounds alternating, median of the paired ratios):
//  - file back end: WriteFormatted (mutex, log.ini read, open, write, close
//    per line) against writing the same line bytes to one open file;
//  - event-trace back end with a trace platform that takes the events:
//    WriteFormatted_ex (format, record, header, send) against building the
//    same record bytes alone.

#include "BrokerBench.h"
#include "NullTracePlatform.h"
#include "Logging/CETWLogging.h"
#include "Logging/CLogging.h"
#include "win/UniqueHandle.h"

#include <chrono>
#include <cstdio>
#include <vector>

using benchsupport::compareSideBySide;
using benchsupport::Comparison;

namespace {

template <typename Body>
double perSecond(long count, Body body)
{
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i)
        body();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return count / elapsed.count();
}

constexpr wchar_t kMessage[] = L"Processing property: Core.Update.UpdateResults";

} // namespace

int main()
{
    benchsupport::warnIfUnoptimised();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring data = std::wstring(temp) + L"um-bench-backends";

    // (b) file back end
    ETWLogging::CLogging file(data);
    if (file.Initialize(L"Bench", nullptr, nullptr, nullptr) != 0 ||
        file.WriteFormatted(L"UpdateModuleImp", L"Orvik::UpdateModuleImp::start", 1, 3, kMessage) != 0) {
        std::printf("the file back end could not write under %ls\n", data.c_str());
        return 1;
    }
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::wstring line =
        file.BuildLine(L"UpdateModuleImp", L"Orvik::UpdateModuleImp::start", 1, 3, kMessage, now) + L"\r\n";
    const std::wstring plainPath = data + L"\\plain.log";
    Orvik::win::UniqueFile plain(CreateFileW(plainPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const long lines = 2000;
    const Comparison fileResult = compareSideBySide(
        [&] {
            return perSecond(lines, [&] {
                DWORD written = 0;
                WriteFile(plain.get(), line.data(), static_cast<DWORD>(line.size() * 2), &written, nullptr);
            });
        },
        [&] {
            return perSecond(lines, [&] {
                file.WriteFormatted(L"UpdateModuleImp", L"Orvik::UpdateModuleImp::start", 1, 3, kMessage);
            });
        },
        7);
    std::printf("(b) file back end, %ld lines per round:\n", lines);
    std::printf("    one open file, WriteFile per line     : %12.0f lines/s\n", fileResult.baseline);
    std::printf("    CLogging::WriteFormatted              : %12.0f lines/s\n", fileResult.measured);
    std::printf("    ratio (back end / bare write)         : %12.4f\n", fileResult.ratio);
    // Where the time of one line goes: the steps the back end takes per line, alone.
    ETWLogging::internal::LogFileSettings settings(file.LogFolder() + L"\\log.ini", data + L"\\log.ini");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"um-bench-mutex");
    const double mutexRate = perSecond(lines, [&] {
        WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
    });
    CloseHandle(mutex);
    const double indexRate = perSecond(lines, [&] { settings.readLastLogIdx(); });
    const std::wstring logPath = file.LogFilePath(0);
    const double openRate = perSecond(lines, [&] {
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        GetFileAttributesExW(logPath.c_str(), GetFileExInfoStandard, &attributes);
        Orvik::win::UniqueFile opened(CreateFileW(logPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_ARCHIVE, nullptr));
    });
    std::printf("    per line, alone: mutex wait+release %.1f us, LastLogIdx read %.1f us, size+open+close %.1f us,"
                " whole line %.1f us\n",
                1e6 / mutexRate, 1e6 / indexRate, 1e6 / openRate, 1e6 / fileResult.measured);

    // (c) event-trace back end
    benchsupport::NullTracePlatform platform;
    ETWLogging::CETWLogging trace(&platform);
    if (trace.Initialize_ex(nullptr, L"Bench", nullptr, nullptr, nullptr) != 0 || trace.PrepareWrite() != 0) {
        std::printf("the event-trace back end could not start\n");
        return 1;
    }
    std::vector<std::uint8_t> record;
    const long events = 200000;
    const Comparison traceResult = compareSideBySide(
        [&] {
            return perSecond(events, [&] {
                trace.BuildRecord(L"UpdateModuleImp", L"Orvik::UpdateModuleImp::start", 1, kMessage, record);
            });
        },
        [&] {
            return perSecond(events, [&] {
                trace.WriteFormatted_ex(3, L"UpdateModuleImp", L"Orvik::UpdateModuleImp::start", 1, kMessage);
            });
        },
        7);
    std::printf("(c) event-trace back end, %ld events per round (%lu taken):\n", events, platform.events);
    std::printf("    building the record bytes alone       : %12.0f records/s\n", traceResult.baseline);
    std::printf("    CETWLogging::WriteFormatted_ex        : %12.0f events/s\n", traceResult.measured);
    std::printf("    ratio (back end / record alone)       : %12.2f\n", traceResult.ratio);
    return 0;
}
