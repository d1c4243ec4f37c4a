#include "wrappers/RegistryAPI.h"

#include "win/UniqueHandle.h"

namespace Orvik {
namespace {

constexpr REGSAM kReadAccess = 0x20019; // KEY_READ
constexpr DWORD kMaxStringCharacters = 260;

win::UniqueRegKey openForReading(const std::wstring& keyPath)
{
    win::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kReadAccess, key.put()) != ERROR_SUCCESS)
        key.reset();
    return key;
}

} // namespace

ModuleStatus RegistryAPI::readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value)
{
    const win::UniqueRegKey key = openForReading(keyPath);
    if (!key)
        return MODULE_STATUS_UNSUCCESSFUL;
    // Room for the terminator, which the stored data may or may not carry.
    wchar_t buffer[kMaxStringCharacters + 1] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer);
    if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return MODULE_STATUS_UNSUCCESSFUL;
    std::size_t length = bytes / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0')
        --length;
    if (length > kMaxStringCharacters)
        return MODULE_STATUS_UNSUCCESSFUL;
    value.assign(buffer, length);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus RegistryAPI::readNumber(const std::wstring& keyPath, const std::wstring& valueName, DWORD& value)
{
    const win::UniqueRegKey key = openForReading(keyPath);
    if (!key)
        return MODULE_STATUS_UNSUCCESSFUL;
    DWORD number = 0;
    DWORD type = 0;
    DWORD bytes = sizeof(number);
    if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof(number))
        return MODULE_STATUS_UNSUCCESSFUL;
    value = number;
    return MODULE_STATUS_SUCCESS;
}

} // namespace Orvik
