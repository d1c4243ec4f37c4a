#pragma once
// The module's entry points for trusting code: validate a library file before
// it is loaded, create a COM object only when its server file validates,
// bind the trust-validation service, and install a newer trust catalog.

#include "trust/NotComDllGetInterface.h"
#include "trust/VerifiedFile.h"

#include <windows.h>
#include <objbase.h>

namespace Orvik {

// 0 when the file is trusted, 87 for a missing or empty path, 5 otherwise.
// Uses the process's validator (created on first use). The file is held while
// it is checked; to load it afterwards, use VerifiedFile instead.
DWORD validateFile(const wchar_t* path);

// With `verify`: the class's in-process server file, as registered for the
// machine (HKLM classes, 64-bit view), is validated and held before any of its
// code is loaded; the class object must come from that very module. Anything
// else, an out-of-process server included, is E_ACCESSDENIED, and no
// unverified code has run. Without `verify`: CoCreateInstance.
HRESULT createVerifiedInstance(REFCLSID clsid, IUnknown* outer, DWORD classContext, REFIID iid, void** out,
                               bool verify);

// Installs a newer signed trust catalog for the process; nonzero when installed.
int installCatalog(const wchar_t* candidate);

namespace trust {

class TrustValidator;

// createVerifiedInstance with a given validator (tests).
HRESULT createVerifiedInstanceWith(const TrustValidator& validator, REFCLSID clsid, IUnknown* outer,
                                   DWORD classContext, REFIID iid, void** out);

// The file of the loaded module whose image holds `address` (at most 4096
// modules are looked at; names of at most 260 characters); empty when none.
std::wstring moduleFileContaining(const void* address);

// The in-process server file a machine-wide class registration names:
// REG_EXPAND_SZ values have their environment variables expanded, REG_SZ
// values lose surrounding quotes. Empty unless the result is a full path.
std::wstring inprocServerPath(DWORD valueType, const std::wstring& value);

// The in-process server file and threading model of a machine-wide class
// registration, as validated creation reads them: REGDB_E_CLASSNOTREG when
// the class is not registered, E_ACCESSDENIED when it has no in-process
// server or its file is not named by a full path.
HRESULT machineInprocServer(REFCLSID clsid, std::wstring* path, std::wstring* threadingModel);

// Whether the calling thread's apartment may use an object of the registered
// threading model directly, as COM would hand it over without a proxy.
bool apartmentTakesThreadingModel(APTTYPE apartment, const std::wstring& threadingModel);

} // namespace trust

} // namespace Orvik
