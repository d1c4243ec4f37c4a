#pragma once
// The code of a Win32 call that just failed, for callers that answer Win32
// codes: the thread's last error, or `fallback` when the call left none.

#include <windows.h>

namespace Orvik {
namespace win {

inline DWORD lastErrorOr(DWORD fallback) noexcept
{
    const DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

} // namespace win
} // namespace Orvik
