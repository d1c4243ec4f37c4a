#pragma once
// Values of the product key "Software\Corvane\Ferrule" (local machine, 32-bit
// view) used by the trust code.

#include "win/Registry.h"

#include <windows.h>

#include <string>

namespace Orvik {
namespace trust {

extern const wchar_t kProductKeyPath[];

// The product key opened for reading; empty when it cannot be opened.
win::RegistryKey openProductKey();

// The view the product key is read in: the 32-bit view, except on Windows
// 2000, which has no registry views.
win::RegistryView productKeyView();

// "szInstallDir64" (or "szInstallDir32"); false when absent or unreadable.
bool readInstallFolder(std::wstring* folder, bool sixtyFourBit = true);

// Core version from "system_core_version" ("%lu.%lu"): major * 100 + minor when
// major > 14 and minor > 3, else 1504.
DWORD coreVersionFromText(const wchar_t* text);

} // namespace trust
} // namespace Orvik
