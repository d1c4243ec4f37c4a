#pragma once
// A library's exported function, typed. Null when the library does not export it.

#include <windows.h>

namespace Orvik {
namespace win {

template <typename Function>
Function procAddress(HMODULE module, const char* name) noexcept
{
    if (module == nullptr)
        return nullptr;
    // Through a plain function pointer: casting FARPROC straight to another
    // function type draws a warning for a cast between incompatible types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

} // namespace win
} // namespace Orvik
