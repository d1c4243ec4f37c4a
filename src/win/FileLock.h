#pragma once
// A lock on a whole open file, shared or exclusive, held until destruction.
// Another process holding a conflicting lock is waited for, but not for ever.

#include "win/UniqueHandle.h"

#include <windows.h>

namespace Orvik {
namespace win {

class WholeFileLock {
public:
    WholeFileLock(HANDLE file, bool exclusive, DWORD patienceMs, DWORD retryMs = 20) noexcept : file_(file)
    {
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        const ULONGLONG deadline = ::GetTickCount64() + patienceMs;
        for (;;) {
            OVERLAPPED at{};
            if (::LockFileEx(file_, flags, 0, MAXDWORD, MAXDWORD, &at)) {
                locked_ = true;
                return;
            }
            const DWORD error = ::GetLastError();
            if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
                return;
            if (::GetTickCount64() >= deadline)
                return;
            ::Sleep(retryMs);
        }
    }
    ~WholeFileLock()
    {
        if (locked_) {
            const DWORD lastError = ::GetLastError();
            OVERLAPPED at{};
            [[maybe_unused]] const BOOL unlocked = ::UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &at);
#ifndef NDEBUG
            if (!unlocked)
                detail::reportCloseFailure(::GetLastError());
#endif
            ::SetLastError(lastError);
        }
    }
    WholeFileLock(const WholeFileLock&) = delete;
    WholeFileLock& operator=(const WholeFileLock&) = delete;

    bool locked() const noexcept { return locked_; }

private:
    HANDLE file_;
    bool locked_ = false;
};

} // namespace win
} // namespace Orvik
