// The file back end on real files: rotation, the line format, the log.ini
// settings and what happens when the folder or file cannot be used.
#include "LogTestFolder.h"
#include "Logging/CLogging.h"
#include "Logging/LogFileSettings.h"
#include "Logging/LoggingNames.h"
#include "registry/CObfuscatedIniReader.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <shlobj.h>

using ETWLogging::CLogging;
using logtest::fileExists;
using logtest::readLogText;
using logtest::ScratchFolder;
namespace names = ETWLogging::names;

namespace {

class FileBackEnd : public ::testing::Test {
protected:
    ScratchFolder data{L"um-filelog-"};
    std::wstring root() const { return data.path() + names::kLogRootFolder; }
    std::wstring folder() const { return root() + L"G\\test_logging"; }
    std::wstring folderIni() const { return folder() + L"\\log.ini"; }
    std::wstring rootIni() const { return root() + L"log.ini"; }

    static void writeIni(const std::wstring& path, const wchar_t* key, DWORD value)
    {
        const std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
        ::SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(path);
        ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, key, value));
    }
    static bool readIni(const std::wstring& path, const wchar_t* key, DWORD& value)
    {
        Basalt::CObfuscatedIniReader ini(true);
        return ini.LoadFile(path) && ini.ReadDWORD(names::kIniSection, key, value);
    }
    static void fillTo(const std::wstring& path, std::size_t bytes)
    {
        std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
        file << std::string(bytes, 'x');
    }
};

TEST_F(FileBackEnd, RotatesAtMaxSizeWrapsToZeroAndRepairsAnOutOfRangeIndex)
{
    CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, L"h", nullptr));
    EXPECT_EQ(folder(), log.LogFolder());
    EXPECT_EQ(folder() + L"\\test_logging_h000.log", log.LogFilePath(0));

    // The first line creates file 0 with the byte-order mark.
    ASSERT_EQ(0u, log.WriteFormatted(L"src\\a.cpp", L"f", 1, 3, L"first"));
    EXPECT_NE(std::wstring::npos, readLogText(log.LogFilePath(0)).find(L"first\r\n"));

    // A file of exactly MaxSize rotates before the next line.
    fillTo(log.LogFilePath(0), log.GetMaxSize());
    ASSERT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 3, L"second"));
    EXPECT_NE(std::wstring::npos, readLogText(log.LogFilePath(1)).find(L"second"));
    ETWLogging::internal::LogFileSettings settings(folderIni(), rootIni());
    EXPECT_EQ(1u, settings.readLastLogIdx());

    // The last of MaxEntries files full: wrap to 0, which starts afresh.
    settings.writeLastLogIdx(2);
    fillTo(log.LogFilePath(2), log.GetMaxSize() + 10);
    ASSERT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 3, L"third"));
    std::wstring zero = readLogText(log.LogFilePath(0));
    EXPECT_EQ(std::wstring::npos, zero.find(L"first"));
    EXPECT_NE(std::wstring::npos, zero.find(L"third"));
    EXPECT_EQ(0u, settings.readLastLogIdx());

    // An index beyond MaxEntries recreates file 0 and stores 0.
    settings.writeLastLogIdx(7);
    ASSERT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 3, L"fourth\n"));
    zero = readLogText(log.LogFilePath(0));
    EXPECT_EQ(std::wstring::npos, zero.find(L"third"));
    EXPECT_NE(std::wstring::npos, zero.find(L"fourth\n"));
    EXPECT_EQ(std::wstring::npos, zero.find(L"fourth\n\r\n")) << "a message ending in a line feed gets no CRLF";
    EXPECT_EQ(0u, settings.readLastLogIdx());
}

TEST_F(FileBackEnd, LinesCarryTheirPiecesByOptionsBit)
{
    const SYSTEMTIME time{2026, 1, 0, 2, 13, 5, 9, 0};
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    const std::wstring tid = std::to_wstring(::GetCurrentThreadId());
    const auto padded = [](const std::wstring& text, std::size_t width) {
        return std::wstring(width > text.size() ? width - text.size() : 0, L' ') + text;
    };
    const struct {
        DWORD options;
        const wchar_t* file;
        const wchar_t* function;
        std::uint32_t level;
        std::wstring expected;
    } cases[] = {
        {16, L"x.cpp", L"f", 3, L"01/02/2026 01:05:09 PM$ -- (Information)$ [test_logging.ex]$ hi"},
        {0, L"x.cpp", L"f", 6, L"01/02/2026 01:05:09 PM$ -- (Information)$ hi"},
        {0x04, L"x.cpp", L"f", 4,
         L"01/02/2026 01:05:09 PM$ -- (Error)$ [PID:" + padded(pid, 5) + L" TID:" + padded(tid, 5) + L"]$ hi"},
        {0x08, L"C:\\src\\averyveryverylongsourcefile.cpp", L"f", 1,
         L"01/02/2026 01:05:09 PM$ -- (Normal)$ [averyveryverylongsou:   42]$ hi"},
        {0x08, L"", L"f", 2, L"01/02/2026 01:05:09 PM$ -- (Warning)$  hi"},
        {0x20, L"x.cpp", L"Orvik::Short", 5, L"01/02/2026 01:05:09 PM$ -- (Critical)$ [" + padded(L"Orvik::Short", 40) + L"()]$ hi"},
    };
    for (const auto& c : cases) {
        ScratchFolder own(L"um-lineformat-");
        writeIni(own.path() + names::kLogRootFolder + L"log.ini", names::kIniOptions, c.options);
        CLogging log(own.path());
        ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
        EXPECT_EQ(c.expected, log.BuildLine(c.file, c.function, 42, c.level, L"hi", time)) << c.options;
    }
    // Midnight is 12 AM; a level without a name is not written.
    CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    const SYSTEMTIME midnight{2026, 12, 0, 9, 0, 0, 1, 0};
    EXPECT_EQ(0u, log.BuildLine(nullptr, nullptr, 0, 3, L"m", midnight).rfind(L"12/09/2026 12:00:01 AM$", 0));
    EXPECT_EQ(87u, log.WriteFormatted(nullptr, nullptr, 0, 7, L"no name"));
}

TEST_F(FileBackEnd, InvalidIniValuesAreRewrittenAndTheFolderFileWins)
{
    writeIni(rootIni(), names::kIniMaxSize, 500000);
    writeIni(folderIni(), names::kIniMaxSize, 100000); // invalid
    writeIni(rootIni(), names::kIniMaxEntries, 50);
    writeIni(folderIni(), names::kIniMaxEntries, 7);   // valid, wins
    writeIni(rootIni(), names::kIniSeverity, 7);       // invalid, nothing in the folder file
    writeIni(folderIni(), names::kIniEnable, 0);

    CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    EXPECT_EQ(500000u, log.GetMaxSize());
    EXPECT_EQ(7u, log.GetMaxEntries());
    EXPECT_EQ(3u, log.GetSeverity());
    EXPECT_FALSE(log.IsEnabled());
    DWORD value = 0;
    EXPECT_TRUE(readIni(folderIni(), names::kIniMaxSize, value));
    EXPECT_EQ(262144u, value);
    EXPECT_TRUE(readIni(rootIni(), names::kIniSeverity, value));
    EXPECT_EQ(3u, value);
    // The enabled flag stops LogFormat only; the front end's writes go on.
    EXPECT_EQ(0u, log.LogFormat(4, nullptr, nullptr, 0, L"%ls", L"dropped"));
    EXPECT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"kept"));
    const std::wstring text = readLogText(log.LogFilePath(0));
    EXPECT_EQ(std::wstring::npos, text.find(L"dropped"));
    EXPECT_NE(std::wstring::npos, text.find(L"kept"));
}

TEST_F(FileBackEnd, SeverityZeroLetsEveryLevelThroughAndPlainValuesDoNotCount)
{
    writeIni(folderIni(), names::kIniSeverity, 0);
    {
        // A value someone typed in plain text is not the scrambled form: ignored.
        std::ofstream ini(std::filesystem::path(rootIni()), std::ios::app);
        ini << "MaxEntries=9\r\n";
    }
    CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    EXPECT_TRUE(log.IsLevelEnabled(1));
    EXPECT_EQ(3u, log.GetMaxEntries());
}

TEST_F(FileBackEnd, UnusableFoldersFilesAndSettingsNeverCrash)
{
    // A folder under a file cannot be made: the back end is disabled for good.
    const std::wstring blocker = data.path() + L"\\blocker";
    fillTo(blocker, 4);
    {
        CLogging log(blocker);
        ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
        EXPECT_EQ(87u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"nowhere"));
        EXPECT_FALSE(log.IsEnabled());
        EXPECT_FALSE(log.IsLevelEnabled(6));
        EXPECT_EQ(87u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"still nowhere"));
    }
    // A log file that cannot be opened for writing (held without sharing by
    // someone else; Wine running as root does not enforce the read-only
    // attribute): the write fails with the system's error, the next one works.
    {
        CLogging log(data.path());
        ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
        ASSERT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"one"));
        {
            Orvik::win::UniqueFile holder(::CreateFileW(log.LogFilePath(0).c_str(), GENERIC_READ, 0, nullptr,
                                                        OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder);
            EXPECT_EQ(static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION),
                      log.WriteFormatted(nullptr, nullptr, 0, 4, L"two"));
        }
        EXPECT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"three"));
        const std::wstring text = readLogText(log.LogFilePath(0));
        EXPECT_EQ(std::wstring::npos, text.find(L"two"));
        EXPECT_NE(std::wstring::npos, text.find(L"three"));
    }
    // A log.ini of garbage bytes: defaults, and lines are written.
    {
        std::ofstream ini(std::filesystem::path(folderIni()), std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 4096; ++i)
            ini.put(static_cast<char>((i * 7919) & 0xFF));
    }
    CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    EXPECT_EQ(262144u, log.GetMaxSize());
    EXPECT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"after garbage"));
    // Initialising twice and uninitialising an uninitialised object are refused.
    EXPECT_EQ(20001u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, log.Uninitialize());
    EXPECT_EQ(20002u, log.Uninitialize());
    EXPECT_EQ(87u, log.Initialize(L"", nullptr, nullptr, nullptr));
}

// Rotation replaces a file only once the new index is stored and reads back:
// with a log.ini that cannot be written (a folder of that name), or one whose
// section is spelt "[CONFIG]" (the profile writer matches names without regard
// to case, so the index goes there), every line still ends up on disk once.
TEST_F(FileBackEnd, NoLineIsLostWhenTheRotationIndexCannotBeStoredOrReadBack)
{
    constexpr int kLines = 200; // about 3.6 KB each: more than one file, less than three
    const auto writeAll = [&](const wchar_t* group, DWORD& files) {
        CLogging log(data.path());
        EXPECT_EQ(0u, log.Initialize(group, nullptr, nullptr, nullptr));
        for (int i = 0; i < kLines; ++i) {
            const std::wstring message = L"line " + std::to_wstring(i) + L" " + std::wstring(1700, L'x') + L" end";
            EXPECT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 3, message.c_str())) << i;
        }
        std::vector<int> seen(kLines, 0);
        int notes = 0;
        files = 0;
        for (DWORD index = 0; index < log.GetMaxEntries(); ++index) {
            const std::wstring text = readLogText(log.LogFilePath(index));
            files += text.empty() ? 0 : 1;
            for (std::size_t start = 0, end = text.find(L"\r\n"); end != std::wstring::npos;
                 start = end + 2, end = text.find(L"\r\n", start)) {
                const std::wstring line = text.substr(start, end - start);
                const std::size_t at = line.find(L"]$ line ");
                if (at != std::wstring::npos && line.size() > 4 && line.compare(line.size() - 4, 4, L" end") == 0) {
                    const int number = std::stoi(line.substr(at + 8));
                    if (number >= 0 && number < kLines)
                        ++seen[number];
                } else if (line.find(L"(Warning)$") != std::wstring::npos &&
                           line.find(L"Log rotation held back") != std::wstring::npos) {
                    ++notes;
                }
            }
        }
        std::wstring wrong; // "line:times" of every line not on disk exactly once
        for (int i = 0; i < kLines; ++i) {
            if (seen[i] != 1)
                wrong += L" " + std::to_wstring(i) + L":" + std::to_wstring(seen[i]);
        }
        EXPECT_TRUE(wrong.empty()) << "group " << group << ", lines not on disk once:" << wrong;
        return notes;
    };

    // Unwritable: the first file grows, and the log says why once.
    ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(nullptr, (root() + L"A\\test_logging\\log.ini").c_str(), nullptr));
    DWORD files = 0;
    EXPECT_EQ(1, writeAll(L"A", files));
    EXPECT_EQ(1u, files);

    // "[CONFIG]": its settings count, the index is found there, rotation goes on.
    const std::wstring upperIni = root() + L"B\\test_logging\\log.ini";
    ::SHCreateDirectoryExW(nullptr, (root() + L"B\\test_logging").c_str(), nullptr);
    {
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(upperIni);
        ASSERT_TRUE(ini.WriteDWORD(L"CONFIG", names::kIniSeverity, 1));
    }
    {
        CLogging log(data.path());
        ASSERT_EQ(0u, log.Initialize(L"B", nullptr, nullptr, nullptr));
        EXPECT_TRUE(log.IsLevelEnabled(1)) << "Severity under [CONFIG] was not read";
    }
    EXPECT_EQ(0, writeAll(L"B", files));
    EXPECT_EQ(3u, files);
    const ETWLogging::internal::LogFileSettings settings(upperIni, rootIni());
    EXPECT_EQ(2u, settings.readLastLogIdx());
    std::ifstream raw{std::filesystem::path(upperIni)};
    const std::string content((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::string::npos, content.find("[Config]")) << "the index went into a section of its own";
}

// A writer that cannot have the writer mutex within its 7 s drops the line
// rather than write in between another process's rotation.
TEST_F(FileBackEnd, ALineThatCannotBeSerialisedIsDroppedAndCounted)
{
    CLogging log(data.path());
    ASSERT_EQ(0u, log.Initialize(L"G", nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"before"));
    HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        const std::wstring name = std::wstring(L"test_logging_") + names::kWriterMutexSuffix;
        Orvik::win::UniqueMutex mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
        ::WaitForSingleObject(mutex.get(), INFINITE);
        ::SetEvent(held);
        ::WaitForSingleObject(release, INFINITE);
        ::ReleaseMutex(mutex.get());
    });
    ::WaitForSingleObject(held, INFINITE);
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_TIMEOUT), log.WriteFormatted(nullptr, nullptr, 0, 4, L"blocked"));
    EXPECT_EQ(1ul, log.DroppedLines());
    ::SetEvent(release);
    holder.join();
    ::CloseHandle(held);
    ::CloseHandle(release);
    EXPECT_EQ(0u, log.WriteFormatted(nullptr, nullptr, 0, 4, L"after"));
    const std::wstring text = readLogText(log.LogFilePath(0));
    EXPECT_EQ(std::wstring::npos, text.find(L"blocked"));
    EXPECT_NE(std::wstring::npos, text.find(L"after"));
}

} // namespace
