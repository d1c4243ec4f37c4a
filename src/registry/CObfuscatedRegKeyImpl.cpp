#include "registry/CObfuscatedRegKeyImpl.h"

#include "registry/ScrambledForm.h"
#include "win/Registry.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace Basalt {
namespace {

// The value name in the thread's ANSI code page; null stays null (the default value).
bool ansiName(LPCWSTR name, std::string& converted, const char*& result)
{
    result = nullptr;
    if (name == nullptr)
        return true;
    if (*name == L'\0') {
        converted.clear();
        result = converted.c_str();
        return true;
    }
    const int needed = ::WideCharToMultiByte(CP_THREAD_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return false;
    converted.assign(static_cast<size_t>(needed), '\0');
    if (::WideCharToMultiByte(CP_THREAD_ACP, 0, name, -1, &converted[0], needed, nullptr, nullptr) != needed)
        return false;
    converted.resize(static_cast<size_t>(needed) - 1);
    result = converted.c_str();
    return true;
}

} // namespace

LONG CObfuscatedRegKeyImpl::QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* size)
{
    const HKEY key = GetHandle();
    if (key == nullptr || (data != nullptr && size == nullptr))
        return ERROR_INVALID_PARAMETER;
    try {
        std::string nameBuffer;
        const char* narrowName = nullptr;
        if (!ansiName(name, nameBuffer, narrowName))
            return ERROR_INVALID_PARAMETER;

        const Orvik::win::RegistryRead<std::vector<BYTE>> stored = Orvik::win::readBytes(key, narrowName);
        if (!stored.ok())
            return stored.status;
        if (stored.type != REG_BINARY || stored.value.size() < scrambled::kHeaderSize)
            return ERROR_INVALID_DATA;
        const std::vector<BYTE>& blob = stored.value;
        const DWORD storedSize = static_cast<DWORD>(blob.size());

        DWORD declared = REG_NONE;
        std::vector<BYTE> clear;
        LONG result = scrambled::decodeRegistryValue(blob.data(), storedSize, declared, clear);
        if (result != ERROR_SUCCESS)
            return result == ERROR_OUTOFMEMORY ? result : ERROR_INVALID_DATA;
        if (clear.size() > MAXDWORD)
            return ERROR_INVALID_DATA;
        const ULONG needed = static_cast<ULONG>(clear.size());

        if (type != nullptr)
            *type = declared;
        if (size == nullptr)
            return ERROR_SUCCESS;
        const ULONG capacity = *size;
        *size = needed;
        if (data == nullptr)
            return ERROR_SUCCESS;
        if (capacity < needed)
            return ERROR_MORE_DATA;
        if (needed != 0)
            std::memcpy(data, clear.data(), needed);
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG CObfuscatedRegKeyImpl::SetValue(LPCWSTR name, DWORD type, const void* data, ULONG size)
{
    const HKEY key = GetHandle();
    if (key == nullptr || data == nullptr || size == 0)
        return ERROR_INVALID_PARAMETER;
    try {
        std::string nameBuffer;
        const char* narrowName = nullptr;
        if (!ansiName(name, nameBuffer, narrowName))
            return ERROR_INVALID_PARAMETER;
        std::vector<BYTE> blob;
        const LONG result = scrambled::encodeRegistryValue(type, static_cast<const BYTE*>(data), size, blob);
        if (result != ERROR_SUCCESS)
            return result;
        if (blob.size() > MAXDWORD)
            return ERROR_INVALID_PARAMETER;
        return ::RegSetValueExA(key, narrowName, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

} // namespace Basalt
