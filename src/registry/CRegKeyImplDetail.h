#pragma once
// What the key's own operations and its security operations share.

#include <windows.h>

namespace Basalt {
namespace internal {
namespace detail {

constexpr DWORD kMaxKeyNameChars = 256;

// Advapi32 is imported by this module, so its handle stays valid for our lifetime.
inline HMODULE advapi32() noexcept { return ::GetModuleHandleW(L"Advapi32.dll"); }

} // namespace detail
} // namespace internal
} // namespace Basalt
