#include "wrappers/RegistryAPI.h"

#include "win/Registry.h"

namespace Orvik {
namespace {

constexpr DWORD kMaxStringCharacters = 260;

win::RegistryKey openForReading(const std::wstring& keyPath)
{
    return win::RegistryKey::open(HKEY_LOCAL_MACHINE, keyPath, win::RegistryView::Native);
}

} // namespace

ModuleStatus RegistryAPI::readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value)
{
    const win::RegistryKey key = openForReading(keyPath);
    if (!key)
        return MODULE_STATUS_UNSUCCESSFUL;
    win::RegistryRead<std::wstring> read = key.readString(valueName.c_str());
    if (!read.ok() || read.value.size() > kMaxStringCharacters)
        return MODULE_STATUS_UNSUCCESSFUL;
    value = std::move(read.value);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus RegistryAPI::readNumber(const std::wstring& keyPath, const std::wstring& valueName, DWORD& value)
{
    const win::RegistryKey key = openForReading(keyPath);
    if (!key)
        return MODULE_STATUS_UNSUCCESSFUL;
    const win::RegistryRead<DWORD> read = key.readDword(valueName.c_str());
    if (!read.ok())
        return MODULE_STATUS_UNSUCCESSFUL;
    value = read.value;
    return MODULE_STATUS_SUCCESS;
}

} // namespace Orvik
