#pragma once
// A slim reader/writer lock that meets the standard Lockable and SharedLockable
// requirements, the guards that hold it for one scope, and a condition variable
// that waits on it.

#include <windows.h>

#include <mutex>
#include <shared_mutex>

namespace Orvik {
namespace win {

class SrwLock {
public:
    SrwLock() noexcept = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    void lock() noexcept { ::AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ::ReleaseSRWLockExclusive(&lock_); }
    bool try_lock() noexcept { return ::TryAcquireSRWLockExclusive(&lock_) != FALSE; }
    void lock_shared() noexcept { ::AcquireSRWLockShared(&lock_); }
    void unlock_shared() noexcept { ::ReleaseSRWLockShared(&lock_); }
    bool try_lock_shared() noexcept { return ::TryAcquireSRWLockShared(&lock_) != FALSE; }
    SRWLOCK* native() noexcept { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// Held for writing; may be released and taken again inside its scope.
using ExclusiveGuard = std::unique_lock<SrwLock>;
// Held for reading.
using SharedGuard = std::shared_lock<SrwLock>;

// Waits on an SrwLock held exclusively.
class ConditionVariable {
public:
    ConditionVariable() noexcept = default;
    ConditionVariable(const ConditionVariable&) = delete;
    ConditionVariable& operator=(const ConditionVariable&) = delete;

    void wait(ExclusiveGuard& guard) noexcept
    {
        ::SleepConditionVariableSRW(&variable_, guard.mutex()->native(), INFINITE, 0);
    }
    template <typename Predicate>
    void wait(ExclusiveGuard& guard, Predicate done)
    {
        while (!done())
            wait(guard);
    }
    // Returns after a wake-up or `milliseconds` at most.
    void waitFor(ExclusiveGuard& guard, DWORD milliseconds) noexcept
    {
        ::SleepConditionVariableSRW(&variable_, guard.mutex()->native(), milliseconds, 0);
    }
    void notifyOne() noexcept { ::WakeConditionVariable(&variable_); }
    void notifyAll() noexcept { ::WakeAllConditionVariable(&variable_); }

private:
    CONDITION_VARIABLE variable_ = CONDITION_VARIABLE_INIT;
};

} // namespace win
} // namespace Orvik
