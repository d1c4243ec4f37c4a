#include "Logging/Logger.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetLoggerIdentity(nullptr, L"UpdateModule", instance, nullptr, 0);
    return TRUE;
}
