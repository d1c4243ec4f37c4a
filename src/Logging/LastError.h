#pragma once
// The file back end's failure code for a Win32 call that just failed.

#include <windows.h>

#include <cstdint>

namespace ETWLogging {
namespace internal {

inline std::uint32_t lastErrorOr(std::uint32_t fallback)
{
    const DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

} // namespace internal
} // namespace ETWLogging
