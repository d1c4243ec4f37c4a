#pragma once
// Registry key object used by the logging configuration and the library block
// list. It forwards every operation to a replaceable implementation: a plain
// key by default, the scrambled one through CObfuscatedRegKey, or any object a
// caller (or a test) hands in.

#include "registry/CRegKeyImpl.h"

#include <memory>
#include <string>

namespace Basalt {

class CRegKey {
public:
    // An empty `impl` means a new plain key.
    explicit CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl = nullptr);
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    virtual ~CRegKey();

    virtual LONG QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size);
    virtual LONG SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size);
    virtual LONG SetGUIDValue(LPCWSTR name, REFGUID value);
    virtual LONG SetBinaryValue(LPCWSTR name, const void* data, ULONG size);
    virtual LONG SetDWORDValue(LPCWSTR name, DWORD value);
    virtual LONG SetQWORDValue(LPCWSTR name, ULONGLONG value);
    virtual LONG SetStringValue(LPCWSTR name, LPCWSTR text, DWORD type = REG_SZ);
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
    virtual LONG Create(HKEY parent, LPCWSTR subKey, LPWSTR className = nullptr,
                        DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_READ | KEY_WRITE,
                        LPSECURITY_ATTRIBUTES attributes = nullptr, LPDWORD disposition = nullptr);
    virtual LONG Open(HKEY parent, LPCWSTR subKey, REGSAM access = KEY_READ | KEY_WRITE);
    virtual LONG Flush();
    virtual LONG EnumKey(DWORD index, LPWSTR name, LPDWORD chars, FILETIME* lastWriteTime = nullptr);
    virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous = TRUE);
    virtual LONG DeleteSubKey(LPCWSTR name);
    virtual LONG RecurseDeleteKey(LPCWSTR name);
    virtual LONG DeleteValue(LPCWSTR name);
    virtual LONG GrantEveryoneAccess(bool recursive);

    LONG Close();
    HKEY Detach();
    void Attach(HKEY key);

    // The open key, null when closed; stays owned by the implementation.
    HKEY GetHandle() const noexcept { return impl_->GetHandle(); }

private:
    std::shared_ptr<internal::CRegKeyImpl> impl_;
};

// A CRegKey over the scrambled implementation.
class CObfuscatedRegKey : public CRegKey {
public:
    CObfuscatedRegKey();
};

} // namespace Basalt
