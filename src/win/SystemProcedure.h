#pragma once
// A function of a system library that the module needs only now and then
// (oleaut32's BSTR functions, shell32's known folders), bound on first use
// instead of through the import table. A host loads this module for each
// request and unloads it after: imported, such a library would be loaded and
// unloaded with it every time, and shell32 alone costs more to load than the
// whole module. Bound here, it is loaded from the system folder once and kept
// for the life of the process, as any process that uses it keeps it.

#include "win/ProcAddress.h"

#include <windows.h>

namespace Orvik {
namespace win {

// Null when the library or the function cannot be had.
template <typename Function>
Function systemProcedure(const wchar_t* library, const char* name) noexcept
{
    // The reference taken here is never given back, and the pin keeps the
    // library even from a FreeLibrary too many elsewhere.
    HMODULE module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE pinned = nullptr;
    if (module == nullptr || !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, library, &pinned))
        return nullptr;
    return procAddress<Function>(module, name);
}

// The same, looked up once per process (per load of this module).
#define UM_SYSTEM_PROCEDURE(library, function)                                                                   \
    ([]() noexcept {                                                                                             \
        static const auto bound = ::Orvik::win::systemProcedure<decltype(&::function)>(library, #function);      \
        return bound;                                                                                            \
    }())

} // namespace win
} // namespace Orvik
