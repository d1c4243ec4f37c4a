// Macro expansion: syntax corner cases, every table entry wired to its source,
// and values that are never expanded again.

#include "SystemTestSupport.h"

#include "paths/PathHelpers.h"

#include <gmock/gmock.h>

#include <map>
#include <regex>

using namespace systemtest;

namespace {

std::wstring expand(Orvik::PathHelpers& helpers, std::wstring path)
{
    EXPECT_TRUE(helpers.expandMacros(path));
    return path;
}

class FakeOSInfo : public Orvik::OSInfo {
public:
    FakeOSInfo(std::uint32_t platformClass, bool wow64) : platformClass_(platformClass), wow64_(wow64) {}
    std::uint32_t getPlatformClass() override { return platformClass_; }
    bool isWow64() override { return wow64_; }

private:
    std::uint32_t platformClass_;
    bool wow64_;
};

class FakeRegistry : public Orvik::RegistryAPI {
public:
    ModuleStatus readString(const std::wstring& key, const std::wstring& name, std::wstring& value) override
    {
        const auto found = values.find(name);
        if (key != L"SOFTWARE\\CORVANE\\TESL" || found == values.end())
            return MODULE_STATUS_UNSUCCESSFUL;
        value = found->second;
        return MODULE_STATUS_SUCCESS;
    }
    std::map<std::wstring, std::wstring> values;
};

} // namespace

TEST(PathHelpers, AppMacrosSplitTheHostExecutablePathAndOddTextStaysAsWritten)
{
    const std::wstring path = ownExecutable();
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    const std::wstring binary = path.substr(folder.size());
    const std::wstring name = binary.substr(0, binary.rfind(L'.'));
    const std::wstring longPath = L"C:\\" + std::wstring(5000, L'd') + L"\\x.dll";
    const std::wstring longMacro = L"$(" + std::wstring(200000, L'm') + L")"; // too deep for std::regex
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"$(App.Folder)BusBroker.dll", folder + L"BusBroker.dll"},
        {L"$(App.Path)", path},
        {L"$(App.Binary)|$(App.Name)", binary + L"|" + name},
        {L"$(App.Name)$(App.Name)", name + name},
        {L"C:\\Program Files\\Tessel", L"C:\\Program Files\\Tessel"},
        {L"$(NotAMacro)\\x", L"$(NotAMacro)\\x"},
        {L"$(app.name)", L"$(app.name)"},
        {L"$()$($)", L"$()$($)"},
        {L"$(App.Name", L"$(App.Name"},
        {L"$(App.$(App.Name))", L"$(App." + name + L")"},
        {L"$$(App.Name))", L"$" + name + L")"},
        {L"$((App.Name)", L"$((App.Name)"},
        {longPath + L"$(App.Name)", longPath + name},
        {longMacro, longMacro},
        {L"$(" + longPath, L"$(" + longPath},
    };
    Orvik::PathHelpers helpers;
    for (const auto& c : cases)
        EXPECT_EQ(c.second, expand(helpers, c.first)) << label(c.first);
}

// The hand-written matcher against the regular expression it stands for, on
// every text of up to seven characters over the symbols that matter.
TEST(PathHelpers, MacroMatcherAgreesWithThePattern)
{
    const std::wregex pattern(Orvik::internal::kMacroPattern, std::regex_constants::ECMAScript);
    const wchar_t symbols[] = L"$()a";
    std::size_t compared = 0;
    for (std::size_t length = 0, combinations = 1; length <= 7; ++length, combinations *= 4) {
        for (std::size_t n = 0; n < combinations; ++n, ++compared) {
            std::wstring text;
            for (std::size_t i = 0, rest = n; i < length; ++i, rest /= 4)
                text += symbols[rest % 4];
            std::wsmatch match;
            std::size_t position = 0, matched = 0;
            const bool found = Orvik::internal::findMacro(text, 0, position, matched);
            ASSERT_EQ(std::regex_search(text, match, pattern), found) << label(text);
            if (found) {
                ASSERT_EQ(static_cast<std::size_t>(match.position(0)), position) << label(text);
                ASSERT_EQ(static_cast<std::size_t>(match.length(0)), matched) << label(text);
            }
        }
    }
    EXPECT_EQ(21845u, compared);
}

TEST(PathHelpers, KnownFoldersPlatformAndInstallFolderComeFromTheirSources)
{
    const std::pair<const wchar_t*, const KNOWNFOLDERID*> folders[] = {
        {L"Profile", &FOLDERID_Profile}, {L"Desktop", &FOLDERID_Desktop}, {L"Documents", &FOLDERID_Documents},
        {L"LocalAppDataLow", &FOLDERID_LocalAppDataLow}, {L"LocalAppData", &FOLDERID_LocalAppData},
        {L"RoamingAppData", &FOLDERID_RoamingAppData}, {L"ProgramData", &FOLDERID_ProgramData},
        {L"ProgramFiles", &FOLDERID_ProgramFiles}, {L"ProgramFilesX64", &FOLDERID_ProgramFilesX64},
        {L"ProgramFilesX86", &FOLDERID_ProgramFilesX86}, {L"ProgramFilesCommon", &FOLDERID_ProgramFilesCommon},
        {L"ProgramFilesCommonX64", &FOLDERID_ProgramFilesCommonX64},
        {L"ProgramFilesCommonX86", &FOLDERID_ProgramFilesCommonX86}};
    Orvik::PathHelpers real;
    for (const auto& folder : folders) {
        const std::wstring macro = std::wstring(L"$(FOLDERID_") + folder.first + L")";
        Orvik::win::UniqueCoTaskMem<wchar_t> path;
        ASSERT_EQ(S_OK, ::SHGetKnownFolderPath(*folder.second, 0, nullptr, path.put())) << label(macro);
        EXPECT_EQ(path.get() + std::wstring(L"\\x"), expand(real, macro + L"\\x"));
    }
    EXPECT_EQ(L"C:\\ProgramData", expand(real, L"$(FOLDERID_ProgramData)"));

    auto registry = std::make_shared<FakeRegistry>();
    registry->values = {{L"Install Dir", L"C:\\Tessel"}, {L"Install Dir32", L"$(App.Name)"}};
    const struct {
        std::uint32_t platformClass;
        bool wow64;
        std::wstring expanded;
    } cases[] = {
        {0, false, L"win32|C:\\Tessel"},
        {1, false, L"x64|C:\\Tessel"},
        {2, false, L"PlatformUnknown|C:\\Tessel"},
        {7, false, L"$(OS.Platform)|C:\\Tessel"},
        {1, true, L"x64|$(App.Name)"}, // a value that looks like a macro is not expanded again
    };
    for (const auto& c : cases) {
        Orvik::PathHelpers helpers(nullptr, std::make_shared<FakeOSInfo>(c.platformClass, c.wow64), registry);
        EXPECT_EQ(c.expanded, expand(helpers, L"$(OS.Platform)|$(Tessel.InstallDir)"));
    }
    registry->values.clear();
    Orvik::PathHelpers unreadable(nullptr, std::make_shared<FakeOSInfo>(1, false), registry);
    EXPECT_EQ(L"$(Tessel.InstallDir)\\BusBroker.dll", expand(unreadable, L"$(Tessel.InstallDir)\\BusBroker.dll"));
}
