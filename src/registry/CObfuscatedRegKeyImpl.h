#pragma once
// A registry key whose values are stored in the scrambled form (ScrambledForm.h)
// under ANSI value names. Only the raw value access changes, so every typed
// operation reads and writes scrambled values, and a plain value, of any type,
// reads as 13.

#include "registry/CRegKeyImpl.h"

namespace Basalt {

class CObfuscatedRegKeyImpl : public internal::CRegKeyImpl {
public:
    LONG QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size) override;
    LONG SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size) override;
};

} // namespace Basalt
