#pragma once
// Owners for the handles the trust code opens: files, registry keys, libraries,
// certificate stores, messages, certificates and chains. Each closes its handle
// exactly once, on destruction or reset.

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <utility>

namespace Orvik {
namespace trust {

template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::valid(handle_); }

    // For out-parameters: closes what is held and hands out the slot.
    Handle* put() noexcept
    {
        reset();
        return &handle_;
    }

    Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }

    void reset(Handle handle = Traits::invalid()) noexcept
    {
        if (Traits::valid(handle_))
            Traits::close(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::invalid();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) noexcept { ::CloseHandle(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::RegCloseKey(h); }
};

struct LibraryTraits {
    using Handle = HMODULE;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::FreeLibrary(h); }
};

struct CertStoreTraits {
    using Handle = HCERTSTORE;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::CertCloseStore(h, 0); }
};

struct CryptMsgTraits {
    using Handle = HCRYPTMSG;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::CryptMsgClose(h); }
};

struct CertContextTraits {
    using Handle = PCCERT_CONTEXT;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::CertFreeCertificateContext(h); }
};

struct ChainContextTraits {
    using Handle = PCCERT_CHAIN_CONTEXT;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::CertFreeCertificateChain(h); }
};

struct LocalMemoryTraits {
    using Handle = void*;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::LocalFree(h); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueLibrary = UniqueResource<LibraryTraits>;
using UniqueCertStore = UniqueResource<CertStoreTraits>;
using UniqueCryptMsg = UniqueResource<CryptMsgTraits>;
using UniqueCertContext = UniqueResource<CertContextTraits>;
using UniqueChainContext = UniqueResource<ChainContextTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

// Releases a COM interface pointer when it goes out of scope.
template <typename Interface>
class ComReleaser {
public:
    explicit ComReleaser(Interface* object) noexcept : object_(object) {}
    ~ComReleaser()
    {
        if (object_ != nullptr)
            object_->Release();
    }
    ComReleaser(const ComReleaser&) = delete;
    ComReleaser& operator=(const ComReleaser&) = delete;

private:
    Interface* object_;
};

// Describes one file to WinVerifyTrust: no UI, no revocation, the given state
// action and provider flags. `data` points at `file`, which must outlive it.
inline void describeFileForTrust(const wchar_t* path, DWORD stateAction, DWORD providerFlags,
                                 WINTRUST_FILE_INFO& file, WINTRUST_DATA& data)
{
    file = WINTRUST_FILE_INFO{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    data = WINTRUST_DATA{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = stateAction;
    data.dwProvFlags = providerFlags;
}

} // namespace trust
} // namespace Orvik
