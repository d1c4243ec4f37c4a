#pragma once
// The address range a loaded library's image occupies, read from its own
// headers in memory: the base is the module handle, the size the image size
// the loader mapped. The same answer as GetModuleInformation for a library
// this process loaded as code, without walking the process's module list
// (which Wine does with one memory read after another).

#include <windows.h>

#include <cstdint>

namespace Orvik {
namespace win {

struct ImageRange {
    std::uintptr_t base = 0;
    std::size_t size = 0;  // 0: not an image loaded as code

    bool contains(const void* address) const noexcept
    {
        const auto at = reinterpret_cast<std::uintptr_t>(address);
        return size != 0 && at >= base && at - base < size;
    }
};

inline ImageRange loadedImageRange(HMODULE module) noexcept
{
    // A handle with one of the low bits set is a data or image-resource
    // mapping, not code.
    const auto base = reinterpret_cast<std::uintptr_t>(module);
    if (module == nullptr || (base & 3) != 0)
        return {};
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0)
        return {};
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<std::uintptr_t>(dos->e_lfanew));
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return {};
    return ImageRange{base, nt->OptionalHeader.SizeOfImage};
}

} // namespace win
} // namespace Orvik
