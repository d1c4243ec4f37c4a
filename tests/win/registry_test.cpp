// The typed registry readers: a missing value is told from a failed read,
// a read takes only the types it names, strings of any length and strings
// stored without their terminator read whole, and the view is the one asked for.

#include "win/Registry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

using Orvik::win::RegistryKey;
using Orvik::win::RegistryView;

// A fresh key under HKCU (or HKLM in a given view), deleted with everything in it.
class ScratchKey {
public:
    explicit ScratchKey(HKEY root = HKEY_CURRENT_USER, REGSAM view = 0)
        : root_(root), view_(view), path_(L"Software\\UmRegistryTest\\" + std::to_wstring(::GetCurrentProcessId()))
    {
        EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_,
                                                   nullptr, &key_, nullptr));
    }
    ~ScratchKey()
    {
        ::RegCloseKey(key_);
        ::RegDeleteKeyExW(root_, path_.c_str(), view_, 0);
        ::RegDeleteKeyExW(root_, L"Software\\UmRegistryTest", view_, 0);  // fails while others use it
    }

    void set(const wchar_t* name, DWORD type, const void* data, std::size_t bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data),
                                                  static_cast<DWORD>(bytes)));
    }
    void setString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
    {
        set(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }

    const std::wstring& path() const { return path_; }
    RegistryKey open(RegistryView view = RegistryView::Native) const { return RegistryKey::open(root_, path_, view); }

private:
    HKEY root_;
    REGSAM view_;
    std::wstring path_;
    HKEY key_ = nullptr;
};

TEST(Registry, AbsentIsToldFromFailedAndOnlyTheNamedTypesAreRead)
{
    ScratchKey scratch;
    const DWORD number = 42;
    scratch.set(L"Number", REG_DWORD, &number, sizeof(number));
    scratch.setString(L"Text", L"hello");
    const WORD shortNumber = 7;
    scratch.set(L"Short", REG_DWORD, &shortNumber, sizeof(shortNumber));

    const RegistryKey missingKey =
        RegistryKey::open(HKEY_CURRENT_USER, scratch.path() + L"\\none", RegistryView::Native);
    EXPECT_FALSE(missingKey);
    EXPECT_TRUE(missingKey.absent());
    EXPECT_TRUE(missingKey.readString(L"Text").absent());

    const RegistryKey key = scratch.open();
    ASSERT_TRUE(key);
    const auto present = key.readDword(L"Number");
    EXPECT_TRUE(present.ok());
    EXPECT_EQ(42u, present.value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), present.type);

    const auto missing = key.readDword(L"Nothing");
    EXPECT_TRUE(missing.absent());
    EXPECT_FALSE(missing.failed());

    // A value of the wrong type is refused, not reinterpreted, and keeps its code.
    const auto stringAsNumber = key.readDword(L"Text");
    EXPECT_TRUE(stringAsNumber.failed());
    EXPECT_EQ(0u, stringAsNumber.value);
    const auto numberAsString = key.readString(L"Number");
    EXPECT_TRUE(numberAsString.failed());
    EXPECT_NE(ERROR_SUCCESS, numberAsString.status);
    EXPECT_TRUE(numberAsString.value.empty());
    EXPECT_TRUE(key.readString(L"Text", RRF_RT_REG_EXPAND_SZ).failed());
    // A REG_DWORD that is not four bytes long is no number.
    EXPECT_TRUE(key.readDword(L"Short").failed());
}

TEST(Registry, StringsReadWholeWhateverTheirLengthOrTerminator)
{
    ScratchKey scratch;
    const std::wstring longText(3000, L'x');
    scratch.setString(L"Long", longText);
    const std::wstring bare = L"no terminator";
    scratch.set(L"Bare", REG_SZ, bare.data(), bare.size() * sizeof(wchar_t));
    scratch.setString(L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    const wchar_t cut[] = L"first\0second";
    scratch.set(L"Cut", REG_SZ, cut, sizeof(cut));
    const BYTE bytes[] = {0x00, 0x01, 0xFE, 0xFF};
    scratch.set(L"Bytes", REG_BINARY, bytes, sizeof(bytes));

    const RegistryKey key = scratch.open();
    ASSERT_TRUE(key);
    EXPECT_EQ(longText, key.readString(L"Long").value);
    const auto read = key.readString(L"Bare");
    EXPECT_TRUE(read.ok());
    EXPECT_EQ(bare, read.value);
    // Expansion is the caller's business: the stored text and its type come back.
    const auto expand = key.readString(L"Expand");
    EXPECT_EQ(L"%SystemRoot%\\x", expand.value);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), expand.type);
    EXPECT_EQ(L"first", key.readString(L"Cut").value);

    const auto raw = key.readBytes(L"Bytes");
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + sizeof(bytes)), raw.value);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), raw.type);
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + sizeof(bytes)), Orvik::win::readBytes(key.get(), "Bytes").value);
}

TEST(Registry, AKeyIsOpenedInTheViewAskedFor)
{
    ScratchKey scratch(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    scratch.setString(L"Where", L"32-bit view");

    EXPECT_EQ(L"32-bit view", scratch.open(RegistryView::Bit32).readString(L"Where").value);
    EXPECT_TRUE(scratch.open(RegistryView::Bit64).absent());
}

} // namespace
