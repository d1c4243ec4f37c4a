#pragma once
// Small RAII owners over Win32 synchronisation and handles.

#include <windows.h>

#include <mutex>

namespace busbroker {

class SrwLock {
public:
    SrwLock() = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;
    void lock() { ::AcquireSRWLockExclusive(&lock_); }
    void unlock() { ::ReleaseSRWLockExclusive(&lock_); }
    SRWLOCK* native() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

using Guard = std::unique_lock<SrwLock>;

class ConditionVariable {
public:
    ConditionVariable() = default;
    ConditionVariable(const ConditionVariable&) = delete;
    ConditionVariable& operator=(const ConditionVariable&) = delete;

    void wait(Guard& guard) { ::SleepConditionVariableSRW(&variable_, guard.mutex()->native(), INFINITE, 0); }
    template <typename Predicate>
    void wait(Guard& guard, Predicate done)
    {
        while (!done())
            wait(guard);
    }
    // Returns after a wake-up or `milliseconds` at most.
    void waitFor(Guard& guard, DWORD milliseconds)
    {
        ::SleepConditionVariableSRW(&variable_, guard.mutex()->native(), milliseconds, 0);
    }
    void notifyOne() { ::WakeConditionVariable(&variable_); }
    void notifyAll() { ::WakeAllConditionVariable(&variable_); }

private:
    CONDITION_VARIABLE variable_ = CONDITION_VARIABLE_INIT;
};

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    HANDLE get() const { return handle_; }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr)
    {
        if (handle_ != nullptr)
            ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

} // namespace busbroker
