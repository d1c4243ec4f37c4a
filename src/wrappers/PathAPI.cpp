#include "wrappers/PathAPI.h"

#include "Logging/Logger.h"
#include "win/UniqueHandle.h"

#include <shlwapi.h>
#include <sys/stat.h>

#include <vector>

namespace Orvik {
namespace {

UM_LOG_SOURCE(L"Orvik::PathAPI");

void closeFind(HANDLE find) noexcept
{
    ::FindClose(find);
}

// FindFirstFileW answers INVALID_HANDLE_VALUE for nothing found; FindClose ends it.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) noexcept { closeFind(handle); }
};
using UniqueFind = win::UniqueHandle<FindHandleTraits>;

bool isDotOrDotDot(const std::wstring& name)
{
    return name == L"." || name == L"..";
}

bool isDotOrDotDot(const wchar_t* name)
{
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Text files are UTF-8 on disk and UTF-16 in memory; a leading byte-order
// mark is skipped on reading, and bytes that are not UTF-8 refuse the file.
bool utf8ToWide(const char* bytes, std::size_t size, std::wstring& text)
{
    if (size >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF && static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF) {
        bytes += 3;
        size -= 3;
    }
    if (size == 0) {
        text.clear();
        return true;
    }
    if (size > 0x7FFFFFFF)
        return false;
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr, 0);
    if (length <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), &wide[0], length) != length)
        return false;
    text = std::move(wide);
    return true;
}

} // namespace

bool PathAPI::fileExists(const std::wstring& path)
{
    if (path.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathAPI::directoryExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathAPI::isRegularFile(const std::wstring& path)
{
    struct _stat64 status {};
    return ::_wstat64(path.c_str(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}

bool PathAPI::deleteDirectoryContents(const std::wstring& folder, const std::wstring& pattern)
{
    if (folder.empty() || isDotOrDotDot(folder))
        return false;
    std::wstring prefix = folder;
    if (prefix.back() != L'\\' && prefix.back() != L'/')
        prefix += L'\\';

    WIN32_FIND_DATAW found{};
    UniqueFind find(::FindFirstFileW((prefix + pattern).c_str(), &found));
    if (!find)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND; // nothing matched: nothing to delete

    bool allDeleted = true;
    do {
        if (isDotOrDotDot(found.cFileName) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        const std::wstring path = prefix + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
            ::SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (!::DeleteFileW(path.c_str()))
            allDeleted = false;
    } while (::FindNextFileW(find.get(), &found));
    return allDeleted;
}

DWORD PathAPI::createDirectory(const std::wstring& path)
{
    if (path.empty())
        return ERROR_INVALID_PARAMETER;
    std::wstring full = path;
    if (::PathIsRelativeW(path.c_str())) {
        const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
        if (length == 0)
            return ::GetLastError();
        std::wstring current(length, L'\0');
        const DWORD written = ::GetCurrentDirectoryW(length, &current[0]);
        if (written == 0 || written >= length)
            return written == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        current.resize(written);
        full = current + L'\\' + path;
    }
    if (::CreateDirectoryW(full.c_str(), nullptr))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS && directoryExists(full) ? ERROR_SUCCESS : error;
}

bool PathAPI::removeDirectory(const std::wstring& path)
{
    if (isDotOrDotDot(path) || !directoryExists(path))
        return false;
    deleteDirectoryContents(path, L"*.*");
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

HANDLE PathAPI::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile)
{
    return ::CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

BOOL PathAPI::MoveFileW(LPCWSTR existing, LPCWSTR target)
{
    return ::MoveFileW(existing, target);
}

BOOL PathAPI::DeleteFileW(LPCWSTR name)
{
    return ::DeleteFileW(name);
}

BOOL PathAPI::ReadDirectoryChangesW(HANDLE directory, LPVOID buffer, DWORD length, BOOL watchSubtree, DWORD filter,
                                    LPDWORD returned, LPOVERLAPPED overlapped,
                                    LPOVERLAPPED_COMPLETION_ROUTINE completion)
{
    return ::ReadDirectoryChangesW(directory, buffer, length, watchSubtree, filter, returned, overlapped,
                                   completion);
}

LPWSTR PathAPI::PathFindFileNameW(LPCWSTR path)
{
    return ::PathFindFileNameW(path);
}

DWORD PathAPI::GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD length)
{
    return ::GetLongPathNameW(shortPath, longPath, length);
}

DWORD PathAPI::SleepEx(DWORD milliseconds, BOOL alertable)
{
    return ::SleepEx(milliseconds, alertable);
}

BOOL PathAPI::CancelIoEx(HANDLE file, LPOVERLAPPED overlapped)
{
    return ::CancelIoEx(file, overlapped);
}

BOOL PathAPI::CloseHandle(HANDLE handle)
{
    return ::CloseHandle(handle);
}

HANDLE PathAPI::FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    return ::FindFirstFileW(pattern, data);
}

BOOL PathAPI::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data)
{
    return ::FindNextFileW(find, data);
}

BOOL PathAPI::FindClose(HANDLE find)
{
    return ::FindClose(find);
}

DWORD PathAPI::GetLastError()
{
    return ::GetLastError();
}

bool PathAPI::readTextFile(const std::wstring& path, std::wstring& text)
{
    if (path.empty())
        return false;
    win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF)
        return false;
    try {
        std::vector<char> bytes(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!bytes.empty() &&
            (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
             read != bytes.size()))
            return false;
        return utf8ToWide(bytes.data(), bytes.size(), text);
    } catch (...) {
        logging::error(UM_HERE, L"Failed to read %ls: it is too large to hold.", path.c_str());
        return false;
    }
}

bool PathAPI::writeTextFile(const std::wstring& path, const std::wstring& text)
{
    if (path.empty() || text.size() > 0x7FFFFFFF)
        return false;
    try {
        std::string bytes;
        if (!text.empty()) {
            const int length = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                                     static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
            if (length <= 0)
                return false;
            bytes.resize(static_cast<std::size_t>(length));
            ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                  &bytes[0], length, nullptr, nullptr);
        }
        win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        return bytes.empty() ||
               (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size());
    } catch (...) {
        logging::error(UM_HERE, L"Failed to write %ls: its text is too large to hold.", path.c_str());
        return false;
    }
}

} // namespace Orvik
