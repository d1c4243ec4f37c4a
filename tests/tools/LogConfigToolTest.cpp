// The administrators' tool writes what the module reads: each change is read
// back through the module's own readers. HKEY_LOCAL_MACHINE is redirected to a
// scratch key of this process, so the prefix's real configuration is untouched.

#include "LogConfigTool.h"
#include "ScratchFolder.h"

#include "Logging/LoggingNames.h"
#include "registry/CObfuscatedIniReader.h"
#include "registry/CRegKey.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace names = ETWLogging::names;
using Orvik::tools::LogConfigTool;

namespace {

class LogConfigToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratchKey_ = L"Software\\UmToolTest\\" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, scratchKey_.c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, scratch_.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_.get()));

        programDataFolder_ = std::make_unique<testsupport::ScratchFolder>(L"UmToolTest");
        programData_ = programDataFolder_->path();
    }
    void TearDown() override
    {
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        scratch_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchKey_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, scratchKey_.c_str());
        programDataFolder_.reset();
    }

    int run(std::vector<std::wstring> arguments)
    {
        output_.clear();
        LogConfigTool tool([this](const std::wstring& line) { output_ += line + L"\n"; }, programData_);
        return tool.run(arguments);
    }
    std::wstring rootIni() const { return programData_ + L"\\Corvane\\ZULOGS\\log.ini"; }
    std::wstring folderIni() const { return programData_ + L"\\Corvane\\ZULOGS\\UpdateModule\\host\\log.ini"; }

    // A log.ini value as the file back end reads it: strict, scrambled only.
    bool moduleReads(const std::wstring& path, const wchar_t* key, DWORD& value)
    {
        Basalt::CObfuscatedIniReader ini(true);
        ini.LoadFile(path);
        return ini.ReadDWORD(names::kIniSection, key, value);
    }

    std::wstring scratchKey_;
    Orvik::win::UniqueRegKey scratch_;
    std::unique_ptr<testsupport::ScratchFolder> programDataFolder_;
    std::wstring programData_;
    std::wstring output_;
};

TEST_F(LogConfigToolTest, BackEndChoiceIsReadThroughTheScrambledKey)
{
    for (const auto& [word, expected] : {std::pair{L"file", names::kMechanismFile}, std::pair{L"trace", 0ul}}) {
        ASSERT_EQ(0, run({L"backend", word})) << output_;
        Basalt::CObfuscatedRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, names::kLoggingKey, KEY_READ));
        DWORD mechanism = 99;
        ASSERT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(names::kLoggingMechanismValue, mechanism));
        EXPECT_EQ(expected, mechanism);
    }
    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, run({L"backend", L"files"}));
}

TEST_F(LogConfigToolTest, IniValuesReachTheFileTheModuleReads)
{
    ASSERT_EQ(0, run({L"ini", L"set", L"MaxSize", L"1048576"})) << output_;
    ASSERT_EQ(0, run({L"ini", L"set", L"Severity", L"0", L"--group", L"UpdateModule", L"--process", L"host"}));
    DWORD value = 0;
    ASSERT_TRUE(moduleReads(rootIni(), names::kIniMaxSize, value));
    EXPECT_EQ(1048576u, value);
    ASSERT_TRUE(moduleReads(folderIni(), names::kIniSeverity, value));
    EXPECT_EQ(0u, value);

    // A value the module would throw away is refused and the file keeps its value.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, run({L"ini", L"set", L"MaxSize", L"100000"}));
    ASSERT_TRUE(moduleReads(rootIni(), names::kIniMaxSize, value));
    EXPECT_EQ(1048576u, value);
    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, run({L"ini", L"set", L"MaxSize", L"-5"}));
    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, run({L"ini", L"set", L"Colour", L"1"}));

    ASSERT_EQ(0, run({L"ini", L"reset", L"MaxSize"}));
    EXPECT_FALSE(moduleReads(rootIni(), names::kIniMaxSize, value));
}

TEST_F(LogConfigToolTest, DecodeTellsScrambledFromPlainAndDamagedValues)
{
    ASSERT_EQ(0, run({L"ini", L"set", L"Options", L"60"}));
    {
        const std::wstring path = rootIni();
        std::ofstream file(std::string(path.begin(), path.end()), std::ios::app | std::ios::binary);
        // A typed-in value, and one whose checksum holds but whose blob does not.
        file << "Severity=1\r\nMaxEntries=0101\r\n";
    }
    ASSERT_EQ(0, run({L"decode", L"ini", rootIni()}));
    EXPECT_NE(std::wstring::npos, output_.find(L"[Config] Options = 60 (DWORD)")) << output_;
    EXPECT_NE(std::wstring::npos, output_.find(L"Severity = \"1\" <plain text")) << output_;
    EXPECT_NE(std::wstring::npos, output_.find(L"MaxEntries = <damaged")) << output_;
}

TEST_F(LogConfigToolTest, OverridesArePlainDwordsOnTheProviderKeys)
{
    ASSERT_EQ(0, run({L"override", L"set", L"Severity", L"2", L"--group", L"UpdateModule", L"--module",
                      L"UpdateModule"}));
    Basalt::CRegKey key;
    const std::wstring path = std::wstring(names::kDefaultProviderKey) + L"\\UpdateModule\\UpdateModule";
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ));
    DWORD severity = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(names::kSeverityValue, severity));
    EXPECT_EQ(2u, severity);

    ASSERT_EQ(0, run({L"show", L"--group", L"UpdateModule", L"--module", L"UpdateModule"}));
    EXPECT_NE(std::wstring::npos, output_.find(L"\\UpdateModule\\UpdateModule: Enable=(not set) Severity=2"))
        << output_;

    ASSERT_EQ(0, run({L"override", L"reset", L"Severity", L"--group", L"UpdateModule", L"--module",
                      L"UpdateModule"}));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryDWORDValue(names::kSeverityValue, severity));
}

// show answers what a process would use, and only looks: an invalid value
// stays in its file for the module to repair.
TEST_F(LogConfigToolTest, ShowReportsTheValuesInEffectWithoutRepairingFiles)
{
    ASSERT_EQ(0, run({L"ini", L"set", L"MaxSize", L"500000"}));
    const std::wstring folder = programData_ + names::kLogRootFolder + L"G\\P";
    ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr));
    Basalt::CObfuscatedIniReader ini(true);
    ini.LoadFile(folder + L"\\log.ini");
    ASSERT_TRUE(ini.WriteDWORD(names::kIniSection, names::kIniMaxSize, 100000));

    ASSERT_EQ(0, run({L"show", L"--group", L"G", L"--process", L"P"}));
    EXPECT_NE(std::wstring::npos, output_.find(L"in effect for G\\P: Enable=1 MaxSize=500000 MaxEntries=3")) << output_;
    EXPECT_NE(std::wstring::npos, output_.find(L"Event-trace configuration of \"QMX\"")) << output_;
    Basalt::CObfuscatedIniReader after(true);
    DWORD value = 0;
    ASSERT_TRUE(after.LoadFile(folder + L"\\log.ini"));
    ASSERT_TRUE(after.ReadDWORD(names::kIniSection, names::kIniMaxSize, value));
    EXPECT_EQ(100000u, value);
}

// What a script or an administrator reads from the tool: each file once, exit
// codes that tell a bad command line from a missing file, numbers as typed,
// and a damaged back-end choice called damaged.
TEST_F(LogConfigToolTest, ReportsAndExitCodesSayWhatIsThere)
{
    ASSERT_EQ(0, run({L"ini", L"set", L"MaxEntries", L"010"})) << output_;
    DWORD value = 0;
    ASSERT_TRUE(moduleReads(rootIni(), names::kIniMaxEntries, value));
    EXPECT_EQ(10u, value);
    ASSERT_EQ(0, run({L"ini", L"set", L"Options", L"0x3C"})) << output_;
    ASSERT_TRUE(moduleReads(rootIni(), names::kIniOptions, value));
    EXPECT_EQ(0x3Cu, value);
    for (const wchar_t* bad : {L"0x", L"1e3", L" 5", L"+5", L"4294967296", L"0x1G"})
        EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, run({L"ini", L"set", L"Options", bad})) << bad;

    ASSERT_EQ(0, run({L"show"}));
    const std::wstring listed = rootIni() + L":";
    const std::size_t first = output_.find(listed);
    ASSERT_NE(std::wstring::npos, first) << output_;
    EXPECT_EQ(std::wstring::npos, output_.find(listed, first + 1)) << output_;

    const int usage = run({L"decode", L"ini"});
    EXPECT_NE(std::wstring::npos, output_.find(L"Usage:"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, run({L"decode", L"ini", programData_ + L"\\missing.ini"})) << output_;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, run({L"decode", L"reg", L"SOFTWARE\\Nowhere", L"Value"})) << output_;
    EXPECT_NE(ERROR_FILE_NOT_FOUND, usage);
    EXPECT_EQ(ERROR_INVALID_COMMAND_LINE, usage);

    // A plain DWORD where the module reads a scrambled one.
    {
        Basalt::CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, names::kLoggingKey, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_READ | KEY_WRITE));
        ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(names::kLoggingMechanismValue, names::kMechanismFile));
    }
    ASSERT_EQ(0, run({L"show"}));
    EXPECT_NE(std::wstring::npos, output_.find(L"Back end: trace (the \"Logging Mechanism\" value is damaged")) << output_;
    EXPECT_EQ(std::wstring::npos, output_.find(L"no \"Logging Mechanism\" value")) << output_;
}

} // namespace
