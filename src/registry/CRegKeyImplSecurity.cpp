#include "registry/CRegKeyImpl.h"

#include "registry/CRegKeyImplDetail.h"

#include "win/ProcAddress.h"

#include <aclapi.h>

namespace Basalt {
namespace internal {

using detail::advapi32;
using detail::kMaxKeyNameChars;

namespace {

using GetSecurityInfoFunction = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                                PACL*, PSECURITY_DESCRIPTOR*);
using SetEntriesInAclWFunction = DWORD(WINAPI*)(ULONG, PEXPLICIT_ACCESS_W, PACL, PACL*);

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

} // namespace internal
} // namespace Basalt
