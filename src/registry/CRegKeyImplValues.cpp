#include "registry/CRegKeyImpl.h"

#include "win/Registry.h"

#include <objbase.h>

#include <new>
#include <vector>

namespace Basalt {
namespace internal {
namespace {

// Byte capacity of a buffer of `chars` wide characters, kept within a DWORD.
ULONG bytesFor(ULONG chars) noexcept
{
    return chars > MAXDWORD / sizeof(wchar_t) ? MAXDWORD - 1 : chars * static_cast<ULONG>(sizeof(wchar_t));
}

// A typed query read a value of `expected` type and exactly `size` bytes; 234
// (value larger than the buffer) is a wrong shape for a fixed-size type.
LONG checkFixed(LONG result, DWORD type, DWORD expected, ULONG got, ULONG size) noexcept
{
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != expected || result == ERROR_MORE_DATA || got != size)
        return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

} // namespace

LONG CRegKeyImpl::QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    return Orvik::win::queryValue(key_.get(), name, type, data, size);
}

LONG CRegKeyImpl::SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size)
{
    if (!key_ || data == nullptr || size == 0)
        return ERROR_INVALID_PARAMETER;
    return ::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegKeyImpl::SetGUIDValue(LPCWSTR name, REFGUID value)
{
    wchar_t text[64];
    if (::StringFromGUID2(value, text, 64) == 0)
        return ERROR_INVALID_DATA;
    return SetStringValue(name, text, REG_SZ);
}

LONG CRegKeyImpl::SetBinaryValue(LPCWSTR name, const void* data, ULONG size)
{
    return SetValue(name, REG_BINARY, data, size);
}

LONG CRegKeyImpl::SetDWORDValue(LPCWSTR name, DWORD value)
{
    return SetValue(name, REG_DWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetQWORDValue(LPCWSTR name, ULONGLONG value)
{
    return SetValue(name, REG_QWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetStringValue(LPCWSTR name, LPCWSTR text, DWORD type)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    if (text == nullptr)
        return ERROR_INVALID_DATA;
    // Only the two single-string types carry one terminator.
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_PARAMETER;
    const size_t chars = ::wcslen(text) + 1;
    if (chars > MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_PARAMETER;
    return SetValue(name, type, text, static_cast<ULONG>(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::SetMultiStringValue(LPCWSTR name, LPCWSTR list)
{
    if (!key_)
        return ERROR_INVALID_PARAMETER;
    if (list == nullptr)
        return ERROR_INVALID_DATA;
    // Every string with its terminator, then the empty string that ends the list.
    size_t chars = 0;
    for (;;) {
        const size_t length = ::wcslen(list + chars);
        chars += length + 1;
        if (length == 0)
            break;
    }
    if (chars > MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_PARAMETER;
    return SetValue(name, REG_MULTI_SZ, list, static_cast<ULONG>(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::QueryGUIDValue(LPCWSTR name, GUID& value)
{
    value = GUID{};
    wchar_t text[64];
    ULONG chars = 64;
    const LONG result = QueryStringValue(name, text, &chars);
    if (result == ERROR_MORE_DATA)
        return ERROR_INVALID_DATA; // longer than any GUID text
    if (result != ERROR_SUCCESS)
        return result;
    if (chars == 0 || text[0] != L'{')
        return ERROR_INVALID_DATA;
    GUID parsed;
    if (FAILED(::CLSIDFromString(text, &parsed)))
        return ERROR_INVALID_DATA;
    value = parsed;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryBinaryValue(LPCWSTR name, void* data, ULONG* size)
{
    if (size == nullptr)
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_NONE;
    const LONG result = QueryValue(name, &type, data, size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_BINARY)
        return ERROR_INVALID_DATA;
    return result;
}

LONG CRegKeyImpl::QueryDWORDValue(LPCWSTR name, DWORD& value)
{
    DWORD type = REG_NONE;
    DWORD read = 0;
    ULONG size = sizeof(read);
    const LONG queried = QueryValue(name, &type, &read, &size);
    const LONG result = checkFixed(queried, type, REG_DWORD, size, sizeof(read));
    if (result == ERROR_SUCCESS)
        value = read;
    return result;
}

LONG CRegKeyImpl::QueryQWORDValue(LPCWSTR name, ULONGLONG& value)
{
    DWORD type = REG_NONE;
    ULONGLONG read = 0;
    ULONG size = sizeof(read);
    const LONG queried = QueryValue(name, &type, &read, &size);
    const LONG result = checkFixed(queried, type, REG_QWORD, size, sizeof(read));
    if (result == ERROR_SUCCESS)
        value = read;
    return result;
}

LONG CRegKeyImpl::QueryStringValue(LPCWSTR name, std::wstring& value)
{
    ULONG chars = 0;
    LONG result = QueryStringValue(name, nullptr, &chars);
    if (result != ERROR_SUCCESS)
        return result;
    std::vector<wchar_t> buffer;
    try {
        buffer.resize(chars == 0 ? 1 : chars);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    chars = static_cast<ULONG>(buffer.size());
    result = QueryStringValue(name, buffer.data(), &chars);
    if (result != ERROR_SUCCESS)
        return result;
    try {
        value.assign(buffer.data(), chars == 0 ? 0 : chars - 1);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars)
{
    if (chars == nullptr)
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_NONE;
    ULONG size = buffer == nullptr ? 0 : bytesFor(*chars);
    const ULONG capacity = size;
    *chars = 0;
    const LONG result = QueryValue(name, &type, buffer, &size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (size % sizeof(wchar_t) != 0)
        return ERROR_INVALID_DATA;
    if (result == ERROR_MORE_DATA) {
        *chars = size / sizeof(wchar_t);
        return result;
    }
    if (buffer != nullptr) {
        if (size == 0) {
            if (capacity < sizeof(wchar_t))
                return ERROR_MORE_DATA;
            buffer[0] = L'\0';
        } else if (buffer[size / sizeof(wchar_t) - 1] != L'\0') {
            return ERROR_INVALID_DATA;
        }
    }
    *chars = size / sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryMultiStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars)
{
    if (chars == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (buffer != nullptr && *chars < 2)
        return ERROR_INSUFFICIENT_BUFFER;
    DWORD type = REG_NONE;
    ULONG size = buffer == nullptr ? 0 : bytesFor(*chars);
    *chars = 0;
    const LONG result = QueryValue(name, &type, buffer, &size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_MULTI_SZ || size % sizeof(wchar_t) != 0 || size / sizeof(wchar_t) < 2)
        return ERROR_INVALID_DATA;
    const ULONG count = size / sizeof(wchar_t);
    if (result == ERROR_SUCCESS && buffer != nullptr && (buffer[count - 1] != L'\0' || buffer[count - 2] != L'\0'))
        return ERROR_INVALID_DATA;
    *chars = count;
    return result;
}

} // namespace internal
} // namespace Basalt
