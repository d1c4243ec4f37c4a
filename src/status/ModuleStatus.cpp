#include "status/ModuleStatus.h"

#include <windows.h>

#include <iterator>
#include <type_traits>

// The Win32 and HRESULT factories take exactly the platform's types.
static_assert(std::is_same_v<DWORD, unsigned long> && std::is_same_v<HRESULT, long>);

namespace Orvik {

const wchar_t* getStatusName(ModuleStatus status) noexcept
{
    static const wchar_t* const kLow[] = {
        L"MODULE_STATUS_SUCCESS",
        L"MODULE_STATUS_NOT_SUPPORTED",
        L"MODULE_STATUS_UNSUCCESSFUL",
        L"MODULE_STATUS_BUFFER_TOO_SMALL",
        L"MODULE_STATUS_NOT_IMPLEMENTED",
        L"MODULE_STATUS_INVALID_BUFFER_SIZE",
        L"MODULE_STATUS_DATA_ERROR",
        L"MODULE_STATUS_INVALID_HANDLE",
        L"MODULE_STATUS_INVALID_PARAMETER",
        L"MODULE_STATUS_NO_MEMORY",
        L"MODULE_STATUS_NOT_FOUND",
        L"MODULE_STATUS_ON_DEMAND_ENABLED",
        L"MODULE_STATUS_PROPERTY_NOT_FOUND",
        L"MODULE_STATUS_TIMEOUT",
        L"MODULE_STATUS_NO_SUBSCRIBERS",
        L"MODULE_STATUS_UNKNOWN_EXCEPTION",
        L"MODULE_STATUS_DUPLICATE_MODULE",
        L"MODULE_STATUS_PARTIAL_SUCCESS",
        L"MODULE_STATUS_UWP_APP_NOT_INSTALLED",
        L"MODULE_STATUS_APP_SERVICE_UNAVAILABLE",
        L"MODULE_STATUS_APP_SERVICE_UNAUTHORIZED",
        L"MODULE_STATUS_SESSION_INVALID",
    };
    if (status == MODULE_STATUS_SUCCESS)
        return kLow[0];
    if (status == MODULE_STATUS_INVALID_STATE)
        return L"MODULE_STATUS_INVALID_STATE";
    // Failures 0x80000001..0x80000015 sit at index (status - 0x80000000).
    const std::uint32_t index = status.value() - 0x80000000u;
    if (status.value() >= MODULE_STATUS_NOT_SUPPORTED.value() && index < std::size(kLow))
        return kLow[index];
    return L"MODULE_STATUS_UNKNOWN";
}

} // namespace Orvik
