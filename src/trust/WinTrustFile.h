#pragma once
// How the trust code describes one file to WinVerifyTrust.

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>


namespace Orvik {
namespace trust {

// Describes one file to WinVerifyTrust: no UI, no revocation, the given state
// action and provider flags. `data` points at `file`, which must outlive it.
// With a handle, the file is read through it and the path only names it.
inline void describeFileForTrust(const wchar_t* path, HANDLE handle, DWORD stateAction, DWORD providerFlags,
                                 WINTRUST_FILE_INFO& file, WINTRUST_DATA& data)
{
    file = WINTRUST_FILE_INFO{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    file.hFile = handle;
    data = WINTRUST_DATA{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = stateAction;
    data.dwProvFlags = providerFlags;
}

} // namespace trust
} // namespace Orvik
