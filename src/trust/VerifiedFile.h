#pragma once
// A file that went through the trust check and stays held, unchangeable and
// in place, until its code is loaded: the way to load a library after
// validating it.
//
//     Orvik::VerifiedFile file = Orvik::VerifiedFile::open(path);
//     if (!file.trusted())
//         return file.status();             // 87 bad path, 5 not trusted
//     win::UniqueLibrary library = file.load(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
//
// From open() until the object is gone nobody can write to the file, rename
// it or delete it. Every check reads it through the one open handle
// (WinVerifyTrust is given that handle), and load() loads it by the path the
// handle resolves to, so the code loaded is the code checked. Keep the object
// alive until load() has returned; destroying it lets go of the file.

#include "win/HeldFile.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace Orvik {

namespace trust {
class TrustValidator;
}

class VerifiedFile {
public:
    // Opens `path` and checks it with the process's validator: the rules and
    // results of validateFile.
    static VerifiedFile open(const wchar_t* path);
    // The same with a given validator.
    static VerifiedFile open(const wchar_t* path, const trust::TrustValidator& validator);

    VerifiedFile(VerifiedFile&&) noexcept = default;
    VerifiedFile& operator=(VerifiedFile&&) noexcept = default;

    // 0 trusted, 87 for a missing or empty path, 5 not trusted (also when the
    // file cannot be opened and held).
    DWORD status() const noexcept { return status_; }
    bool trusted() const noexcept { return status_ == ERROR_SUCCESS; }
    // The path the held handle resolves to.
    const std::wstring& path() const noexcept { return file_.path(); }
    const win::HeldFile& file() const noexcept { return file_; }

    // Loads the still-held file (LoadLibraryExW flags). Null with the last
    // error set when the load fails, and with ERROR_ACCESS_DENIED when the
    // file was not trusted.
    win::UniqueLibrary load(DWORD flags) const;

private:
    VerifiedFile(win::HeldFile file, DWORD status) noexcept : file_(std::move(file)), status_(status) {}

    win::HeldFile file_;
    DWORD status_ = ERROR_ACCESS_DENIED;
};

} // namespace Orvik
