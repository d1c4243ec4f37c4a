#pragma once
// Milliseconds from the performance counter, for hosts that time what they do.

#include <windows.h>

namespace sandbox {

inline double millisecondsNow()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

} // namespace sandbox
