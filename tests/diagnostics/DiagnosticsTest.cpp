// The diagnostics tool on sandbox installations: a good one passes every
// check, each broken one is named with its cause, and a run writes nothing,
// not even when the machine selects the file back end.

#include "Diagnostics.h"
#include "DiagnosticsTestPaths.h"
#include "SettingsService.h"
#include "TrustTestSupport.h"

#include "Logging/LoggerTestSeam.h"
#include "Logging/LoggingNames.h"
#include "json/JSONParser.h"
#include "message/MessageBusClient.h"
#include "registry/CObfuscatedIniReader.h"
#include "registry/CRegKey.h"
#include "trust/TrustAnchors.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace names = ETWLogging::names;
using Orvik::tools::CheckResult;
using Orvik::tools::Diagnostics;
using Orvik::tools::DiagnosticsOptions;

namespace {

const std::wstring kBuild = UM_DIAG_BUILD_FOLDER;
// The sandbox agent's unsigned copy, registered under a class of its own.
constexpr CLSID kUnsignedAgentClass = {0x0c4a7e2b, 0x91d3, 0x4f6a, {0x8b, 0x25, 0x7e, 0x9d, 0x1c, 0x3f, 0x5a, 0x60}};

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

bool contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

// A host folder holding one bus library, a catalog path of its own, and a
// validator over that catalog.
class Installation {
public:
    explicit Installation(const std::wstring& busLibrary)
        : catalog_(folder_.file(L"trusted.js"), trusttest::uniqueName(L"um-diag"),
                   Orvik::trust::catalogSignerThumbprint()),
          validator_(0, {}, catalog_, Orvik::trust::builtInTrustLists())
    {
        trusttest::copyFileTo(busLibrary, folder_.file(L"BusBroker.dll"));
        options_ = Orvik::tools::defaultDiagnosticsOptions();
        options_.modulePath = kBuild + L"\\UpdateModule.dll";
        options_.hostFolder = folder_.path();
    }

    std::wstring busLibrary() const { return folder_.file(L"BusBroker.dll"); }
    void useCatalog(const std::wstring& file) { trusttest::copyFileTo(file, folder_.file(L"trusted.js")); }
    DiagnosticsOptions& options() { return options_; }
    std::vector<CheckResult> run() { return Diagnostics(options_, validator_, catalog_).runAll(); }

private:
    trusttest::TempFolder folder_;
    Orvik::trust::TrustCatalog catalog_;
    Orvik::trust::TrustValidator validator_;
    DiagnosticsOptions options_;
};

const CheckResult& find(const std::vector<CheckResult>& results, const std::wstring& name)
{
    for (const CheckResult& result : results) {
        if (result.name == name)
            return result;
    }
    static const CheckResult none;
    ADD_FAILURE() << "no check " << narrow(name);
    return none;
}

std::vector<std::wstring> problems(const std::vector<CheckResult>& results)
{
    std::vector<std::wstring> named;
    for (const CheckResult& result : results) {
        if (!result.ok)
            named.push_back(result.name);
    }
    return named;
}

std::string report(const std::vector<CheckResult>& results)
{
    std::string text;
    for (const CheckResult& result : results)
        text += narrow(Orvik::tools::formatText(result)) + "\n";
    return text;
}

// Runs the program and gives its exit code and what it printed.
DWORD runProgram(const std::wstring& arguments, std::wstring* output)
{
    trusttest::TempFolder folder;
    const std::wstring outputFile = folder.file(L"out.txt");
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Orvik::win::UniqueFile out(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::wstring commandLine = L"\"" + kBuild + L"\\tools\\ZuDiagnose.exe\" " + arguments;
    PROCESS_INFORMATION process{};
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
        if (!started && GetLastError() != 1359)
            break;
    }
    if (!started)
        return GetLastError();
    Orvik::win::UniqueKernelHandle processHandle(process.hProcess);
    Orvik::win::UniqueKernelHandle threadHandle(process.hThread);
    DWORD code = trusttest::exitCodeWithin(process.hProcess, 120000);
    out.reset();
    const std::string bytes = trusttest::readBytes(outputFile);
    output->assign(bytes.begin(), bytes.end());
    return code;
}

TEST(Diagnostics, GoodInstallationPassesEveryCheck)
{
    Installation installation(kBuild + L"\\sandbox\\BusBroker.dll");
    const std::vector<CheckResult> results = installation.run();
    ASSERT_EQ(5u, results.size());
    EXPECT_TRUE(problems(results).empty()) << report(results);
    EXPECT_TRUE(contains(find(results, L"bus").summary, L"signed by \"Orvik Corporation\"")) << report(results);
    EXPECT_TRUE(contains(find(results, L"agent").summary, L"ZuSandboxAgent.dll")) << report(results);

    // The program itself, through the process's own validator and catalog.
    std::wstring output;
    const DWORD code = runProgram(L"--json --module \"" + kBuild + L"\\UpdateModule.dll\" --host \"" + kBuild +
                                      L"\\sandbox\\SandboxHost.exe\"",
                                  &output);
    EXPECT_EQ(0u, code) << narrow(output);
    Orvik::JSONParser json;
    ASSERT_TRUE(json.parse(output)) << narrow(output);
    std::uint32_t count = 99;
    ASSERT_TRUE(json.getUInt(L"problems", count));
    EXPECT_EQ(0u, count);
    std::wstring checks;
    ASSERT_TRUE(json.getValueText(L"checks", checks));
    EXPECT_TRUE(contains(checks, L"\"bus\":{\"ok\":true")) << narrow(output);
}

TEST(Diagnostics, BrokenInstallationsNameTheirProblem)
{
    {
        Installation unsignedBus(kBuild + L"\\sandbox\\BusBrokerUnsigned.dll");
        const std::vector<CheckResult> results = unsignedBus.run();
        EXPECT_EQ(std::vector<std::wstring>{L"bus"}, problems(results)) << report(results);
        EXPECT_TRUE(contains(find(results, L"bus").summary, L"not trusted: not signed")) << report(results);
        EXPECT_FALSE(find(results, L"bus").fix.empty());
    }
    {
        Installation expired(kBuild + L"\\sandbox\\broken-install\\BusBroker.dll");
        const std::vector<CheckResult> results = expired.run();
        EXPECT_EQ(std::vector<std::wstring>{L"bus"}, problems(results)) << report(results);
        const std::wstring& summary = find(results, L"bus").summary;
        EXPECT_TRUE(contains(summary, L"has expired")) << report(results);
        EXPECT_TRUE(contains(summary, L"no time stamp")) << report(results);
    }
    {
        Installation otherAgent(kBuild + L"\\sandbox\\BusBroker.dll");
        otherAgent.options().agentClass = kUnsignedAgentClass;
        const std::vector<CheckResult> results = otherAgent.run();
        EXPECT_EQ(std::vector<std::wstring>{L"agent"}, problems(results)) << report(results);
        const std::wstring& summary = find(results, L"agent").summary;
        EXPECT_TRUE(contains(summary, L"ZuSandboxAgentUnsigned.dll, which is not trusted: not signed"))
            << report(results);
    }
    {
        // A bus library whose signer the catalog denies; the built-in lists alone would take it.
        Installation denied(trusttest::sample(L"denied-serial.dll"));
        denied.useCatalog(trusttest::sample(L"cat-v6-denied.js"));
        const std::vector<CheckResult> results = denied.run();
        EXPECT_EQ(std::vector<std::wstring>{L"bus"}, problems(results)) << report(results);
        EXPECT_TRUE(contains(find(results, L"bus").summary,
                             L"serial 0DE41ED5E41A is denied by the trust catalog (version 6)"))
            << report(results);
        EXPECT_TRUE(contains(find(results, L"catalog").summary, L"version 6, 1 denied serial")) << report(results);
    }
}

// A settings service on the broker beside the tests, which the module's
// search finds when the host is taken to be in the tests' folder.
TEST(Diagnostics, SettingsServiceIsAskedOverTheVerifiedBusLibrary)
{
    auto serviceBus = std::make_shared<Orvik::MessageBusClient>();
    sandbox::SettingsService service(serviceBus, L"");
    ASSERT_TRUE(service.listening());
    Installation beside(kBuild + L"\\tests\\BusBroker.dll");
    beside.options().hostFolder = kBuild + L"\\tests";
    beside.options().checkSettings = true;
    beside.options().settingsTimeLimitMs = 2000;
    std::vector<CheckResult> results = beside.run();
    ASSERT_EQ(6u, results.size());
    EXPECT_TRUE(find(results, L"settings").ok) << report(results);

    service.setBehaviour(sandbox::SettingsService::Behaviour::Silent);
    results = beside.run();
    EXPECT_EQ(std::vector<std::wstring>{L"settings"}, problems(results)) << report(results);
    EXPECT_TRUE(contains(find(results, L"settings").summary, L"within 2000 ms")) << report(results);

    // An unsigned bus library is never loaded for the question.
    Installation unsignedBus(kBuild + L"\\sandbox\\BusBrokerUnsigned.dll");
    unsignedBus.options().checkSettings = true;
    results = unsignedBus.run();
    EXPECT_EQ((std::vector<std::wstring>{L"bus", L"settings"}), problems(results)) << report(results);
    EXPECT_TRUE(contains(find(results, L"settings").summary, L"cannot bind the bus library")) << report(results);
    EXPECT_EQ(nullptr, GetModuleHandleW(unsignedBus.busLibrary().c_str()));
}

// --- writes nothing ------------------------------------------------------------

struct FindTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) noexcept { FindClose(handle); }
};

// Every file and folder below `folder`: path, size and last write time.
void listFiles(const std::wstring& folder, std::map<std::wstring, std::wstring>& listing)
{
    WIN32_FIND_DATAW entry{};
    Orvik::win::UniqueHandle<FindTraits> find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find)
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        listing[path] = std::to_wstring(entry.nFileSizeLow) + L"@" + std::to_wstring(entry.ftLastWriteTime.dwLowDateTime) +
                        L"." + std::to_wstring(entry.ftLastWriteTime.dwHighDateTime);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            listFiles(path, listing);
    } while (FindNextFileW(find.get(), &entry));
}

// Every sub-key and value below HKLM\`path` (64-bit view), data included.
void listKeys(const std::wstring& path, std::map<std::wstring, std::wstring>& listing)
{
    Orvik::win::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return;
    listing[path] = L"key";
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        BYTE data[8192];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::wstring text = std::to_wstring(type) + L":";
        for (DWORD i = 0; i < size; ++i)
            text += std::to_wstring(data[i]) + L",";
        listing[path + L" \"" + name + L"\""] = text;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        listKeys(path + L"\\" + name, listing);
    }
}

std::map<std::wstring, std::wstring> whatTheModuleUses(const std::wstring& programData)
{
    std::map<std::wstring, std::wstring> listing;
    for (const wchar_t* key : {L"SOFTWARE\\Corvane", L"SOFTWARE\\Corvane.logging", L"SOFTWARE\\CORVANE\\TESL",
                               L"SOFTWARE\\Classes\\CLSID\\{6E1F3C52-8B7A-4D2E-9F31-2C4B5A6D7E81}"})
        listKeys(key, listing);
    listFiles(programData + L"\\Corvane", listing);
    const std::wstring catalog = Orvik::trust::TrustCatalog::defaultPath();
    listFiles(catalog.substr(0, catalog.find_last_of(L'\\')), listing);
    listFiles(kBuild + L"\\sandbox\\broken-install", listing);
    return listing;
}

// The machine selects the file back end, and this process's log folder lets
// every level through: any record the tool's run let reach the back end
// would leave a log file.
class FileBackEndSelected {
public:
    FileBackEndSelected()
    {
        wchar_t data[MAX_PATH] = {};
        GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
        programData_ = data;
        Basalt::CObfuscatedRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, names::kLoggingKey, KEY_READ) == ERROR_SUCCESS)
            hadValue_ = key.QueryDWORDValue(names::kLoggingMechanismValue, previous_) == ERROR_SUCCESS;
        key.Close();
        selected_ = key.Create(HKEY_LOCAL_MACHINE, names::kLoggingKey, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_READ | KEY_WRITE) == ERROR_SUCCESS &&
                    key.SetDWORDValue(names::kLoggingMechanismValue, names::kMechanismFile) == ERROR_SUCCESS;
        logFolder_ = programData_ + names::kLogRootFolder +
                     ETWLogging::testing::identityGroupNameForTesting() + L"\\test_diagnostics";
        SHCreateDirectory(logFolder_);
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(logFolder_ + L"\\" + names::kIniFileName);
        everyLevel_ = ini.WriteDWORD(names::kIniSection, names::kIniSeverity, 0);
        // The next log call of this process builds the back end the machine selects.
        ETWLogging::testing::resetLoggerForTesting(nullptr);
    }
    ~FileBackEndSelected()
    {
        Basalt::CObfuscatedRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, names::kLoggingKey, KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
            if (hadValue_)
                key.SetDWORDValue(names::kLoggingMechanismValue, previous_);
            else
                key.DeleteValue(names::kLoggingMechanismValue);
        }
        ETWLogging::testing::resetLoggerForTesting(nullptr);
        std::map<std::wstring, std::wstring> left;
        listFiles(logFolder_, left);
        for (const auto& entry : left)
            DeleteFileW(entry.first.c_str());
        RemoveDirectoryW(logFolder_.c_str());
    }
    bool ready() const { return selected_ && everyLevel_; }
    const std::wstring& programData() const { return programData_; }
    const std::wstring& logFolder() const { return logFolder_; }

private:
    static void SHCreateDirectory(const std::wstring& folder)
    {
        for (std::size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1))
            CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
    }

    std::wstring programData_;
    std::wstring logFolder_;
    DWORD previous_ = 0;
    bool hadValue_ = false;
    bool selected_ = false;
    bool everyLevel_ = false;
};

TEST(Diagnostics, RunWritesNothingEvenWithTheFileBackEnd)
{
    FileBackEndSelected fileBackEnd;
    ASSERT_TRUE(fileBackEnd.ready());
    const std::map<std::wstring, std::wstring> before = whatTheModuleUses(fileBackEnd.programData());

    std::vector<std::wstring> lines;
    const int code = Orvik::tools::runDiagnose(
        {L"--module", kBuild + L"\\UpdateModule.dll", L"--host", kBuild + L"\\sandbox\\broken-install",
         L"--process", L"test_diagnostics"},
        [&lines](const std::wstring& line) { lines.push_back(line); });

    EXPECT_EQ(1, code);
    ASSERT_EQ(5u, lines.size());
    EXPECT_TRUE(contains(lines[4], L"file back end: the module writes to")) << narrow(lines[4]);
    const std::map<std::wstring, std::wstring> after = whatTheModuleUses(fileBackEnd.programData());
    EXPECT_EQ(before, after);
    std::map<std::wstring, std::wstring> logFolder;
    listFiles(fileBackEnd.logFolder(), logFolder);
    EXPECT_EQ(1u, logFolder.size()) << "only log.ini: " << logFolder.size() << " entries";
}

} // namespace
