#pragma once
// Replaceable wrapper over the file, folder and path functions the loading and
// path code uses. Most operations forward to the Windows function of the same
// name; the lower-case ones are small helpers built on them.

#include <windows.h>

#include <string>

namespace Orvik {

class PathAPI {
public:
    virtual ~PathAPI() = default;

    // True for a non-empty path whose attributes can be read and that is not a directory.
    virtual bool fileExists(const std::wstring& path);
    // True when the attributes can be read and say directory.
    virtual bool directoryExists(const std::wstring& path);
    // True when the runtime's file status succeeds and says regular file.
    virtual bool isRegularFile(const std::wstring& path);
    // Deletes the files of `folder` that match `pattern` (read-only ones too).
    // Sub-folders are left alone. False for an empty, "." or ".." folder, or when
    // a file could not be deleted.
    virtual bool deleteDirectoryContents(const std::wstring& folder, const std::wstring& pattern);
    // Creates one folder; a relative path is taken from the current directory.
    // 0 when created or already there, else the Win32 error (87 for an empty path).
    virtual DWORD createDirectory(const std::wstring& path);
    // Deletes the files in the folder, then the folder. Refuses ".", ".." and
    // anything that is not a directory.
    virtual bool removeDirectory(const std::wstring& path);

    virtual HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
    virtual BOOL MoveFileW(LPCWSTR existing, LPCWSTR target);
    virtual BOOL DeleteFileW(LPCWSTR name);
    virtual BOOL ReadDirectoryChangesW(HANDLE directory, LPVOID buffer, DWORD length, BOOL watchSubtree,
                                       DWORD filter, LPDWORD returned, LPOVERLAPPED overlapped,
                                       LPOVERLAPPED_COMPLETION_ROUTINE completion);
    virtual LPWSTR PathFindFileNameW(LPCWSTR path);
    virtual DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD length);
    virtual DWORD SleepEx(DWORD milliseconds, BOOL alertable);
    virtual BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    virtual BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
    virtual BOOL FindClose(HANDLE find);
    virtual DWORD GetLastError();

    // Reads a UTF-8 text file whole. False when it cannot be opened or read.
    virtual bool readTextFile(const std::wstring& path, std::wstring& text);
    // Writes the text as UTF-8, replacing the file. False when it cannot be
    // opened or written.
    virtual bool writeTextFile(const std::wstring& path, const std::wstring& text);
};

} // namespace Orvik
