// Four processes write into one log folder at once: every line arrives
// exactly once, whole, and every file starts with the byte-order mark.
#include "LogTestFolder.h"
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

    const std::wstring writer = testsupport::buildFolder() + L"tests\\log_writer.exe";
    std::vector<Orvik::win::UniqueKernelHandle> processes;
    for (int id = 0; id < kWriters; ++id) {
        std::wstring commandLine = L"\"" + writer + L"\" \"" + data.path() + L"\" " + std::to_wstring(id) + L" " +
                                   std::to_wstring(kLines);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessW(writer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &process))
            << ::GetLastError();
        ::CloseHandle(process.hThread);
        processes.emplace_back(process.hProcess);
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

} // namespace
