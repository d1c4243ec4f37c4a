#include "registry/CRegKeyImpl.h"

#include "registry/CRegKeyImplDetail.h"

#include "win/ProcAddress.h"

namespace Basalt {
namespace internal {

using detail::advapi32;
using detail::kMaxKeyNameChars;

namespace {

constexpr REGSAM kViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY; // 0x300

using RegDeleteKeyExWFunction = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// The view-aware deletion, looked up once per process; null where the platform lacks it.
RegDeleteKeyExWFunction viewAwareDelete() noexcept
{
    static const RegDeleteKeyExWFunction function =
        Orvik::win::procAddress<RegDeleteKeyExWFunction>(advapi32(), "RegDeleteKeyExW");
    return function;
}

} // namespace

CRegKeyImpl::~CRegKeyImpl() { CRegKeyImpl::Close(); }

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

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose) { deleteOnClose_ = deleteOnClose; }

bool CRegKeyImpl::GetDeleteOnClose() const { return deleteOnClose_; }

} // namespace internal
} // namespace Basalt
