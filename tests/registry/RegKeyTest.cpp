// CRegKey and the scrambled key against the real registry of the test prefix.

#include "RegistryTestSupport.h"

#include "registry/CRegKey.h"
#include "registry/ScrambledForm.h"

#include <algorithm>
#include <functional>
#include <memory>

using namespace RegistryTest;
using Basalt::CObfuscatedRegKey;
using Basalt::CRegKey;

namespace {

Bytes wideBytes(const std::wstring& text) // text.size() counts every terminator wanted
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.data());
    return Bytes(begin, begin + text.size() * sizeof(wchar_t));
}

const GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

enum class Read { DWord, QWord, String, StringBuffer, Multi, Guid, Binary };

// One typed read; a refused GUID read must leave the GUID zeroed.
LONG readAs(CRegKey& key, Read read, const wchar_t* name)
{
    DWORD dword = 0;
    ULONGLONG qword = 0;
    std::wstring text;
    GUID guid = kGuid;
    wchar_t buffer[256];
    ULONG size = 256;
    switch (read) {
    case Read::DWord: return key.QueryDWORDValue(name, dword);
    case Read::QWord: return key.QueryQWORDValue(name, qword);
    case Read::String: return key.QueryStringValue(name, text);
    case Read::StringBuffer: return key.QueryStringValue(name, buffer, &size);
    case Read::Multi: return key.QueryMultiStringValue(name, buffer, &size);
    case Read::Binary: return key.QueryBinaryValue(name, buffer, &size);
    case Read::Guid: {
        const LONG result = key.QueryGUIDValue(name, guid);
        return result != ERROR_SUCCESS && guid != GUID{} ? -1 : result;
    }
    }
    return -2;
}

// Both key kinds run the same tables: a scrambled key must behave like a plain one.
class TypedValues : public TestKey, public ::testing::WithParamInterface<bool> {
protected:
    std::unique_ptr<CRegKey> makeKey() const
    {
        return GetParam() ? std::make_unique<CObfuscatedRegKey>() : std::make_unique<CRegKey>();
    }
    std::unique_ptr<CRegKey> openKey()
    {
        auto key = makeKey();
        EXPECT_EQ(ERROR_SUCCESS, key->Open(HKEY_CURRENT_USER, path_.c_str()));
        return key;
    }
    bool scrambled() const { return GetParam(); }
};

TEST_P(TypedValues, RoundTripKeepsDeclaredTypeAndData)
{
    auto key = openKey();
    const std::wstring text = L"gr\u00FC\u00DFe \u2713";
    const std::wstring multi(L"first\0s\u00E9cond \u2713\0\0", 16);
    Bytes binary(1000); // several blocks of key stream
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<BYTE>(i * 7);
    ASSERT_EQ(ERROR_SUCCESS, key->SetDWORDValue(L"dword", 0xDEADBEEF));
    ASSERT_EQ(ERROR_SUCCESS, key->SetQWORDValue(L"qword", 0x0123456789ABCDEFull));
    ASSERT_EQ(ERROR_SUCCESS, key->SetStringValue(L"sz", text.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key->SetStringValue(L"expand", L"%TEMP%\\x", REG_EXPAND_SZ));
    ASSERT_EQ(ERROR_SUCCESS, key->SetMultiStringValue(L"multi", multi.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key->SetGUIDValue(L"guid", kGuid));
    ASSERT_EQ(ERROR_SUCCESS, key->SetBinaryValue(L"binary", binary.data(), static_cast<ULONG>(binary.size())));

    DWORD dword = 0;
    ULONGLONG qword = 0;
    std::wstring readText, readExpand;
    GUID guid{};
    wchar_t buffer[64];
    ULONG chars = 64, size = 2000;
    Bytes readBinary(size);
    EXPECT_TRUE(key->QueryDWORDValue(L"dword", dword) == ERROR_SUCCESS && dword == 0xDEADBEEF);
    EXPECT_TRUE(key->QueryQWORDValue(L"qword", qword) == ERROR_SUCCESS && qword == 0x0123456789ABCDEFull);
    EXPECT_TRUE(key->QueryStringValue(L"sz", readText) == ERROR_SUCCESS && readText == text);
    EXPECT_TRUE(key->QueryStringValue(L"expand", readExpand) == ERROR_SUCCESS && readExpand == L"%TEMP%\\x");
    EXPECT_TRUE(key->QueryGUIDValue(L"guid", guid) == ERROR_SUCCESS && guid == kGuid);
    EXPECT_EQ(ERROR_SUCCESS, key->QueryMultiStringValue(L"multi", buffer, &chars));
    EXPECT_EQ(multi, std::wstring(buffer, chars));
    EXPECT_EQ(ERROR_SUCCESS, key->QueryBinaryValue(L"binary", readBinary.data(), &size));
    EXPECT_EQ(binary, Bytes(readBinary.begin(), readBinary.begin() + size));

    // The declared type comes back; stored, a scrambled value is binary and unreadable.
    const std::pair<const wchar_t*, DWORD> declared[] = {{L"dword", REG_DWORD},    {L"qword", REG_QWORD},
                                                         {L"sz", REG_SZ},          {L"expand", REG_EXPAND_SZ},
                                                         {L"multi", REG_MULTI_SZ}, {L"binary", REG_BINARY}};
    for (const auto& [name, type] : declared) {
        DWORD reported = REG_NONE, stored = REG_NONE;
        EXPECT_EQ(ERROR_SUCCESS, key->QueryValue(name, &reported, nullptr, &size));
        EXPECT_EQ(type, reported);
        rawGet(name, stored);
        EXPECT_EQ(scrambled() ? REG_BINARY : type, stored);
    }
    DWORD stored = REG_NONE;
    const Bytes onDisk = rawGet(L"binary", stored);
    EXPECT_EQ(scrambled(), std::search(onDisk.begin(), onDisk.end(), binary.begin(), binary.begin() + 16) == onDisk.end());
}

TEST_P(TypedValues, WrongTypeOrShapeIsRefused)
{
    auto key = openKey();
    const struct {
        const wchar_t* name;
        DWORD type;
        Bytes data;
        Read read;
        LONG expected;
    } rows[] = {
        {L"sz as dword", REG_SZ, wideBytes(std::wstring(L"5", 2)), Read::DWord, ERROR_INVALID_DATA},
        {L"long sz as dword", REG_SZ, wideBytes(std::wstring(40, L'x') + L'\0'), Read::DWord, ERROR_INVALID_DATA},
        {L"dword as qword", REG_DWORD, Bytes(4, 1), Read::QWord, ERROR_INVALID_DATA},
        {L"qword as dword", REG_QWORD, Bytes(8, 1), Read::DWord, ERROR_INVALID_DATA},
        {L"short dword", REG_DWORD, Bytes(2, 1), Read::DWord, ERROR_INVALID_DATA},
        {L"long dword", REG_DWORD, Bytes(8, 1), Read::DWord, ERROR_INVALID_DATA},
        {L"short qword", REG_QWORD, Bytes(4, 1), Read::QWord, ERROR_INVALID_DATA},
        {L"binary as sz", REG_BINARY, Bytes(6, 0), Read::String, ERROR_INVALID_DATA},
        {L"dword as binary", REG_DWORD, Bytes(4, 0), Read::Binary, ERROR_INVALID_DATA},
        {L"sz as multi", REG_SZ, wideBytes(std::wstring(L"a\0", 2)), Read::Multi, ERROR_INVALID_DATA},
        {L"multi one nul", REG_MULTI_SZ, wideBytes(std::wstring(L"a\0", 2)), Read::Multi, ERROR_INVALID_DATA},
        {L"multi one char", REG_MULTI_SZ, wideBytes(std::wstring(L"\0", 1)), Read::Multi, ERROR_INVALID_DATA},
        {L"guid no brace", REG_SZ, wideBytes(std::wstring(L"12345678-9ABC-DEF0-0123-456789ABCDEF\0", 37)),
         Read::Guid, ERROR_INVALID_DATA},
        {L"guid not hex", REG_SZ, wideBytes(std::wstring(L"{nope}\0", 7)), Read::Guid, ERROR_INVALID_DATA},
        {L"guid too long", REG_SZ, wideBytes(L"{" + std::wstring(100, L'1') + L'\0'), Read::Guid, ERROR_INVALID_DATA},
        {L"expand sz", REG_EXPAND_SZ, wideBytes(std::wstring(L"x\0", 2)), Read::String, ERROR_SUCCESS},
        {L"empty sz", REG_SZ, wideBytes(std::wstring(L"\0", 1)), Read::StringBuffer, ERROR_SUCCESS},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(ERROR_SUCCESS, key->SetValue(row.name, row.type, row.data.data(), static_cast<ULONG>(row.data.size())));
        EXPECT_EQ(row.expected, readAs(*key, row.read, row.name)) << row.name;
    }
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readAs(*key, Read::DWord, L"missing"));

    // Odd-length text: the plain key stores it and will not read it as a string;
    // the scrambled key cannot convert it and will not store it. Text without a
    // terminator comes back exactly so from a scrambled value only (Wine's
    // registry adds the terminator on a plain read).
    const LONG set = key->SetValue(L"odd", REG_SZ, "aaaaa", 5);
    const Bytes unterminated = wideBytes(L"abc");
    ASSERT_EQ(ERROR_SUCCESS, key->SetValue(L"unterminated", REG_SZ, unterminated.data(), 6));
    if (scrambled()) {
        EXPECT_EQ(ERROR_INVALID_PARAMETER, set);
        EXPECT_EQ(ERROR_INVALID_DATA, readAs(*key, Read::String, L"unterminated"));
        EXPECT_EQ(ERROR_INVALID_DATA, readAs(*key, Read::StringBuffer, L"unterminated"));
    } else {
        ASSERT_EQ(ERROR_SUCCESS, set);
        EXPECT_EQ(ERROR_INVALID_DATA, readAs(*key, Read::String, L"odd"));
        EXPECT_EQ(ERROR_INVALID_DATA, readAs(*key, Read::StringBuffer, L"odd"));
    }
}

TEST_P(TypedValues, BuffersAndBadArguments)
{
    auto key = openKey();
    ASSERT_EQ(ERROR_SUCCESS, key->SetStringValue(L"s", L"0123456789"));
    ASSERT_EQ(ERROR_SUCCESS, key->SetMultiStringValue(L"m", L"a\0b\0"));
    wchar_t buffer[4];
    ULONG chars = 4;
    EXPECT_EQ(ERROR_MORE_DATA, key->QueryStringValue(L"s", buffer, &chars));
    EXPECT_EQ(11u, chars);
    chars = 1;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, key->QueryMultiStringValue(L"m", buffer, &chars));
    DWORD type = REG_NONE;
    ULONG size = sizeof(buffer);
    EXPECT_EQ(ERROR_MORE_DATA, key->QueryValue(L"s", &type, buffer, &size));
    EXPECT_EQ(22u, size);

    EXPECT_EQ(ERROR_INVALID_PARAMETER, key->SetValue(L"x", REG_DWORD, &size, 0));
    EXPECT_EQ(ERROR_INVALID_DATA, key->SetMultiStringValue(L"x", nullptr));

    // A closed key answers 87 to everything but Close.
    key->Close();
    const std::function<LONG()> calls[] = {
        [&] { return key->QueryValue(L"v", nullptr, &type, &size); }, [&] { return key->SetDWORDValue(L"v", 1); },
        [&] { return readAs(*key, Read::String, L"v"); },             [&] { return key->RecurseDeleteKey(L"v"); },
        [&] { return key->GrantEveryoneAccess(true); },               [&] { return key->DeleteValue(L"v"); }};
    for (const auto& call : calls)
        EXPECT_EQ(ERROR_INVALID_PARAMETER, call());
    EXPECT_EQ(ERROR_SUCCESS, key->Close());
}

INSTANTIATE_TEST_SUITE_P(Keys, TypedValues, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Scrambled" : "Plain"; });

class ScrambledKey : public TestKey {};

TEST_F(ScrambledKey, TamperedTruncatedOrPlainValueIsRefused)
{
    CObfuscatedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, path_.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"v", L"a value long enough for two blocks of key stream ...."));
    DWORD type = REG_NONE;
    const Bytes good = rawGet(L"v", type);
    ASSERT_EQ(Basalt::scrambled::kHeaderSize + 54, good.size()); // 53 characters and a terminator, UTF-8
    // The documented header: magic "SCRB", version 1, header size 48, declared type, payload size.
    EXPECT_EQ((Bytes{'S', 'C', 'R', 'B', 1, 0, 48, 0, REG_SZ, 0, 0, 0, 54, 0, 0, 0}), Bytes(&good[0], &good[16]));

    auto flipped = [&](size_t at, BYTE bits = 0x01) {
        Bytes b = good;
        b[at] ^= bits;
        return b;
    };
    const std::pair<const char*, Bytes> blobs[] = {
        {"magic", flipped(0)},        {"version", flipped(4)},           {"header size", flipped(6)},
        {"type", flipped(8)},         {"size", flipped(12)},             {"absurd size", flipped(15, 0xF0)},
        {"tag", flipped(16)},         {"tag end", flipped(47)},          {"first data", flipped(48)},
        {"last data", flipped(good.size() - 1)},                         {"plain binary", Bytes(64, 0x5A)},
        {"one byte short", Bytes(good.begin(), good.end() - 1)},         {"header cut", Bytes(&good[0], &good[20])},
        {"header only", Bytes(&good[0], &good[48])},
        {"one byte long", [&] { Bytes b = good; b.push_back(0); return b; }()},
    };
    for (const auto& [what, blob] : blobs) {
        ASSERT_EQ(ERROR_SUCCESS, rawSet(L"v", REG_BINARY, blob));
        BYTE buffer[256];
        ULONG size = sizeof(buffer);
        EXPECT_EQ(ERROR_INVALID_DATA, key.QueryValue(L"v", &type, buffer, &size)) << what;
    }
    // Plain values of other types, even a valid blob stored under another type.
    for (const auto& [storedType, data] : {std::pair<DWORD, Bytes>{REG_DWORD, Bytes{1, 0, 0, 0}},
                                           {REG_SZ, wideBytes(std::wstring(L"plain\0", 6))}, {REG_SZ, good}}) {
        ASSERT_EQ(ERROR_SUCCESS, rawSet(L"v", storedType, data));
        EXPECT_EQ(ERROR_INVALID_DATA, readAs(key, storedType == REG_DWORD ? Read::DWord : Read::String, L"v"));
    }
    ASSERT_EQ(ERROR_SUCCESS, rawSet(L"v", REG_BINARY, good));
    EXPECT_EQ(ERROR_SUCCESS, readAs(key, Read::String, L"v")); // the untouched blob still reads
}

class KeyLifecycle : public TestKey {};

TEST_F(KeyLifecycle, CreateOpenDetachAttach)
{
    CRegKey key;
    DWORD disposition = 0;
    DWORD value = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root_.get(), L"child", nullptr, 0, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"marker", 7));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root_.get(), L"child", nullptr, 0, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(root_.get(), L"no such key"));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"marker", value)) << "a failed open dropped the key";

    Orvik::win::UniqueRegKey detached;
    {
        CRegKey owner;
        ASSERT_EQ(ERROR_SUCCESS, owner.Open(root_.get(), L"child"));
        detached.reset(owner.Detach());
        EXPECT_EQ(nullptr, owner.GetHandle());
    } // must not close what it handed out
    CRegKey attached;
    attached.Attach(detached.release());
    EXPECT_EQ(ERROR_SUCCESS, attached.SetDWORDValue(L"marker", 8));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"marker", value));
    EXPECT_EQ(8u, value);
}

TEST_F(KeyLifecycle, RecurseDeleteKeyRemovesTheWholeTree)
{
    // Several children per level, and one name of the registry's maximum length, 255.
    for (const std::wstring& sub : {std::wstring(L"tree\\a\\a1\\deep"), std::wstring(L"tree\\a\\a2"),
                                    std::wstring(L"tree\\b"), L"tree\\" + std::wstring(255, L'n') + L"\\x"}) {
        CRegKey made;
        ASSERT_EQ(ERROR_SUCCESS, made.Create(root_.get(), sub.c_str()));
        ASSERT_EQ(ERROR_SUCCESS, made.SetDWORDValue(L"v", 1));
    }
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(root_.get(), nullptr, KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_EQ(ERROR_ACCESS_DENIED, key.DeleteSubKey(L"tree")); // not empty
    EXPECT_EQ(ERROR_SUCCESS, key.RecurseDeleteKey(L"tree"));
    EXPECT_FALSE(keyExists(L"tree"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.RecurseDeleteKey(L"tree"));
}

TEST_F(KeyLifecycle, DeleteOnCloseEmptiesTheKeyOnlyOnClose)
{
    auto fill = [&] {
        CRegKey made;
        ASSERT_TRUE(made.Create(root_.get(), L"doomed\\sub\\subsub") == ERROR_SUCCESS &&
                    made.Create(root_.get(), L"doomed") == ERROR_SUCCESS && made.SetDWORDValue(L"v", 1) == ERROR_SUCCESS);
    };
    fill();
    auto impl = std::make_shared<Basalt::internal::CRegKeyImpl>();
    {
        CRegKey key(impl);
        ASSERT_EQ(ERROR_SUCCESS, key.Open(root_.get(), L"doomed", KEY_ALL_ACCESS));
        impl->SetDeleteOnClose(true);
    } // the destructor closes
    EXPECT_FALSE(keyExists(L"doomed\\sub"));
    DWORD value = 0;
    ASSERT_EQ(ERROR_SUCCESS, impl->Open(root_.get(), L"doomed", KEY_READ));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, impl->QueryDWORDValue(L"v", value));
    EXPECT_FALSE(impl->GetDeleteOnClose());

    // Detach drops the flag: the contents survive a later Close.
    fill();
    ASSERT_EQ(ERROR_SUCCESS, impl->Open(root_.get(), L"doomed", KEY_ALL_ACCESS));
    impl->SetDeleteOnClose(true);
    Orvik::win::UniqueRegKey handedOut(impl->Detach());
    EXPECT_EQ(ERROR_SUCCESS, impl->Close());
    EXPECT_TRUE(keyExists(L"doomed\\sub"));
}

// An access-allowed entry for Everyone that children inherit.
bool everyoneInheritable(CRegKey& key)
{
    DWORD size = 0;
    key.GetKeySecurity(DACL_SECURITY_INFORMATION, nullptr, &size);
    Bytes descriptor(size);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (key.GetKeySecurity(DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS ||
        !::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) || dacl == nullptr)
        return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    ::InitializeSid(everyone, &world, 1);
    *::GetSidSubAuthority(everyone, 0) = SECURITY_WORLD_RID;
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            ::EqualSid(&ace->SidStart, everyone) && (ace->Header.AceFlags & inherit) == inherit)
            return true;
    }
    return false;
}

TEST_F(KeyLifecycle, GrantEveryoneAccessReachesEverySubKey)
{
    ASSERT_EQ(ERROR_SUCCESS, CRegKey().Create(root_.get(), L"shared\\inner\\innermost"));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(root_.get(), L"shared", KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.GrantEveryoneAccess(true));
    for (const wchar_t* sub : {L"shared", L"shared\\inner", L"shared\\inner\\innermost"}) {
        CRegKey check;
        ASSERT_EQ(ERROR_SUCCESS, check.Open(root_.get(), sub, KEY_READ));
        EXPECT_TRUE(everyoneInheritable(check)) << sub;
    }
}

} // namespace
