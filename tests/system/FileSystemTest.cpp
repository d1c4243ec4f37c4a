// The text-file, registry and version-resource wrappers on real files and keys.

#include "SystemTestSupport.h"

#include "wrappers/FileVersionInfo.h"
#include "wrappers/PathAPI.h"
#include "wrappers/RegistryAPI.h"

#include <gmock/gmock.h>

using namespace systemtest;

TEST(PathAPI, TextFilesRoundTripAsUtf8AndBadFilesAreRefused)
{
    const TempFolder temp;
    Orvik::PathAPI api;
    const std::wstring text = L"line\r\nZ\u00fcrich \u20ac \U0001F600";
    std::wstring read;
    ASSERT_TRUE(api.writeTextFile(temp.file(L"text.txt"), text));
    ASSERT_TRUE(api.readTextFile(temp.file(L"text.txt"), read));
    EXPECT_EQ(text, read);
    read = L"kept";
    for (const std::wstring& bad : {temp.path(), temp.write(L"bad.txt", "\xff\xfe\xfd"), temp.file(L"none")})
        EXPECT_FALSE(api.readTextFile(bad, read)) << label(bad);
    EXPECT_EQ(L"kept", read);
    EXPECT_FALSE(api.writeTextFile(temp.file(std::wstring(300, L'z')), text));
}

TEST(RegistryAPI, ReadsOnlyValuesOfTheRightTypeAndSize)
{
    const std::wstring path = L"SOFTWARE\\UpdateModuleTests\\System" + std::to_wstring(::GetCurrentProcessId());
    Orvik::win::UniqueRegKey key;
    ASSERT_EQ(0, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   key.put(), nullptr));
    const auto set = [&](const wchar_t* name, DWORD type, const void* data, std::size_t bytes) {
        ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
    };
    const std::wstring longest(260, L'a'), tooLong(261, L'a'), none = L"untouched";
    const DWORD number = 0xC0FFEE;
    const ULONGLONG wide = 7;
    set(L"longest", REG_SZ, longest.c_str(), (longest.size() + 1) * 2);
    set(L"too long", REG_SZ, tooLong.c_str(), (tooLong.size() + 1) * 2);
    set(L"expand", REG_EXPAND_SZ, L"%ProgramFiles%", 30);
    set(L"unterminated", REG_SZ, L"abc", 6);
    set(L"number", REG_DWORD, &number, sizeof(number));
    set(L"qword", REG_QWORD, &wide, sizeof(wide));
    const struct {
        const wchar_t* name;
        std::wstring text; // `none`: not readable as a string
        bool isNumber;
    } cases[] = {{L"longest", longest, false}, {L"too long", none, false}, {L"expand", L"%ProgramFiles%", false},
                 {L"unterminated", L"abc", false}, {L"number", none, true}, {L"qword", none, false},
                 {L"missing", none, false}};
    Orvik::RegistryAPI api;
    for (const auto& c : cases) {
        std::wstring text = none;
        DWORD value = 1;
        EXPECT_EQ(c.text != none ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL, api.readString(path, c.name, text))
            << label(c.name);
        EXPECT_EQ(c.text, text);
        EXPECT_EQ(c.isNumber ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL, api.readNumber(path, c.name, value));
        EXPECT_EQ(c.isNumber ? number : 1u, value);
    }
    key.reset();
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

TEST(FileVersionInfo, ReadsStringsKeepsTheFirstFileAndRefusesBadFiles)
{
    Basalt::FileVersionInfo info;
    ASSERT_TRUE(info.load(UM_MODULE_DLL));
    EXPECT_EQ(L"2.1.0", info.value(Basalt::FileVersionInfo::kFileVersion));
    EXPECT_EQ(L"", info.value(std::wstring(400, L'k')));
    EXPECT_FALSE(info.load(sandboxFile(L"ZuSandboxAgent.dll")));
    EXPECT_EQ(L"Corvane", info.value(Basalt::FileVersionInfo::kCompanyName));

    const TempFolder temp;
    for (const std::wstring& bad : {temp.write(L"zero.dll", ""), temp.path(), temp.file(std::wstring(300, L'v'))})
        EXPECT_FALSE(Basalt::FileVersionInfo().load(bad)) << label(bad);

    // Read through a held file, the resource says the same; a file that is
    // not an image, or a truncated one, has none.
    Basalt::FileVersionInfo held;
    ASSERT_TRUE(held.load(Orvik::win::HeldFile(UM_MODULE_DLL)));
    EXPECT_EQ(L"2.1.0", held.value(Basalt::FileVersionInfo::kFileVersion));
    EXPECT_EQ(L"Corvane", held.value(Basalt::FileVersionInfo::kCompanyName));
    std::string head(4096, '\0');
    {
        HANDLE module = ::CreateFileW(UM_MODULE_DLL, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD read = 0;
        ::ReadFile(module, &head[0], static_cast<DWORD>(head.size()), &read, nullptr);
        ::CloseHandle(module);
    }
    for (const std::wstring& bad : {temp.write(L"text.dll", "MZ but nothing else"), temp.write(L"cut.dll", head)})
        EXPECT_FALSE(Basalt::FileVersionInfo().load(Orvik::win::HeldFile(bad))) << label(bad);
}
