#pragma once
// One owner for every kind of Win32 handle the module opens. A traits type says
// what an empty handle looks like and how to close one; the owner closes exactly
// once and leaves the thread's last error as it found it, so a failure code read
// after an early return is the failing call's, not the close's.

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>

#include <utility>

namespace Orvik {
namespace win {

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
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }

private:
    static bool valid(Handle handle) noexcept { return handle != Traits::invalid() && handle != Handle{}; }

    Handle handle_ = Traits::invalid();
};

// Traits whose empty value is null; `Close` is the release function.
template <typename H, auto Close>
struct NullHandleTraits {
    using Handle = H;
    static constexpr Handle invalid() noexcept { return Handle{}; }
    static void close(Handle handle) noexcept { Close(handle); }
};

// Files, pipes and anything CreateFileW hands out: empty is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) noexcept { ::CloseHandle(handle); }
};

inline void closeCertStore(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
inline void freeLocal(void* memory) noexcept { ::LocalFree(memory); }
inline void freeCoTaskMem(void* memory) noexcept { ::CoTaskMemFree(memory); }
inline void closeRegKey(HKEY key) noexcept { ::RegCloseKey(key); }
inline void freeLibrary(HMODULE module) noexcept { ::FreeLibrary(module); }
inline void closeKernelHandle(HANDLE handle) noexcept { ::CloseHandle(handle); }
inline void closeCryptMsg(HCRYPTMSG message) noexcept { ::CryptMsgClose(message); }
inline void unmapView(const void* view) noexcept { ::UnmapViewOfFile(view); }
inline void freeCertContext(PCCERT_CONTEXT context) noexcept { ::CertFreeCertificateContext(context); }
inline void freeChainContext(PCCERT_CHAIN_CONTEXT chain) noexcept { ::CertFreeCertificateChain(chain); }
inline void releaseCryptProvider(HCRYPTPROV provider) noexcept { ::CryptReleaseContext(provider, 0); }
inline void destroyCryptHash(HCRYPTHASH hash) noexcept { ::CryptDestroyHash(hash); }
// Users of these two link bcrypt.
inline void closeBCryptAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
inline void destroyBCryptHash(BCRYPT_HASH_HANDLE hash) noexcept { ::BCryptDestroyHash(hash); }
inline void destroyCryptKey(HCRYPTKEY key) noexcept { ::CryptDestroyKey(key); }

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
