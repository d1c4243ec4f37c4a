// The entry point of every sandbox library: a library that is loaded and
// unloaded again and again (the broker with each module, a COM server) hands
// back what the static C++ runtime allocated for itself, above all its
// emergency exception pool, when it is unloaded, not at process exit.

#include <windows.h>

namespace __gnu_cxx {
void __freeres() noexcept;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        __gnu_cxx::__freeres();
    return TRUE;
}
