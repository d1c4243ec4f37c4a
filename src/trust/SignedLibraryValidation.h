#pragma once
// The module's entry points for trusting code: validate a library file before
// it is loaded, create a COM object only when its server file validates,
// bind the trust-validation service, and install a newer trust catalog.

#include "trust/NotComDllGetInterface.h"

#include <windows.h>
#include <unknwn.h>

namespace Orvik {

// 0 when the file is trusted, 87 for a missing or empty path, 5 otherwise.
// Uses the process's validator (created on first use).
DWORD validateFile(const wchar_t* path);

// With `verify`, creates the object only when the file of the module serving
// the class validates (E_ACCESSDENIED otherwise); without it, CoCreateInstance.
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

} // namespace trust

} // namespace Orvik
