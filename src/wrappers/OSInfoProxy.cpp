#include "wrappers/OSInfoProxy.h"

#include "Logging/Logger.h"
#include "win/ProcAddress.h"

#include <cwctype>

namespace Basalt {

BOOL WinOSVersionAPI::VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG conditionMask)
{
    return ::VerifyVersionInfoW(info, typeMask, conditionMask);
}

namespace internal {
namespace {

UM_LOG_SOURCE(L"Basalt::internal::OSInfoProxy");

// Windows 9x minor versions are looked for up to here.
constexpr std::uint32_t kMax9xMinor = 100;
constexpr std::uint32_t k9xStep = 8;

bool minorAtLeast(WinOSVersionAPI& api, std::uint32_t minor)
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMinorVersion = minor;
    info.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    DWORDLONG mask = ::VerSetConditionMask(0, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_PLATFORMID, VER_EQUAL);
    return api.VerifyVersionInfoW(&info, VER_MINORVERSION | VER_PLATFORMID, mask) != FALSE;
}

} // namespace

bool parseVersion(const std::wstring& text, std::array<std::uint32_t, 4>& numbers)
{
    std::array<std::uint32_t, 4> parsed{};
    std::size_t position = 0;
    std::size_t count = 0;
    while (count < parsed.size() && position < text.size() && std::iswdigit(text[position])) {
        std::uint64_t number = 0;
        while (position < text.size() && std::iswdigit(text[position])) {
            number = number * 10 + static_cast<std::uint32_t>(text[position] - L'0');
            if (number > 0xFFFFFFFFull)
                return false;
            ++position;
        }
        parsed[count++] = static_cast<std::uint32_t>(number);
        if (position >= text.size() || text[position] != L'.')
            break;
        ++position;
    }
    if (count == 0)
        return false;
    numbers = parsed;
    return true;
}

OSRelease mapNtVersion(std::uint32_t major, std::uint32_t minor)
{
    if (major <= 4)
        return {3, 0};
    if (major == 5)
        return minor == 0 ? OSRelease{4, 0} : OSRelease{6, 1};
    if (major == 6) {
        switch (minor) {
        case 0: return {7, 1};
        case 1: return {8, 1};
        case 2: return {9, 1};
        default: return {10, 1};
        }
    }
    if (major == 10)
        return {11, 1};
    return {kReleaseUnknown, 1};
}

OSRelease map9xVersion(std::uint32_t minor)
{
    if (minor == 0)
        return {1, 0};
    return {minor < 90 ? 2u : 5u, 0};
}

bool isPlatform(WinOSVersionAPI& api, DWORD platformId)
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwPlatformId = platformId;
    const DWORDLONG mask = ::VerSetConditionMask(0, VER_PLATFORMID, VER_EQUAL);
    return api.VerifyVersionInfoW(&info, VER_PLATFORMID, mask) != FALSE;
}

std::uint32_t find9xMinorVersion(WinOSVersionAPI& api)
{
    // Coarse steps up, then halve the step to pin the minor version down.
    std::uint32_t minor = 0;
    while (minor + k9xStep <= kMax9xMinor && minorAtLeast(api, minor + k9xStep))
        minor += k9xStep;
    for (std::uint32_t step = k9xStep / 2; step > 0; step /= 2) {
        if (minorAtLeast(api, minor + step))
            minor += step;
    }
    return minor;
}

bool currentProcessIsWow64()
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process =
        Orvik::win::procAddress<IsWow64ProcessFunction>(::GetModuleHandleW(L"kernel32"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(::GetCurrentProcess(), &wow64) && wow64 != FALSE;
}

void reportVersionNotObtained() noexcept
{
    Orvik::logging::error(UM_HERE_AS("info"), L"Failed to work out the Windows version. It counts as not obtained.");
}

} // namespace internal
} // namespace Basalt
