// The log reader against files the real file back end wrote from several
// writer processes, with rotations in the middle: each line once, in the order
// written, filtered by level and time, and followed across a rotation by the
// tool itself running as a child process.

#include "LogReader.h"

#include "Logging/LogFileSettings.h"
#include "Logging/LoggingNames.h"
#include "ModuleLibrary.h"
#include "ScratchFolder.h"
#include "registry/CObfuscatedIniReader.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

namespace names = ETWLogging::names;
using Orvik::tools::parseRecordTime;
using Orvik::tools::runLogCommand;

namespace {

// Starts a program of the build; Wine now and then refuses a start with 1359 on a busy machine.
Orvik::win::UniqueKernelHandle startProgram(const std::wstring& program, const std::wstring& arguments,
                                            HANDLE output = nullptr)
{
    const std::wstring path = testsupport::buildFolder() + program;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        if (output != nullptr) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = output;
            startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        }
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                             nullptr, &startup, &process)) {
            ::CloseHandle(process.hThread);
            return Orvik::win::UniqueKernelHandle(process.hProcess);
        }
        if (::GetLastError() != ERROR_INTERNAL_ERROR)
            break;
        ::Sleep(200);
    }
    ADD_FAILURE() << "cannot start " << std::string(program.begin(), program.end()) << ": " << ::GetLastError();
    return {};
}

class LogReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = data_ + names::kLogRootFolder;
        ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(nullptr, (root_ + L"G\\log_writer").c_str(), nullptr));
    }

    std::wstring folderIni() const { return root_ + L"G\\log_writer\\log.ini"; }
    void setIni(const std::wstring& path, const wchar_t* key, DWORD value)
    {
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(path);
        ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, key, value));
    }

    // Runs writers at once, each writing `lines` lines at `level`, and waits for them.
    void write(const std::vector<std::wstring>& writers, int lines, int level = 3)
    {
        std::vector<Orvik::win::UniqueKernelHandle> processes;
        for (const std::wstring& id : writers)
            processes.push_back(startProgram(L"tests\\log_writer.exe", L"\"" + data_ + L"\" " + id + L" " +
                                                                           std::to_wstring(lines) + L" " +
                                                                           std::to_wstring(level)));
        for (auto& process : processes) {
            ASSERT_TRUE(process);
            ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 120000));
            DWORD exitCode = 1;
            ::GetExitCodeProcess(process.get(), &exitCode);
            ASSERT_EQ(0u, exitCode);
        }
    }

    int read(std::vector<std::wstring> arguments)
    {
        output_.clear();
        notes_.clear();
        arguments.insert(arguments.begin(), L"G");
        return runLogCommand(arguments, root_, [this](const std::wstring& line) { notes_ += line + L"\n"; },
                             [this](const std::wstring& text) {
                                 output_ += text;
                                 return true;
                             });
    }

    testsupport::ScratchFolder scratch_{L"um-reader-"};
    const std::wstring& data_ = scratch_.path();
    std::wstring root_;
    std::wstring output_;
    std::wstring notes_;
};

struct Record {
    ULONGLONG time;
    std::wstring level;
    std::wstring writer;
    int line;
};

// Every record of the text; a line of any other shape fails the test.
std::vector<Record> records(const std::wstring& text)
{
    static const std::wregex shape(
        LR"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\$ -- \((\w+)\)\$ \[ log_writer.exe\]\$ writer (\S+) line (\d+) end)");
    std::vector<Record> found;
    size_t start = 0;
    for (size_t end = text.find(L"\r\n"); end != std::wstring::npos; start = end + 2, end = text.find(L"\r\n", start)) {
        const std::wstring line = text.substr(start, end - start);
        std::wsmatch match;
        if (!std::regex_match(line, match, shape)) {
            ADD_FAILURE() << "unexpected line: " << std::string(line.begin(), line.end());
            continue;
        }
        Record record{0, match[1].str(), match[2].str(), std::stoi(match[3].str())};
        EXPECT_TRUE(parseRecordTime(line.c_str(), line.size(), record.time));
        found.push_back(record);
    }
    EXPECT_EQ(start, text.size()) << "the output ends inside a line";
    return found;
}

// Each writer's lines 0..lines-1 exactly once, in its own order, and all of
// them in time order.
void expectEveryLineOnceInOrder(const std::vector<Record>& found, const std::vector<std::wstring>& writers, int lines)
{
    std::map<std::wstring, int> next;
    ULONGLONG last = 0;
    for (const Record& record : found) {
        EXPECT_EQ(next[record.writer], record.line) << "writer " << std::string(record.writer.begin(), record.writer.end());
        next[record.writer] = record.line + 1;
        EXPECT_LE(last, record.time);
        last = record.time;
    }
    EXPECT_EQ(writers.size(), next.size());
    for (const std::wstring& writer : writers)
        EXPECT_EQ(lines, next[writer]);
}

TEST_F(LogReaderTest, EveryLineOnceInTheOrderWrittenAcrossTheRing)
{
    // The ring starts at index 3 of 5 and wraps to 0, so file numbers are not the order.
    setIni(root_ + L"log.ini", names::kIniMaxEntries, 5);
    setIni(folderIni(), names::kIniLastLogIdx, 3);
    const std::vector<std::wstring> writers{L"0", L"1", L"2", L"3"};
    write(writers, 800);
    ASSERT_EQ(0u, ETWLogging::internal::LogFileSettings(folderIni(), root_ + L"log.ini").readLastLogIdx())
        << "the lines should have rotated from file 3 over file 4 to file 0";

    ASSERT_EQ(0, read({})) << std::string(notes_.begin(), notes_.end());
    expectEveryLineOnceInOrder(records(output_), writers, 800);
    EXPECT_TRUE(notes_.empty());

    // Named explicitly, the same; a process or group without logs is reported.
    ASSERT_EQ(0, read({L"--process", L"log_writer"}));
    EXPECT_EQ(4u * 800, records(output_).size());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, read({L"--process", L"other"}));
    EXPECT_NE(std::wstring::npos, notes_.find(L"No log files"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              runLogCommand({L"NoSuchGroup"}, root_, [](const std::wstring&) {}, [](const std::wstring&) { return true; }));
}

TEST_F(LogReaderTest, LevelAndSinceFilterByWhatTheRecordsCarry)
{
    write({L"normal"}, 5, 1);
    write({L"error"}, 5, 4);
    // Wait for the clock's next second: everything before it is older than `since`.
    SYSTEMTIME before{};
    SYSTEMTIME now{};
    ::GetLocalTime(&before);
    do {
        ::Sleep(50);
        ::GetLocalTime(&now);
    } while (now.wSecond == before.wSecond);
    wchar_t since[64];
    const unsigned hour12 = now.wHour % 12 == 0 ? 12 : now.wHour % 12;
    std::swprintf(since, 64, L"%02u/%02u/%u %02u:%02u:%02u %ls", now.wMonth, now.wDay, now.wYear, hour12, now.wMinute,
                  now.wSecond, now.wHour < 12 ? L"AM" : L"PM");
    write({L"warning"}, 5, 2);
    write({L"critical"}, 5, 5);

    const auto writersOf = [this]() {
        std::map<std::wstring, int> count;
        for (const Record& record : records(output_)) {
            EXPECT_EQ(record.writer, record.level == L"Normal"        ? L"normal"
                                     : record.level == L"Error"       ? L"error"
                                     : record.level == L"Warning"     ? L"warning"
                                                                      : L"critical");
            ++count[record.writer];
        }
        return count;
    };
    using Counts = std::map<std::wstring, int>;
    ASSERT_EQ(0, read({}));
    EXPECT_EQ((Counts{{L"normal", 5}, {L"error", 5}, {L"warning", 5}, {L"critical", 5}}), writersOf());
    ASSERT_EQ(0, read({L"--level", L"error"}));
    EXPECT_EQ((Counts{{L"error", 5}, {L"critical", 5}}), writersOf());
    ASSERT_EQ(0, read({L"--since", since}));
    EXPECT_EQ((Counts{{L"warning", 5}, {L"critical", 5}}), writersOf());
    ASSERT_EQ(0, read({L"--level", L"Warning", L"--since", since}));
    EXPECT_EQ((Counts{{L"warning", 5}, {L"critical", 5}}), writersOf());
    ASSERT_EQ(0, read({L"--level", L"Critical", L"--since", std::wstring(since) + L"$"}));
    EXPECT_EQ((Counts{{L"critical", 5}}), writersOf());

    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, read({L"--level", L"Verbose"}));
    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, read({L"--since", L"yesterday"}));
    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, read({L"--since", L"13/01/2025 01:00:00 PM"}));
    EXPECT_TRUE(output_.empty());

    // The records' 12-hour clock: 12 AM starts the day, 12 PM is noon.
    std::vector<ULONGLONG> keys;
    for (const wchar_t* time : {L"01/01/2025 12:00:00 AM", L"01/01/2025 01:00:00 AM", L"01/01/2025 11:59:59 AM",
                                L"01/01/2025 12:00:00 PM", L"01/01/2025 01:00:00 PM", L"01/01/2025 11:59:59 PM",
                                L"01/02/2025 12:00:00 AM", L"12/31/2025 11:00:00 PM", L"01/01/2026 12:00:00 AM"}) {
        keys.push_back(0);
        ASSERT_TRUE(parseRecordTime(time, std::wcslen(time), keys.back()));
    }
    for (size_t i = 1; i < keys.size(); ++i)
        EXPECT_LT(keys[i - 1], keys[i]) << i;
}

TEST_F(LogReaderTest, FollowGoesOnAcrossARotationWithoutLosingOrRepeatingALine)
{
    write({L"0"}, 1000);
    const std::wstring outputPath = data_ + L"\\follow.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Orvik::win::UniqueFile output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(output);
    Orvik::win::UniqueKernelHandle follower =
        startProgram(L"tools\\ZuLogConfig.exe", L"log G --follow --root \"" + root_.substr(0, root_.size() - 1) + L"\"",
                     output.get()); // no backslash before the closing quote: it would escape it
    ASSERT_TRUE(follower);

    // What the follower printed so far, as UTF-8 turned back into text.
    const auto printed = [&outputPath]() {
        std::string bytes;
        Orvik::win::UniqueFile file(::CreateFileW(outputPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!file || !::GetFileSizeEx(file.get(), &size))
            return std::wstring();
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        std::wstring text(bytes.size(), L'\0');
        text.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read),
                                                              text.data(), static_cast<int>(text.size()))));
        return text;
    };
    const auto waitFor = [&printed](const std::wstring& last) {
        for (int waited = 0; waited < 600 && printed().find(last) == std::wstring::npos; ++waited)
            ::Sleep(100);
    };
    waitFor(L"writer 0 line 999 end");

    // Two more writers (their names not in any code page's ASCII) fill file 0
    // and go on in file 1 while the follower runs.
    const std::vector<std::wstring> later{L"\u00fc1", L"\u03a92"};
    write(later, 1000);
    EXPECT_EQ(1u, ETWLogging::internal::LogFileSettings(folderIni(), root_ + L"log.ini").readLastLogIdx());
    waitFor(L"writer \u03a92 line 999 end");
    waitFor(L"writer \u00fc1 line 999 end");
    ::Sleep(500); // a repeat would come now
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(follower.get(), 0)) << "the follower stopped by itself";
    ::TerminateProcess(follower.get(), 0);
    ::WaitForSingleObject(follower.get(), 10000);
    output.reset();

    expectEveryLineOnceInOrder(records(printed()), {L"0", L"\u00fc1", L"\u03a92"}, 1000);
}

} // namespace
