#pragma once
// A fresh key under HKCU per test and a temp folder per test, both removed afterwards.

#include "ScratchFolder.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace RegistryTest {

using Bytes = std::vector<BYTE>;

class TestKey : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name)
            c = c == '/' ? '_' : c;
        path_ = parent() + L"\\" + std::wstring(name.begin(), name.end());
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, root_.put(), nullptr));
    }
    void TearDown() override
    {
        root_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, parent().c_str()); // each only once empty
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\UmRegistryTest");
    }
    static std::wstring parent() { return L"Software\\UmRegistryTest\\" + std::to_wstring(::GetCurrentProcessId()); }

    LONG rawSet(const wchar_t* name, DWORD type, const Bytes& data)
    {
        return ::RegSetValueExW(root_.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    Bytes rawGet(const wchar_t* name, DWORD& type)
    {
        DWORD size = 0;
        ::RegQueryValueExW(root_.get(), name, nullptr, &type, nullptr, &size);
        Bytes data(size);
        ::RegQueryValueExW(root_.get(), name, nullptr, &type, data.data(), &size);
        return data;
    }
    bool keyExists(const wchar_t* sub)
    {
        Orvik::win::UniqueRegKey key;
        return ::RegOpenKeyExW(root_.get(), sub, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

    std::wstring path_;
    Orvik::win::UniqueRegKey root_;
};

// A scratch folder, removed with its content.
class TempFolder : public testsupport::ScratchFolder {
public:
    TempFolder() : ScratchFolder(L"um-registry-") {}
};

} // namespace RegistryTest
