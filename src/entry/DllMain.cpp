#include "Logging/Logger.h"

#include <windows.h>

namespace __gnu_cxx {
// The static C++ runtime's release of what it allocated for itself (the
// emergency exception pool above all).
void __freeres() noexcept;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetLoggerIdentity(nullptr, L"UpdateModule", instance, nullptr, 0);
    // A host loads this library for each request and unloads it after: what
    // the runtime keeps would stay behind in the host at every unload. At
    // process exit (reserved set) the process takes it all anyway, and other
    // libraries' threads may still be running.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        __gnu_cxx::__freeres();
    return TRUE;
}
