// Drives the built DLL only through its exports, as the Tessel host does.
#include "ModuleLibrary.h"

#include <gtest/gtest.h>

#include <vector>

using testsupport::ModuleLibrary;

namespace {

std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}

TEST(ModuleLibrary, ExportsExactlyTheFourFrameworkEntries)
{
    ModuleLibrary library;
    ASSERT_NE(nullptr, library.handle()) << GetLastError();
    auto versionNum = library.get<std::uint32_t (*)()>("GetVersionNum");
    auto versionStr = library.get<const char* (*)()>("GetVersionStr");
    auto release = library.get<void (*)()>("ReleaseObject");
    ASSERT_NE(nullptr, versionNum);
    ASSERT_NE(nullptr, versionStr);
    ASSERT_NE(nullptr, release);
    EXPECT_EQ(2001000u, versionNum());
    EXPECT_STREQ("2.1.0", versionStr());
    release();
    EXPECT_EQ(library.entries(), library.entries());
    // Internal names stay internal.
    EXPECT_EQ(nullptr, library.get<void*>("NewModule"));
    EXPECT_EQ(nullptr, library.get<void*>("_ZN5Orvik12createModuleEPPNS_6ModuleE"));
}

TEST(ModuleLibrary, CarriesVersionResource210)
{
    const std::wstring path = testsupport::buildFolder() + L"UpdateModule.dll";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(MAKELONG(1, 2), info->dwFileVersionMS);
    EXPECT_EQ(0u, info->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(1, 2), info->dwProductVersionMS);
    EXPECT_EQ(0u, info->dwProductVersionLS);
}

TEST(ModuleLibrary, WalksAModuleThroughItsLifecycle)
{
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);

    Orvik::ModuleHandle handle = nullptr;
    ASSERT_EQ(0u, t->newModule(&handle, L"UpdateModule"));
    ASSERT_NE(nullptr, handle);
    // Without a bus the second-version initialisation is refused through the barrier.
    const wchar_t* names[] = {L"Option", L"Option"};
    const wchar_t* values[] = {L"first", L"second"};
    EXPECT_EQ(0x8000000Fu, t->initializeModuleV2(handle, L"UpdateModule", L"", 2, names, values, nullptr,
                                                  &acceptUnload, nullptr, nullptr));
    EXPECT_EQ(0u, t->stopModule(handle));
    EXPECT_EQ(0u, t->destroyModule(handle));

    EXPECT_EQ(0x80000008u, t->startModule(nullptr));
    EXPECT_EQ(0x80000008u, t->newModule(nullptr, L"UpdateModule"));
}

TEST(ModuleLibrary, ManyModulesFromOneLoadAreIndependent)
{
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);
    Orvik::ModuleHandle a = nullptr;
    Orvik::ModuleHandle b = nullptr;
    ASSERT_EQ(0u, t->newModule(&a, nullptr));
    ASSERT_EQ(0u, t->newModule(&b, nullptr));
    EXPECT_NE(a, b);
    EXPECT_NE(a->module, b->module);
    EXPECT_EQ(0u, t->destroyModule(a));
    // The other module still answers: its settings client binds the broker
    // beside the tests, and with no settings service start falls back to "no action".
    EXPECT_EQ(0u, t->startModule(b));
    EXPECT_EQ(0u, t->destroyModule(b));
}

} // namespace
