// The message-name pattern answers exactly what std::wregex with regex_match
// answers, on the patterns peers and the settings client subscribe with.

#include "message/NamePattern.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

TEST(NamePattern, MatchesWholeNamesExactlyAsTheStandardMatcher)
{
    const std::vector<std::wstring> patterns = {
        // The settings client's prefix patterns, escaped and as specified.
        L"^SettingsManager.Notify.Set.Core\\.Update\\..*", L"^SettingsManager.Notify.Delete.Core\\.Update\\..*",
        L"^SettingsManager.Notify.Set.Core.Update..*", L"^SettingsManager.Notify.Set.a\\.\\(x\\)\\*.*",
        L"^SettingsManager.Notify.Set..*",
        // Fixed names, escapes and anchors.
        L"Core\\.Update\\.RunUpdate", L"Core.Update.RunUpdate", L"^Core\\.Update\\.RunUpdate$", L"Core\\.Update",
        L"Core\\.Update\\.(State|UpdateProgress)", L"Core\\.Update\\.(?:Refresh)?State", L"Core\\.Update\\.[A-Z]\\w+",
        L"Core\\.[^.]+\\.RunUpdate", L"Core\\.Update\\.Run\\w{3,6}", L"Core\\.Update\\.Run.{2}date",
        L"\\w+(\\.\\w+)*", L".*Update.*", L".+", L".*", L"", L"a|", L"(a*)*b", L"Core\\.\\bUpdate\\b\\..*",
        L"Core\\.\\BUpdate.*", L"[\\w.]+", L"[^\\s]+", L"\\d+", L"\\x43ore.*", L"\\u0043ore.*", L"Co?re\\..*",
        L"C[a-z]{2,}e\\.Update\\..+?", L"(Core|Settings)Manager.*", L"$^", L"Core\\.Update\\.RunUpdate$x",
        L"[-a.]+", L"[a-]+", L"[\\]]", L"\\/\\-", L"a**", L"\\q+"};
    const std::vector<std::wstring> names = {
        L"Core.Update.RunUpdate", L"Core.Update.State", L"Core.Update.UpdateProgress", L"Core.Update.RefreshState",
        L"CoreXUpdateXRunUpdate", L"Core.Update.RunUpdateX", L"xCore.Update.RunUpdate", L"Core.Update",
        L"SettingsManager.Notify.Set.Core.Update.UpdateResults", L"SettingsManager.Notify.Delete.Core.Update.X",
        L"SettingsManager.Notify.Set.CoreXUpdateXUpdateResults", L"SettingsManager.Notify.Set.a.(x)*b",
        L"SettingsManager.Notify.Set.a.x", L"SettingsManagerXNotify.Set.Core.Update.Y", L"", L"a", L"b", L"aab",
        L"12345", L"Core.Update.Run\nUpdate", L"Core.Update.Run\rUpdate", L"-a.-", L"]", L"/-",
        L"Core.Update.Run12date", L"Cooore.Update.RunUpdate", L"Core..RunUpdate", L"SettingsManager.x", L"qq"};
    for (const std::wstring& pattern : patterns) {
        std::wregex standard(pattern, std::regex_constants::ECMAScript | std::regex_constants::nosubs |
                                          std::regex_constants::optimize);
        Orvik::NamePattern ours;
        std::string error;
        ASSERT_TRUE(ours.assign(pattern, error)) << narrow(pattern) << ": " << error;
        for (const std::wstring& name : names)
            EXPECT_EQ(std::regex_match(name, standard), ours.matches(name))
                << "pattern " << narrow(pattern) << " name " << narrow(name);
    }
}

TEST(NamePattern, RefusesWhatTheStandardMatcherRefusesAndWhatItCannotMatchAlike)
{
    // Not patterns at all: both refuse.
    for (const std::wstring pattern : {L"[", L"(", L")", L"a{2", L"*a", L"+", L"[b-a]", L"\\", L"(?<x>a)"}) {
        bool standardRefuses = false;
        try {
            std::wregex(pattern, std::regex_constants::ECMAScript);
        } catch (const std::regex_error&) {
            standardRefuses = true;
        }
        Orvik::NamePattern ours;
        std::string error;
        EXPECT_FALSE(ours.assign(pattern, error)) << narrow(pattern);
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(ours.matches(L"a"));
        EXPECT_TRUE(standardRefuses) << narrow(pattern);
    }
    // Patterns a name subscription never needs are refused rather than guessed at.
    Orvik::NamePattern ours;
    std::string error;
    EXPECT_FALSE(ours.assign(L"(a)\\1", error));
    EXPECT_FALSE(ours.assign(L"a(?=b)", error));
    // A long name is matched without exhausting the stack.
    ASSERT_TRUE(ours.assign(L"(a|b)*c", error));
    EXPECT_TRUE(ours.matches(std::wstring(200000, L'a') + L"c"));
}

} // namespace
