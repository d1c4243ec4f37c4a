#pragma once
// Binds an interface from a signed product library that exports
// "NotComDllGetInterface" (narrow interface name, out pointer) — the way the
// trust-validation service "ilexval.dll" is reached without COM registration.

#include "win/HeldFile.h"

#include <windows.h>

#include <functional>
#include <string>

namespace Orvik {

// fileName: absolute, or relative to the product's install folder (registry
// "szInstallDir64"), then to the folder of `module` (the host executable when
// null); never the current directory. The library is held open from its check
// until it is loaded, and its own imports are looked for in System32 only.
// Returns 0 and the interface in *out, 87 for a name of 260 or more
// characters, the WinVerifyTrust result for a file that is not accepted, or the
// library's own result. On success the library stays loaded: the interface's
// code lives in it.
DWORD NotComDllGetInterface(const wchar_t* fileName, const char* interfaceName, void** out, HMODULE module);

namespace trust {

// The same, with the install-folder lookup supplied by the caller, and an
// optional further test of the held library file (after WinVerifyTrust
// accepted it, before it is loaded); a library it refuses gives ERROR_ACCESS_DENIED.
using InstallFolderReader = std::function<bool(std::wstring*)>;
using LibraryVetting = std::function<bool(const win::HeldFile&)>;
DWORD notComDllGetInterface(const wchar_t* fileName, const char* interfaceName, void** out, HMODULE module,
                            const InstallFolderReader& readInstallFolder, const LibraryVetting& vet = nullptr);

// WinVerifyTrust results under which the service library is still used.
bool isAcceptedServiceTrustResult(LONG result);

} // namespace trust
} // namespace Orvik
