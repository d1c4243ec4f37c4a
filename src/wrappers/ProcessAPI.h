#pragma once
// Replaceable wrapper over the process and session functions of Windows: every
// operation forwards to the function of the same name, so callers can be handed
// a substitute.

#include <windows.h>

namespace Orvik {

class ProcessAPI {
public:
    virtual ~ProcessAPI() = default;

    virtual DWORD GetCurrentProcessId();
    virtual DWORD GetProcessId(HANDLE process);
    virtual BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
    virtual DWORD WTSGetActiveConsoleSessionId();
    virtual HANDLE GetCurrentProcess();
    virtual BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes,
                                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                      DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                      LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation);
    virtual BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAllPrivileges, PTOKEN_PRIVILEGES newState,
                                       DWORD bufferLength, PTOKEN_PRIVILEGES previousState, PDWORD returnLength);
    virtual BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid);
    virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
    virtual BOOL TerminateProcess(HANDLE process, UINT exitCode);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual DWORD GetLastError();
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
};

} // namespace Orvik
