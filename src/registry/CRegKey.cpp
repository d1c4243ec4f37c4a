#include "registry/CRegKey.h"

#include "registry/CObfuscatedRegKeyImpl.h"

#include <utility>

namespace Basalt {

CRegKey::CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl)
    : impl_(impl ? std::move(impl) : std::make_shared<internal::CRegKeyImpl>())
{
}

CRegKey::~CRegKey() { impl_->Close(); }

LONG CRegKey::QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size)
{
    return impl_->QueryValue(name, type, data, size);
}

LONG CRegKey::SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size)
{
    return impl_->SetValue(name, type, data, size);
}

LONG CRegKey::SetGUIDValue(LPCWSTR name, REFGUID value) { return impl_->SetGUIDValue(name, value); }

LONG CRegKey::SetBinaryValue(LPCWSTR name, const void* data, ULONG size)
{
    return impl_->SetBinaryValue(name, data, size);
}

LONG CRegKey::SetDWORDValue(LPCWSTR name, DWORD value) { return impl_->SetDWORDValue(name, value); }

LONG CRegKey::SetQWORDValue(LPCWSTR name, ULONGLONG value) { return impl_->SetQWORDValue(name, value); }

LONG CRegKey::SetStringValue(LPCWSTR name, LPCWSTR text, DWORD type)
{
    return impl_->SetStringValue(name, text, type);
}

LONG CRegKey::SetMultiStringValue(LPCWSTR name, LPCWSTR list) { return impl_->SetMultiStringValue(name, list); }

LONG CRegKey::QueryGUIDValue(LPCWSTR name, GUID& value) { return impl_->QueryGUIDValue(name, value); }

LONG CRegKey::QueryBinaryValue(LPCWSTR name, void* data, ULONG* size)
{
    return impl_->QueryBinaryValue(name, data, size);
}

LONG CRegKey::QueryDWORDValue(LPCWSTR name, DWORD& value) { return impl_->QueryDWORDValue(name, value); }

LONG CRegKey::QueryQWORDValue(LPCWSTR name, ULONGLONG& value) { return impl_->QueryQWORDValue(name, value); }

LONG CRegKey::QueryStringValue(LPCWSTR name, std::wstring& value) { return impl_->QueryStringValue(name, value); }

LONG CRegKey::QueryStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars)
{
    return impl_->QueryStringValue(name, buffer, chars);
}

LONG CRegKey::QueryMultiStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars)
{
    return impl_->QueryMultiStringValue(name, buffer, chars);
}

LONG CRegKey::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, LPDWORD size)
{
    return impl_->GetKeySecurity(information, descriptor, size);
}

LONG CRegKey::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor)
{
    return impl_->SetKeySecurity(information, descriptor);
}

LONG CRegKey::Create(HKEY parent, LPCWSTR subKey, LPWSTR className, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES attributes, LPDWORD disposition)
{
    return impl_->Create(parent, subKey, className, options, access, attributes, disposition);
}

LONG CRegKey::Open(HKEY parent, LPCWSTR subKey, REGSAM access) { return impl_->Open(parent, subKey, access); }

LONG CRegKey::Flush() { return impl_->Flush(); }

LONG CRegKey::EnumKey(DWORD index, LPWSTR name, LPDWORD chars, FILETIME* lastWriteTime)
{
    return impl_->EnumKey(index, name, chars, lastWriteTime);
}

LONG CRegKey::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    return impl_->NotifyChangeKeyValue(watchSubtree, filter, event, asynchronous);
}

LONG CRegKey::DeleteSubKey(LPCWSTR name) { return impl_->DeleteSubKey(name); }

LONG CRegKey::RecurseDeleteKey(LPCWSTR name) { return impl_->RecurseDeleteKey(name); }

LONG CRegKey::DeleteValue(LPCWSTR name) { return impl_->DeleteValue(name); }

LONG CRegKey::GrantEveryoneAccess(bool recursive) { return impl_->GrantEveryoneAccess(recursive); }

LONG CRegKey::Close() { return impl_->Close(); }

HKEY CRegKey::Detach() { return impl_->Detach(); }

void CRegKey::Attach(HKEY key) { impl_->Attach(key); }

CObfuscatedRegKey::CObfuscatedRegKey() : CRegKey(std::make_shared<CObfuscatedRegKeyImpl>()) {}

} // namespace Basalt
