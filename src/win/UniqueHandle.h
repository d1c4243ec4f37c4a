#pragma once
// One owner for every kind of Win32 handle the module opens. A traits type says
// what an empty handle looks like and how to close one; the owner closes exactly
// once and leaves the thread's last error as it found it, so a failure code read
// after an early return is the failing call's, not the close's. A close that
// fails (a traits close answering false) is told to the debugger in debug
// builds: it means a handle was closed twice or was never ours.

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>

#include <type_traits>
#include <utility>

namespace Orvik {
namespace win {

namespace detail {
// "UpdateModule: closing a handle failed (error <n>)" on the debugger output;
// built by hand, since the owners use nothing that could fail or allocate.
inline void reportCloseFailure(DWORD error) noexcept
{
    wchar_t text[80] = L"UpdateModule: closing a handle failed (error ";
    std::size_t used = 0;
    while (text[used] != L'\0')
        ++used;
    wchar_t digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + error % 10);
        error /= 10;
    } while (error != 0);
    while (count > 0)
        text[used++] = digits[--count];
    text[used++] = L')';
    text[used++] = L'\n';
    text[used] = L'\0';
    ::OutputDebugStringW(text);
}
} // namespace detail

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return valid(handle_); }

    // For out-parameters: closes what is held and hands out the slot.
    Handle* put() noexcept
    {
        reset();
        return &handle_;
    }

    [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }

    void reset(Handle handle = Traits::invalid()) noexcept
    {
        const Handle old = std::exchange(handle_, handle);
        if (valid(old)) {
            const DWORD lastError = ::GetLastError();
            if constexpr (std::is_same_v<decltype(Traits::close(old)), bool>) {
                [[maybe_unused]] const bool closed = Traits::close(old);
#ifndef NDEBUG
                if (!closed)
                    detail::reportCloseFailure(::GetLastError());
#endif
            } else {
                Traits::close(old);
            }
            ::SetLastError(lastError);
        }
    }

private:
    static bool valid(Handle handle) noexcept { return handle != Traits::invalid() && handle != Handle{}; }

    Handle handle_ = Traits::invalid();
};

// Traits whose empty value is null; `Close` is the release function. A close
// function that answers bool says whether the handle was closed.
template <typename H, auto Close>
struct NullHandleTraits {
    using Handle = H;
    static constexpr Handle invalid() noexcept { return Handle{}; }
    static auto close(Handle handle) noexcept { return Close(handle); }
};

// Files, pipes and anything CreateFileW hands out: empty is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }
};

inline bool closeCertStore(HCERTSTORE store) noexcept { return ::CertCloseStore(store, 0) != FALSE; }
inline bool freeLocal(void* memory) noexcept { return ::LocalFree(memory) == nullptr; }
inline void freeCoTaskMem(void* memory) noexcept { ::CoTaskMemFree(memory); }
inline bool closeRegKey(HKEY key) noexcept
{
    const LSTATUS status = ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        ::SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}
inline bool freeLibrary(HMODULE module) noexcept { return ::FreeLibrary(module) != FALSE; }
inline bool closeKernelHandle(HANDLE handle) noexcept { return ::CloseHandle(handle) != FALSE; }
inline bool closeCryptMsg(HCRYPTMSG message) noexcept { return ::CryptMsgClose(message) != FALSE; }
inline bool unmapView(const void* view) noexcept { return ::UnmapViewOfFile(view) != FALSE; }
inline bool freeCertContext(PCCERT_CONTEXT context) noexcept { return ::CertFreeCertificateContext(context) != FALSE; }
inline void freeChainContext(PCCERT_CHAIN_CONTEXT chain) noexcept { ::CertFreeCertificateChain(chain); }
inline bool releaseCryptProvider(HCRYPTPROV provider) noexcept { return ::CryptReleaseContext(provider, 0) != FALSE; }
inline bool destroyCryptHash(HCRYPTHASH hash) noexcept { return ::CryptDestroyHash(hash) != FALSE; }
// Users of these two link bcrypt.
inline bool closeBCryptAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept
{
    return BCRYPT_SUCCESS(::BCryptCloseAlgorithmProvider(algorithm, 0));
}
inline bool destroyBCryptHash(BCRYPT_HASH_HANDLE hash) noexcept { return BCRYPT_SUCCESS(::BCryptDestroyHash(hash)); }
inline bool destroyCryptKey(HCRYPTKEY key) noexcept { return ::CryptDestroyKey(key) != FALSE; }

using UniqueFile = UniqueHandle<FileHandleTraits>;
// Events, mutexes, threads, processes: empty is null.
using UniqueKernelHandle = UniqueHandle<NullHandleTraits<HANDLE, closeKernelHandle>>;
using UniqueEvent = UniqueKernelHandle;
using UniqueMutex = UniqueKernelHandle;
using UniqueRegKey = UniqueHandle<NullHandleTraits<HKEY, closeRegKey>>;
// A view of a file mapping (MapViewOfFile).
using UniqueMappedView = UniqueHandle<NullHandleTraits<const void*, unmapView>>;
using UniqueLibrary = UniqueHandle<NullHandleTraits<HMODULE, freeLibrary>>;
using UniqueCertStore = UniqueHandle<NullHandleTraits<HCERTSTORE, closeCertStore>>;
using UniqueCertContext = UniqueHandle<NullHandleTraits<PCCERT_CONTEXT, freeCertContext>>;
using UniqueChainContext = UniqueHandle<NullHandleTraits<PCCERT_CHAIN_CONTEXT, freeChainContext>>;
using UniqueCryptMsg = UniqueHandle<NullHandleTraits<HCRYPTMSG, closeCryptMsg>>;
using UniqueLocalMemory = UniqueHandle<NullHandleTraits<void*, freeLocal>>;
// Strings and blocks the shell and COM hand out for the caller to free.
template <typename T>
using UniqueCoTaskMem = UniqueHandle<NullHandleTraits<T*, freeCoTaskMem>>;
using UniqueCryptProvider = UniqueHandle<NullHandleTraits<HCRYPTPROV, releaseCryptProvider>>;
using UniqueCryptHash = UniqueHandle<NullHandleTraits<HCRYPTHASH, destroyCryptHash>>;
using UniqueBCryptAlgorithm = UniqueHandle<NullHandleTraits<BCRYPT_ALG_HANDLE, closeBCryptAlgorithm>>;
using UniqueBCryptHash = UniqueHandle<NullHandleTraits<BCRYPT_HASH_HANDLE, destroyBCryptHash>>;
using UniqueCryptKey = UniqueHandle<NullHandleTraits<HCRYPTKEY, destroyCryptKey>>;

} // namespace win
} // namespace Orvik
