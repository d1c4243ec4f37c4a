#include "trust/ProductRegistry.h"

#include "win/UniqueHandle.h"

#include <cwchar>

namespace Orvik {
namespace trust {

const wchar_t kProductKeyPath[] = L"Software\\Corvane\\Ferrule";

namespace {

constexpr DWORD kDefaultCoreVersion = 1504;

bool isWindows2000()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 0;
    DWORDLONG condition = 0;
    condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_EQUAL);
    return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

} // namespace

REGSAM productKeyAccess()
{
    static const REGSAM access = isWindows2000() ? KEY_READ : (KEY_READ | KEY_WOW64_32KEY);
    return access;
}

bool openProductKey(HKEY* key)
{
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, productKeyAccess(), key) == ERROR_SUCCESS;
}

bool readInstallFolder(std::wstring* folder, bool sixtyFourBit)
{
    win::UniqueRegKey key;
    if (!openProductKey(key.put()))
        return false;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const wchar_t* name = sixtyFourBit ? L"szInstallDir64" : L"szInstallDir32";
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    buffer[size / sizeof(wchar_t)] = L'\0';
    folder->assign(buffer);
    return !folder->empty();
}

DWORD coreVersionFromText(const wchar_t* text)
{
    unsigned long major = 0, minor = 0;
    if (text != nullptr && std::swscanf(text, L"%lu.%lu", &major, &minor) == 2 && major > 14 && minor > 3 &&
        major <= (0xFFFFFFFFul - minor) / 100)
        return static_cast<DWORD>(major * 100 + minor);
    return kDefaultCoreVersion;
}

} // namespace trust
} // namespace Orvik
