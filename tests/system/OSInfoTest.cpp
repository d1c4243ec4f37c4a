// OS information: the version read from kernel32's version resource, the
// platform tests asked of the system, and the mapping to releases and classes.

#include "wrappers/OSInfoProxy.h"

#include <gmock/gmock.h>

namespace {

// Answers version tests as a system of the given platform and minor version would.
class FakeVersionTest : public Basalt::WinOSVersionAPI {
public:
    FakeVersionTest(DWORD platform, DWORD minor) : platform_(platform), minor_(minor) {}
    BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG) override
    {
        ++calls;
        return (!(typeMask & VER_PLATFORMID) || info->dwPlatformId == platform_) &&
               (!(typeMask & VER_MINORVERSION) || minor_ >= info->dwMinorVersion);
    }
    int calls = 0;

private:
    DWORD platform_, minor_;
};

class FakeVersionResource : public Basalt::FileVersionInfo {
public:
    explicit FakeVersionResource(std::wstring version) : version_(std::move(version)) {}
    bool load(const std::wstring& name) override { return (loaded = name) == L"kernel32.dll"; }
    std::wstring value(const std::wstring& key) override { return key == kProductVersion ? version_ : L""; }
    std::wstring loaded;

private:
    std::wstring version_;
};

using Proxy = Basalt::internal::OSInfoProxy<Basalt::WinOSVersionAPI>;

} // namespace

TEST(OSInfoProxy, VersionFromKernel32MapsToReleaseAndClassOnce)
{
    // Windows 9x tells its minor version only through version tests.
    const struct {
        const wchar_t* productVersion;
        DWORD platform, minor;
        std::uint32_t release, platformClass;
        bool version;
        std::vector<std::uint32_t> numbers; // empty: not obtained
    } cases[] = {
        {L"3.51", VER_PLATFORM_WIN32_NT, 0, 3, 0, true, {3, 51, 0, 0}},
        {L"4.0", VER_PLATFORM_WIN32_NT, 0, 3, 0, true, {4, 0, 0, 0}},
        {L"5.0.2195", VER_PLATFORM_WIN32_NT, 0, 4, 0, true, {5, 0, 2195, 0}},
        {L"5.1.2600", VER_PLATFORM_WIN32_NT, 0, 6, 1, true, {5, 1, 2600, 0}},
        {L"5.2", VER_PLATFORM_WIN32_NT, 0, 6, 1, true, {5, 2, 0, 0}},
        {L"6.0.6002", VER_PLATFORM_WIN32_NT, 0, 7, 1, true, {6, 0, 6002, 0}},
        {L"6.1.7601.17514", VER_PLATFORM_WIN32_NT, 0, 8, 1, true, {6, 1, 7601, 17514}},
        {L"6.2.9200", VER_PLATFORM_WIN32_NT, 0, 9, 1, true, {6, 2, 9200, 0}},
        {L"6.4", VER_PLATFORM_WIN32_NT, 0, 10, 1, true, {6, 4, 0, 0}},
        {L"10.0.19041.1 (WinBuild.160101.0800)", VER_PLATFORM_WIN32_NT, 0, 11, 1, true, {10, 0, 19041, 1}},
        {L"6.3", VER_PLATFORM_WIN32_NT, 0, 10, 1, true, {6, 3, 0, 0}},
        {L"8.0.1.2", VER_PLATFORM_WIN32_NT, 0, 12, 1, false, {8, 0, 1, 2}},
        {L"11.0", VER_PLATFORM_WIN32_NT, 0, 12, 1, false, {11, 0, 0, 0}},
        {L"", VER_PLATFORM_WIN32_NT, 0, 0, 2, false, {}},
        {L"not a version", VER_PLATFORM_WIN32_NT, 0, 0, 2, false, {}},
        {L"4.0.950", VER_PLATFORM_WIN32_WINDOWS, 0, 1, 0, true, {4, 0, 950, 0}},
        {L"4.0.1998", VER_PLATFORM_WIN32_WINDOWS, 10, 2, 0, true, {4, 10, 1998, 0}},
        {L"4.0.3000", VER_PLATFORM_WIN32_WINDOWS, 90, 5, 0, true, {4, 90, 3000, 0}},
        {L"4.0", VER_PLATFORM_WIN32_WINDOWS, 100, 5, 0, true, {4, 100, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.productVersion, c.productVersion + wcslen(c.productVersion)));
        auto api = std::make_shared<FakeVersionTest>(c.platform, c.minor);
        auto resource = std::make_shared<FakeVersionResource>(c.productVersion);
        Proxy proxy(api, resource);
        EXPECT_EQ(c.release, proxy.getReleaseId());
        EXPECT_EQ(L"kernel32.dll", resource->loaded);
        const int calls = api->calls;
        EXPECT_EQ(c.platformClass, proxy.getPlatformClass());
        std::uint32_t major = 0, minor = 0, n[4] = {};
        EXPECT_EQ(c.version, proxy.getVersion(major, minor));
        EXPECT_EQ(!c.numbers.empty(), proxy.getFullVersion(n[0], n[1], n[2], n[3]));
        if (!c.numbers.empty()) {
            EXPECT_THAT(n, ::testing::ElementsAreArray(c.numbers));
        }
        EXPECT_EQ(calls, api->calls);
    }

    Proxy real;
    std::uint32_t major = 0, minor = 0;
    ASSERT_TRUE(real.getVersion(major, minor));
    EXPECT_GE(major, 5u);
    EXPECT_TRUE(real.isNTPlatform());
    EXPECT_FALSE(real.isWow64());
    EXPECT_EQ(1u, real.getPlatformClass());
}
