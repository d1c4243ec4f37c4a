#include "trust/ProductRegistry.h"

#include <cwchar>
#include <utility>

namespace Orvik {
namespace trust {

const wchar_t kProductKeyPath[] = L"Software\\Corvane\\Ferrule";

namespace {

constexpr DWORD kDefaultCoreVersion = 1504;
// A path of MAX_PATH characters with its terminator.
constexpr std::size_t kMaxInstallFolderChars = MAX_PATH - 1;

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

win::RegistryView productKeyView()
{
    static const win::RegistryView view = isWindows2000() ? win::RegistryView::Native : win::RegistryView::Bit32;
    return view;
}

win::RegistryKey openProductKey()
{
    return win::RegistryKey::open(HKEY_LOCAL_MACHINE, kProductKeyPath, productKeyView());
}

bool readInstallFolder(std::wstring* folder, bool sixtyFourBit)
{
    const win::RegistryKey key = openProductKey();
    if (!key)
        return false;
    const wchar_t* name = sixtyFourBit ? L"szInstallDir64" : L"szInstallDir32";
    win::RegistryRead<std::wstring> read = key.readString(name);
    if (!read.ok() || read.value.size() > kMaxInstallFolderChars)
        return false;
    *folder = std::move(read.value);
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
