#pragma once
// Replaceable OS version test. Deliberately one slot and no virtual destructor:
// owners hold it through a shared pointer, which deletes the type it was made as.

#include <windows.h>

namespace Basalt {

class WinOSVersionAPI {
public:
    virtual BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG conditionMask);
};

} // namespace Basalt
