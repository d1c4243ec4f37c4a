#pragma once
// Replaceable wrapper over library loading. Loading runs the signed-library
// check first: a file that fails it is never mapped into the process.

#include <windows.h>

#include <string>

namespace Orvik {

class DllAPI {
public:
    virtual ~DllAPI() = default;

    // Loads the library only when its file validates. On failure the thread's
    // last error holds the reason (the validation's code for a refused file)
    // and `module` is null.
    virtual bool loadLibrary(const std::wstring& path, HMODULE* module);
    virtual FARPROC GetProcAddress(HMODULE module, LPCSTR name);
    // True when the file passes the signed-library check; false for an empty path.
    virtual bool isTrusted(const std::wstring& path);
    virtual bool FreeLibrary(HMODULE module);
    virtual bool GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);

private:
    // Validation and load of one file; 0 or the Win32 error.
    static DWORD loadValidated(const std::wstring& path, HMODULE* module);
};

} // namespace Orvik
