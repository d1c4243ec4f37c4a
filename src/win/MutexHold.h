#pragma once
// Holds a (possibly named, cross-process) mutex for one scope once it was had
// within a time limit. A null mutex is never held.

#include <windows.h>

namespace Orvik {
namespace win {

class MutexHold {
public:
    MutexHold(HANDLE mutex, DWORD timeoutMs) noexcept : mutex_(mutex)
    {
        if (mutex_ == nullptr)
            return;
        const DWORD waited = ::WaitForSingleObject(mutex_, timeoutMs);
        // An abandoned mutex is owned all the same: its last owner died mid-write.
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~MutexHold()
    {
        if (held_)
            ::ReleaseMutex(mutex_);
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

    bool held() const noexcept { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

} // namespace win
} // namespace Orvik
