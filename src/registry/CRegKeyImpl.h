#pragma once
// The registry key behind Basalt::CRegKey. Every operation answers a Win32 code
// and none throws. The typed operations reach the registry only through
// QueryValue and SetValue, so a derived key that changes how values are stored
// (the scrambled key) changes them all.

#include "win/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace Basalt {
namespace internal {

class CRegKeyImpl {
public:
    CRegKeyImpl() noexcept = default;
    CRegKeyImpl(const CRegKeyImpl&) = delete;
    CRegKeyImpl& operator=(const CRegKeyImpl&) = delete;

    virtual ~CRegKeyImpl();

    virtual LONG QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size);
    virtual LONG SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size);
    virtual LONG SetGUIDValue(LPCWSTR name, REFGUID value);
    virtual LONG SetBinaryValue(LPCWSTR name, const void* data, ULONG size);
    virtual LONG SetDWORDValue(LPCWSTR name, DWORD value);
    virtual LONG SetQWORDValue(LPCWSTR name, ULONGLONG value);
    virtual LONG SetStringValue(LPCWSTR name, LPCWSTR text, DWORD type);
    virtual LONG SetMultiStringValue(LPCWSTR name, LPCWSTR list);
    virtual LONG QueryGUIDValue(LPCWSTR name, GUID& value);
    virtual LONG QueryBinaryValue(LPCWSTR name, void* data, ULONG* size);
    virtual LONG QueryDWORDValue(LPCWSTR name, DWORD& value);
    virtual LONG QueryQWORDValue(LPCWSTR name, ULONGLONG& value);
    virtual LONG QueryStringValue(LPCWSTR name, std::wstring& value);
    virtual LONG QueryStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars);
    virtual LONG QueryMultiStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars);
    virtual LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, LPDWORD size);
    virtual LONG SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor);
    virtual LONG Create(HKEY parent, LPCWSTR subKey, LPWSTR className, DWORD options, REGSAM access,
                        LPSECURITY_ATTRIBUTES attributes, LPDWORD disposition);
    virtual LONG Open(HKEY parent, LPCWSTR subKey, REGSAM access);
    virtual LONG Close();
    virtual LONG Flush();
    virtual HKEY Detach();
    virtual void Attach(HKEY key);
    virtual LONG EnumKey(DWORD index, LPWSTR name, LPDWORD chars, FILETIME* lastWriteTime);
    virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous);
    virtual LONG DeleteSubKey(LPCWSTR name);
    virtual LONG RecurseDeleteKey(LPCWSTR name);
    virtual LONG DeleteValue(LPCWSTR name);
    virtual LONG GrantEveryoneAccess(bool recursive);
    virtual void SetDeleteOnClose(bool deleteOnClose);
    virtual bool GetDeleteOnClose() const;

    // The open key, null when closed; stays owned by this object.
    HKEY GetHandle() const noexcept { return key_.get(); }

protected:
    // The 32/64-bit view bits of the last open or create.
    REGSAM ViewFlags() const noexcept { return viewFlags_; }

private:
    Orvik::win::UniqueRegKey key_;
    REGSAM viewFlags_ = 0;
    bool deleteOnClose_ = false;
};

} // namespace internal
} // namespace Basalt
