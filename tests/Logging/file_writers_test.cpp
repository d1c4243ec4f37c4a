// Writers in other processes: four of them share one log folder without losing
// or tearing a line, and a first log call does not wait for a held writer mutex.
#include "LogTestFolder.h"
#include "Logging/CLogging.h"
#include "Logging/LoggingNames.h"
#include "ModuleLibrary.h"
#include "registry/CObfuscatedIniReader.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <map>
#include <regex>
#include <set>

namespace names = ETWLogging::names;

namespace {

// Starts the helper program; Wine now and then refuses a start with 1359 on a busy machine.
Orvik::win::UniqueKernelHandle startWriter(const std::wstring& arguments)
{
    const std::wstring writer = testsupport::buildFolder() + L"tests\\log_writer.exe";
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring commandLine = L"\"" + writer + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(writer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process)) {
            ::CloseHandle(process.hThread);
            return Orvik::win::UniqueKernelHandle(process.hProcess);
        }
        if (::GetLastError() != ERROR_INTERNAL_ERROR)
            break;
        ::Sleep(200);
    }
    ADD_FAILURE() << "cannot start log_writer: " << ::GetLastError();
    return {};
}

TEST(FileWriters, FourProcessesShareOneFolderWithoutLosingOrTearingALine)
{
    constexpr int kWriters = 4;
    constexpr int kLines = 5000;
    logtest::ScratchFolder data(L"um-writers-");
    const std::wstring root = data.path() + names::kLogRootFolder;
    ::SHCreateDirectoryExW(nullptr, root.c_str(), nullptr);
    {
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(root + L"log.ini");
        ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, names::kIniMaxSize, names::kMinMaxSize));
        ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, names::kIniMaxEntries, names::kMaxMaxEntries));
    }

    std::vector<Orvik::win::UniqueKernelHandle> processes;
    for (int id = 0; id < kWriters; ++id) {
        processes.push_back(
            startWriter(L"\"" + data.path() + L"\" " + std::to_wstring(id) + L" " + std::to_wstring(kLines)));
        ASSERT_TRUE(processes.back());
    }
    for (auto& process : processes) {
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 240000));
        DWORD exitCode = 1;
        ::GetExitCodeProcess(process.get(), &exitCode);
        EXPECT_EQ(0u, exitCode);
    }

    const std::wregex shape(LR"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\$ -- \(Information\)\$ \[ log_writer.exe\]\$ writer (\d) line (\d+) end)");
    std::map<std::pair<int, int>, int> seen;
    int files = 0;
    int torn = 0;
    for (int index = 0; index < static_cast<int>(names::kMaxMaxEntries); ++index) {
        wchar_t name[32];
        std::swprintf(name, 32, L"log_writer%03d.log", index);
        const std::wstring path = root + L"G\\log_writer\\" + name;
        if (!logtest::fileExists(path))
            continue;
        ++files;
        const std::wstring text = logtest::readLogText(path);
        ASSERT_FALSE(text.empty()) << "no byte-order mark in " << index;
        std::size_t start = 0;
        for (std::size_t end = text.find(L"\r\n"); end != std::wstring::npos;
             start = end + 2, end = text.find(L"\r\n", start)) {
            std::wsmatch match;
            const std::wstring line = text.substr(start, end - start);
            if (!std::regex_match(line, match, shape)) {
                ++torn;
                continue;
            }
            ++seen[{std::stoi(match[1].str()), std::stoi(match[2].str())}];
        }
        EXPECT_EQ(start, text.size()) << "a partial line ends file " << index;
    }
    EXPECT_GT(files, 1) << "the lines should have rotated over several files";
    EXPECT_EQ(0, torn);
    EXPECT_EQ(static_cast<std::size_t>(kWriters * kLines), seen.size());
    for (const auto& [key, count] : seen)
        EXPECT_EQ(1, count) << "writer " << key.first << " line " << key.second;
}

// A process's first log call while another process holds the writer mutex:
// it neither waits for it nor goes on with the defaults; log.ini counts.
TEST(FileWriters, FirstInitialisationReadsLogIniWhileAnotherProcessHoldsTheMutex)
{
    logtest::ScratchFolder data(L"um-held-");
    const std::wstring root = data.path() + names::kLogRootFolder;
    ::SHCreateDirectoryExW(nullptr, root.c_str(), nullptr);
    {
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(root + L"log.ini");
        ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, names::kIniSeverity, 1));
        ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, names::kIniMaxEntries, 5));
    }
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
    const std::wstring heldName = L"um-held-" + tag;
    const std::wstring releaseName = L"um-release-" + tag;
    Orvik::win::UniqueEvent held(::CreateEventW(nullptr, TRUE, FALSE, heldName.c_str()));
    Orvik::win::UniqueEvent release(::CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    ASSERT_TRUE(held && release);
    // The mutex of this test program's own writers.
    const std::wstring mutexName = std::wstring(L"test_logging_") + names::kWriterMutexSuffix;
    Orvik::win::UniqueKernelHandle holder = startWriter(L"--hold " + mutexName + L" " + heldName + L" " + releaseName);
    ASSERT_TRUE(holder);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(held.get(), 30000));

    ETWLogging::CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, log.GetSeverity());
    EXPECT_EQ(5u, log.GetMaxEntries());
    EXPECT_TRUE(log.IsLevelEnabled(1));

    ::SetEvent(release.get());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(holder.get(), 30000));
    DWORD exitCode = 1;
    ::GetExitCodeProcess(holder.get(), &exitCode);
    EXPECT_EQ(0u, exitCode);
    // Once the holder is gone, a Normal line is written.
    EXPECT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 1, L"after the holder"));
    EXPECT_NE(std::wstring::npos, logtest::readLogText(log.LogFilePath(0)).find(L"(Normal)$ [test_logging.ex]$ after the holder"));
}

} // namespace
