#pragma once
// Typed reads of registry values. Every read names the types it takes
// (RRF_RT_* flags), never expands environment strings, grows its buffer until
// the value fits and answers with a result that tells a missing value from a
// failed read and keeps the Win32 code of either. A key is opened in an
// explicit registry view, so what a 32-bit and a 64-bit build read is decided
// here and not by the process that happens to run the code.

#include "win/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace Orvik {
namespace win {

// Which registry view a key is opened in.
enum class RegistryView : REGSAM {
    Native = 0,                 // the process's own
    Bit64 = KEY_WOW64_64KEY,
    Bit32 = KEY_WOW64_32KEY,
};

inline constexpr DWORD kRegistryStringTypes = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ;

// The outcome of one read: the value and its stored type, or the Win32 code of
// why there is none. A missing key or value is absent; anything else that went
// wrong (a type not asked for, a denied read) failed.
template <typename T>
struct RegistryRead {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    T value{};

    bool ok() const noexcept { return status == ERROR_SUCCESS; }
    bool absent() const noexcept { return status == ERROR_FILE_NOT_FOUND; }
    bool failed() const noexcept { return !ok() && !absent(); }
};

namespace registry_detail {

// A value may grow between the call that sizes it and the call that reads it.
constexpr int kReadAttempts = 4;
constexpr DWORD kFirstGuessBytes = 128;

inline LONG getValue(HKEY key, const wchar_t* name, DWORD flags, DWORD* type, void* data, DWORD* bytes) noexcept
{
    return ::RegGetValueW(key, nullptr, name, flags, type, data, bytes);
}

inline LONG getValue(HKEY key, const char* name, DWORD flags, DWORD* type, void* data, DWORD* bytes) noexcept
{
    return ::RegGetValueA(key, nullptr, name, flags, type, data, bytes);
}

// The stored bytes of a value of one of `types`, `bytes` long in the end.
template <typename Name>
RegistryRead<std::vector<BYTE>> readBytes(HKEY key, Name name, DWORD types) noexcept
{
    RegistryRead<std::vector<BYTE>> read;
    try {
        read.value.resize(kFirstGuessBytes);
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            DWORD bytes = static_cast<DWORD>(read.value.size());
            read.status = getValue(key, name, types | RRF_NOEXPAND, &read.type, read.value.data(), &bytes);
            if (read.status == ERROR_MORE_DATA) {
                // Room for a terminator the stored string may lack.
                read.value.resize(static_cast<std::size_t>(bytes) + sizeof(wchar_t));
                continue;
            }
            read.value.resize(read.status == ERROR_SUCCESS ? std::min<std::size_t>(bytes, read.value.size()) : 0);
            return read;
        }
        read.value.clear();
    } catch (const std::bad_alloc&) {
        read.status = ERROR_OUTOFMEMORY;
        read.value.clear();
    }
    return read;
}

} // namespace registry_detail

// Raw bytes as stored, of any type unless `types` says otherwise.
inline RegistryRead<std::vector<BYTE>> readBytes(HKEY key, const wchar_t* name, DWORD types = RRF_RT_ANY) noexcept
{
    return registry_detail::readBytes(key, name, types);
}

// The same for a value name in the thread's ANSI code page.
inline RegistryRead<std::vector<BYTE>> readBytes(HKEY key, const char* name, DWORD types = RRF_RT_ANY) noexcept
{
    return registry_detail::readBytes(key, name, types);
}

// A string value, cut at its first null; a value stored without a terminating
// null reads whole.
inline RegistryRead<std::wstring> readString(HKEY key, const wchar_t* name,
                                             DWORD types = kRegistryStringTypes) noexcept
{
    RegistryRead<std::wstring> read;
    RegistryRead<std::vector<BYTE>> raw = readBytes(key, name, types);
    read.status = raw.status;
    read.type = raw.type;
    if (!raw.ok())
        return read;
    try {
        const auto* begin = reinterpret_cast<const wchar_t*>(raw.value.data());
        const auto* end = begin + raw.value.size() / sizeof(wchar_t);
        read.value.assign(begin, std::find(begin, end, L'\0'));
    } catch (const std::bad_alloc&) {
        read.status = ERROR_OUTOFMEMORY;
    }
    return read;
}

// A REG_DWORD of exactly four bytes.
inline RegistryRead<DWORD> readDword(HKEY key, const wchar_t* name) noexcept
{
    RegistryRead<DWORD> read;
    DWORD bytes = sizeof(read.value);
    read.status = ::RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, &read.type, &read.value, &bytes);
    if (read.status == ERROR_SUCCESS && bytes != sizeof(read.value))
        read.status = ERROR_INVALID_DATA;
    if (read.status != ERROR_SUCCESS)
        read.value = 0;
    return read;
}

// RegQueryValueExW as it is, for callers that size their own buffers and
// want its exact answers (ERROR_MORE_DATA with the size needed).
inline LONG queryValue(HKEY key, const wchar_t* name, DWORD* type, void* data, DWORD* bytes) noexcept
{
    return ::RegQueryValueExW(key, name, nullptr, type, static_cast<BYTE*>(data), bytes);
}

// An open key, owned; empty with the Win32 code when it did not open.
class RegistryKey {
public:
    RegistryKey() noexcept = default;

    static RegistryKey open(HKEY parent, const std::wstring& path, RegistryView view,
                            REGSAM access = KEY_READ) noexcept
    {
        RegistryKey key;
        key.status_ = ::RegOpenKeyExW(parent, path.c_str(), 0, access | static_cast<REGSAM>(view), key.key_.put());
        if (key.status_ != ERROR_SUCCESS)
            key.key_.reset();
        return key;
    }

    explicit operator bool() const noexcept { return static_cast<bool>(key_); }
    HKEY get() const noexcept { return key_.get(); }
    // ERROR_SUCCESS when open; ERROR_FILE_NOT_FOUND when the key does not exist.
    LONG status() const noexcept { return status_; }
    bool absent() const noexcept { return status_ == ERROR_FILE_NOT_FOUND; }

    RegistryRead<std::wstring> readString(const wchar_t* name, DWORD types = kRegistryStringTypes) const noexcept
    {
        return key_ ? win::readString(key_.get(), name, types) : notOpen<std::wstring>();
    }
    RegistryRead<DWORD> readDword(const wchar_t* name) const noexcept
    {
        return key_ ? win::readDword(key_.get(), name) : notOpen<DWORD>();
    }
    RegistryRead<std::vector<BYTE>> readBytes(const wchar_t* name, DWORD types = RRF_RT_ANY) const noexcept
    {
        return key_ ? win::readBytes(key_.get(), name, types) : notOpen<std::vector<BYTE>>();
    }

private:
    template <typename T>
    RegistryRead<T> notOpen() const noexcept
    {
        RegistryRead<T> read;
        read.status = status_;
        return read;
    }

    UniqueRegKey key_;
    LONG status_ = ERROR_INVALID_HANDLE;
};

} // namespace win
} // namespace Orvik
