#include "registry/CRegKeyImpl.h"

#include "win/ProcAddress.h"
#include "win/Registry.h"

#include <aclapi.h>
#include <objbase.h>

#include <new>
#include <vector>

namespace Basalt {
namespace internal {
namespace {

constexpr REGSAM kViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY; // 0x300
constexpr DWORD kMaxKeyNameChars = 256;

using RegDeleteKeyExWFunction = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
using GetSecurityInfoFunction = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                                PACL*, PSECURITY_DESCRIPTOR*);
using SetEntriesInAclWFunction = DWORD(WINAPI*)(ULONG, PEXPLICIT_ACCESS_W, PACL, PACL*);

// Advapi32 is imported by this module, so its handle stays valid for our lifetime.
HMODULE advapi32() noexcept { return ::GetModuleHandleW(L"Advapi32.dll"); }

// The view-aware deletion, looked up once per process; null where the platform lacks it.
RegDeleteKeyExWFunction viewAwareDelete() noexcept
{
    static const RegDeleteKeyExWFunction function =
        Orvik::win::procAddress<RegDeleteKeyExWFunction>(advapi32(), "RegDeleteKeyExW");
    return function;
}

// Byte capacity of a buffer of `chars` wide characters, kept within a DWORD.
ULONG bytesFor(ULONG chars) noexcept
{
    return chars > MAXDWORD / sizeof(wchar_t) ? MAXDWORD - 1 : chars * static_cast<ULONG>(sizeof(wchar_t));
}

// A typed query read a value of `expected` type and exactly `size` bytes; 234
// (value larger than the buffer) is a wrong shape for a fixed-size type.
LONG checkFixed(LONG result, DWORD type, DWORD expected, ULONG got, ULONG size) noexcept
{
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != expected || result == ERROR_MORE_DATA || got != size)
        return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

LONG setDescriptorBelow(HKEY key, REGSAM view, PSECURITY_DESCRIPTOR descriptor) noexcept
{
    wchar_t name[kMaxKeyNameChars];
    for (DWORD index = 0;; ++index) {
        DWORD chars = kMaxKeyNameChars;
        LONG result = ::RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS)
            return result;
        Orvik::win::UniqueRegKey child;
        result = ::RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS | view, child.put());
        if (result == ERROR_SUCCESS)
            result = ::RegSetKeySecurity(child.get(), DACL_SECURITY_INFORMATION, descriptor);
        if (result == ERROR_SUCCESS)
            result = setDescriptorBelow(child.get(), view, descriptor);
        if (result != ERROR_SUCCESS)
            return result;
    }
}

} // namespace

CRegKeyImpl::~CRegKeyImpl() { CRegKeyImpl::Close(); }

LONG CRegKeyImpl::QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    return Orvik::win::queryValue(key_.get(), name, type, data, size);
}

LONG CRegKeyImpl::SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size)
{
    if (!key_ || data == nullptr || size == 0)
        return ERROR_INVALID_PARAMETER;
    return ::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegKeyImpl::SetGUIDValue(LPCWSTR name, REFGUID value)
{
    wchar_t text[64];
    if (::StringFromGUID2(value, text, 64) == 0)
        return ERROR_INVALID_DATA;
    return SetStringValue(name, text, REG_SZ);
}

LONG CRegKeyImpl::SetBinaryValue(LPCWSTR name, const void* data, ULONG size)
{
    return SetValue(name, REG_BINARY, data, size);
}

LONG CRegKeyImpl::SetDWORDValue(LPCWSTR name, DWORD value)
{
    return SetValue(name, REG_DWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetQWORDValue(LPCWSTR name, ULONGLONG value)
{
    return SetValue(name, REG_QWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetStringValue(LPCWSTR name, LPCWSTR text, DWORD type)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    if (text == nullptr)
        return ERROR_INVALID_DATA;
    // Only the two single-string types carry one terminator.
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_PARAMETER;
    const size_t chars = ::wcslen(text) + 1;
    if (chars > MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_PARAMETER;
    return SetValue(name, type, text, static_cast<ULONG>(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::SetMultiStringValue(LPCWSTR name, LPCWSTR list)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    if (list == nullptr)
        return ERROR_INVALID_DATA;
    // Every string with its terminator, then the empty string that ends the list.
    size_t chars = 0;
    for (;;) {
        const size_t length = ::wcslen(list + chars);
        chars += length + 1;
        if (length == 0)
            break;
    }
    if (chars > MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_PARAMETER;
    return SetValue(name, REG_MULTI_SZ, list, static_cast<ULONG>(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::QueryGUIDValue(LPCWSTR name, GUID& value)
{
    value = GUID{};
    wchar_t text[64];
    ULONG chars = 64;
    const LONG result = QueryStringValue(name, text, &chars);
    if (result == ERROR_MORE_DATA)
        return ERROR_INVALID_DATA; // longer than any GUID text
    if (result != ERROR_SUCCESS)
        return result;
    if (chars == 0 || text[0] != L'{')
        return ERROR_INVALID_DATA;
    GUID parsed;
    if (FAILED(::CLSIDFromString(text, &parsed)))
        return ERROR_INVALID_DATA;
    value = parsed;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryBinaryValue(LPCWSTR name, void* data, ULONG* size)
{
    if (size == nullptr)
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_NONE;
    const LONG result = QueryValue(name, &type, data, size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_BINARY)
        return ERROR_INVALID_DATA;
    return result;
}

LONG CRegKeyImpl::QueryDWORDValue(LPCWSTR name, DWORD& value)
{
    DWORD type = REG_NONE;
    DWORD read = 0;
    ULONG size = sizeof(read);
    const LONG queried = QueryValue(name, &type, &read, &size);
    const LONG result = checkFixed(queried, type, REG_DWORD, size, sizeof(read));
    if (result == ERROR_SUCCESS)
        value = read;
    return result;
}

LONG CRegKeyImpl::QueryQWORDValue(LPCWSTR name, ULONGLONG& value)
{
    DWORD type = REG_NONE;
    ULONGLONG read = 0;
    ULONG size = sizeof(read);
    const LONG queried = QueryValue(name, &type, &read, &size);
    const LONG result = checkFixed(queried, type, REG_QWORD, size, sizeof(read));
    if (result == ERROR_SUCCESS)
        value = read;
    return result;
}

LONG CRegKeyImpl::QueryStringValue(LPCWSTR name, std::wstring& value)
{
    ULONG chars = 0;
    LONG result = QueryStringValue(name, nullptr, &chars);
    if (result != ERROR_SUCCESS)
        return result;
    std::vector<wchar_t> buffer;
    try {
        buffer.resize(chars == 0 ? 1 : chars);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    chars = static_cast<ULONG>(buffer.size());
    result = QueryStringValue(name, buffer.data(), &chars);
    if (result != ERROR_SUCCESS)
        return result;
    try {
        value.assign(buffer.data(), chars == 0 ? 0 : chars - 1);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars)
{
    if (chars == nullptr)
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_NONE;
    ULONG size = buffer == nullptr ? 0 : bytesFor(*chars);
    const ULONG capacity = size;
    *chars = 0;
    const LONG result = QueryValue(name, &type, buffer, &size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (size % sizeof(wchar_t) != 0)
        return ERROR_INVALID_DATA;
    if (result == ERROR_MORE_DATA) {
        *chars = size / sizeof(wchar_t);
        return result;
    }
    if (buffer != nullptr) {
        if (size == 0) {
            if (capacity < sizeof(wchar_t))
                return ERROR_MORE_DATA;
            buffer[0] = L'\0';
        } else if (buffer[size / sizeof(wchar_t) - 1] != L'\0') {
            return ERROR_INVALID_DATA;
        }
    }
    *chars = size / sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryMultiStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars)
{
    if (chars == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (buffer != nullptr && *chars < 2)
        return ERROR_INSUFFICIENT_BUFFER;
    DWORD type = REG_NONE;
    ULONG size = buffer == nullptr ? 0 : bytesFor(*chars);
    *chars = 0;
    const LONG result = QueryValue(name, &type, buffer, &size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_MULTI_SZ || size % sizeof(wchar_t) != 0 || size / sizeof(wchar_t) < 2)
        return ERROR_INVALID_DATA;
    const ULONG count = size / sizeof(wchar_t);
    if (result == ERROR_SUCCESS && buffer != nullptr && (buffer[count - 1] != L'\0' || buffer[count - 2] != L'\0'))
        return ERROR_INVALID_DATA;
    *chars = count;
    return result;
}

LONG CRegKeyImpl::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, LPDWORD size)
{
    if (!key_ || size == nullptr)
        return ERROR_INVALID_PARAMETER;
    return ::RegGetKeySecurity(key_.get(), information, descriptor, size);
}

LONG CRegKeyImpl::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor)
{
    if (!key_ || descriptor == nullptr)
        return ERROR_INVALID_PARAMETER;
    return ::RegSetKeySecurity(key_.get(), information, descriptor);
}

LONG CRegKeyImpl::Create(HKEY parent, LPCWSTR subKey, LPWSTR className, DWORD options, REGSAM access,
                         LPSECURITY_ATTRIBUTES attributes, LPDWORD disposition)
{
    if (parent == nullptr)
        return ERROR_INVALID_PARAMETER;
    Orvik::win::UniqueRegKey created;
    DWORD how = 0;
    LONG result = ::RegCreateKeyExW(parent, subKey, 0, className, options, access, attributes, created.put(), &how);
    if (disposition != nullptr)
        *disposition = how;
    if (result != ERROR_SUCCESS)
        return result;
    result = Close();
    if (result != ERROR_SUCCESS)
        return result; // the new key closes with `created`
    key_ = std::move(created);
    viewFlags_ = access & kViewMask;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::Open(HKEY parent, LPCWSTR subKey, REGSAM access)
{
    if (parent == nullptr)
        return ERROR_INVALID_PARAMETER;
    Orvik::win::UniqueRegKey opened;
    LONG result = ::RegOpenKeyExW(parent, subKey, 0, access, opened.put());
    if (result != ERROR_SUCCESS)
        return result;
    result = Close();
    if (result != ERROR_SUCCESS)
        return result;
    key_ = std::move(opened);
    viewFlags_ = access & kViewMask;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::Close()
{
    if (!key_)
        return ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    if (deleteOnClose_) {
        // Everything below the key, sub-keys and values; the key itself stays.
        result = ::RegDeleteTreeW(key_.get(), nullptr);
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS; // already gone
    }
    key_.reset();
    viewFlags_ = 0;
    deleteOnClose_ = false;
    return result;
}

LONG CRegKeyImpl::Flush()
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    return ::RegFlushKey(key_.get());
}

HKEY CRegKeyImpl::Detach()
{
    viewFlags_ = 0;
    deleteOnClose_ = false;
    return key_.release();
}

void CRegKeyImpl::Attach(HKEY key)
{
    // A key held before is closed, never emptied: only an explicit Close deletes.
    key_.reset(key);
    viewFlags_ = 0;
    deleteOnClose_ = false;
}

LONG CRegKeyImpl::EnumKey(DWORD index, LPWSTR name, LPDWORD chars, FILETIME* lastWriteTime)
{
    if (!key_ || name == nullptr || chars == nullptr)
        return ERROR_INVALID_PARAMETER;
    FILETIME ignored;
    return ::RegEnumKeyExW(key_.get(), index, name, chars, nullptr, nullptr, nullptr,
                           lastWriteTime != nullptr ? lastWriteTime : &ignored);
}

LONG CRegKeyImpl::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    return ::RegNotifyChangeKeyValue(key_.get(), watchSubtree, filter, event, asynchronous);
}

LONG CRegKeyImpl::DeleteSubKey(LPCWSTR name)
{
    if (!key_ || name == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (const RegDeleteKeyExWFunction deleteKeyEx = viewAwareDelete())
        return deleteKeyEx(key_.get(), name, viewFlags_, 0);
    return ::RegDeleteKeyW(key_.get(), name);
}

LONG CRegKeyImpl::RecurseDeleteKey(LPCWSTR name)
{
    if (!key_ || name == nullptr)
        return ERROR_INVALID_PARAMETER;
    CRegKeyImpl child;
    LONG result = child.Open(key_.get(), name, KEY_READ | KEY_WRITE | viewFlags_);
    if (result != ERROR_SUCCESS)
        return result;
    wchar_t subKey[kMaxKeyNameChars];
    for (;;) {
        // Index 0 each time: every pass removes the key that was there.
        DWORD chars = kMaxKeyNameChars;
        result = ::RegEnumKeyExW(child.GetHandle(), 0, subKey, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            return result;
        result = child.RecurseDeleteKey(subKey);
        if (result != ERROR_SUCCESS)
            return result;
    }
    child.Close();
    return DeleteSubKey(name);
}

LONG CRegKeyImpl::DeleteValue(LPCWSTR name)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    return ::RegDeleteValueW(key_.get(), name);
}

LONG CRegKeyImpl::GrantEveryoneAccess(bool recursive)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    const auto getSecurityInfo = Orvik::win::procAddress<GetSecurityInfoFunction>(advapi32(), "GetSecurityInfo");
    const auto setEntriesInAcl = Orvik::win::procAddress<SetEntriesInAclWFunction>(advapi32(), "SetEntriesInAclW");
    if (getSecurityInfo == nullptr || setEntriesInAcl == nullptr)
        return ERROR_PROC_NOT_FOUND;

    PACL current = nullptr;
    Orvik::win::UniqueLocalMemory currentDescriptor;
    DWORD result = getSecurityInfo(key_.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                   nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(currentDescriptor.put()));
    if (result != ERROR_SUCCESS)
        return static_cast<LONG>(result);

    // Everyone: world authority, one sub-authority, 0.
    BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
    PSID everyone = sidBuffer;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!::InitializeSid(everyone, &world, 1))
        return static_cast<LONG>(::GetLastError());
    *::GetSidSubAuthority(everyone, 0) = SECURITY_WORLD_RID;

    EXPLICIT_ACCESS_W entry{};
    entry.grfAccessPermissions = GENERIC_ALL;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);

    PACL merged = nullptr;
    result = setEntriesInAcl(1, &entry, current, &merged);
    if (result != ERROR_SUCCESS)
        return static_cast<LONG>(result);
    Orvik::win::UniqueLocalMemory mergedOwner(merged);

    SECURITY_DESCRIPTOR descriptor;
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, merged, FALSE))
        return static_cast<LONG>(::GetLastError());
    LONG status = ::RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, &descriptor);
    if (status == ERROR_SUCCESS && recursive)
        status = setDescriptorBelow(key_.get(), viewFlags_, &descriptor);
    return status;
}

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose) { deleteOnClose_ = deleteOnClose; }

bool CRegKeyImpl::GetDeleteOnClose() const { return deleteOnClose_; }

} // namespace internal
} // namespace Basalt
