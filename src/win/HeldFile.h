#pragma once
// A file held open so that what is read through the handle stays what its
// path names: while it is held nobody can write to the file and, unless the
// holder allows it, nobody can rename or delete it. A check that reads the
// file through get() and a load of path() made while the file is still held
// therefore see the same bytes.

#include "win/UniqueHandle.h"

#include <string>

namespace Orvik {
namespace win {

class HeldFile {
public:
    // Whether others may rename or delete the file while it is held. Its
    // content cannot change either way; allowing replacement suits files that
    // are only ever replaced whole and must not block their installer.
    enum class Replacement { Denied, Allowed };

    HeldFile() noexcept = default;
    // Opens `path` for reading. Fails (see openError) when someone else has
    // the file open for writing, or, with replacement denied, for deleting.
    explicit HeldFile(const std::wstring& path, Replacement replacement = Replacement::Denied)
    {
        const DWORD share = FILE_SHARE_READ | (replacement == Replacement::Allowed ? FILE_SHARE_DELETE : 0);
        file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (!file_) {
            error_ = ::GetLastError();
            path_ = path;
            return;
        }
        error_ = ERROR_SUCCESS;
        path_ = resolvedPath(file_.get(), path);
    }

    HANDLE get() const noexcept { return file_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(file_); }
    // Why the file could not be opened; 0 while it is held.
    DWORD openError() const noexcept { return error_; }
    // The path the open handle resolves to (links followed, so no folder on it
    // can be swapped for another while the file is held); the path asked for
    // when that cannot be told.
    const std::wstring& path() const noexcept { return path_; }

    // Puts the handle back at the start for the next reader.
    bool rewind() const noexcept
    {
        LARGE_INTEGER start{};
        return ::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) != FALSE;
    }

    // Loads the held file as a library (LoadLibraryExW flags); the file stays
    // held until the load has returned. Null with the last error set on failure.
    UniqueLibrary loadLibrary(DWORD flags) const noexcept
    {
        if (!file_) {
            ::SetLastError(error_ != ERROR_SUCCESS ? error_ : ERROR_INVALID_HANDLE);
            return UniqueLibrary();
        }
        return UniqueLibrary(::LoadLibraryExW(path_.c_str(), nullptr, flags));
    }

private:
    static std::wstring resolvedPath(HANDLE file, const std::wstring& fallback)
    {
        std::wstring path(MAX_PATH, L'\0');
        DWORD length = ::GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()), 0);
        if (length >= path.size()) {
            path.resize(length);
            length = ::GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()), 0);
        }
        if (length == 0 || length >= path.size())
            return fallback;
        path.resize(length);
        // Plain DOS forms keep module names and messages readable.
        if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
            return L"\\\\" + path.substr(8);
        if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() > 6 && path[5] == L':' && path[6] == L'\\')
            return path.substr(4);
        return path;
    }

    UniqueFile file_;
    std::wstring path_;
    DWORD error_ = ERROR_INVALID_HANDLE;
};

} // namespace win
} // namespace Orvik
