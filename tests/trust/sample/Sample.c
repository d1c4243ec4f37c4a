/* A small library to sign in every way the trust tests need. */
#include <windows.h>

__attribute__((dllexport)) int TrustSampleAnswer(void)
{
    return 42;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
