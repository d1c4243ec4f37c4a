#pragma once
// Test hook of the sandbox's trust providers: with UM_TRUST_PAUSE=<name> in the
// environment, signals the event "<name>-reached" and waits (10 s at most) for
// "<name>-go", so a test can act at exactly this point of a check. Without the
// variable it does nothing.

#include "win/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace sandbox {

inline void pauseForTest()
{
    wchar_t name[128] = {};
    const DWORD length = GetEnvironmentVariableW(L"UM_TRUST_PAUSE", name, 100);
    if (length == 0 || length >= 100)
        return;
    const std::wstring base(name, length);
    Orvik::win::UniqueKernelHandle reached(OpenEventW(EVENT_MODIFY_STATE, FALSE, (base + L"-reached").c_str()));
    Orvik::win::UniqueKernelHandle go(OpenEventW(SYNCHRONIZE, FALSE, (base + L"-go").c_str()));
    if (reached)
        SetEvent(reached.get());
    if (go)
        WaitForSingleObject(go.get(), 10000);
}

} // namespace sandbox
