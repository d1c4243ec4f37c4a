#pragma once
// Status codes answered at the module boundary and between the module's parts.
// 0 is success; every failure has the top bit set.
//
// A status is its own type so that it cannot be mistaken for a Win32 error or
// an HRESULT, nor tested as a bool: callers ask `.failed()` / `.succeeded()` or
// compare with a MODULE_STATUS_ constant. Win32 codes (DWORD, LONG, LSTATUS and
// the ERROR_ constants) and HRESULTs are long / unsigned long on Windows; those
// types are refused and enter only through fromWin32 / fromHResult. The bare
// number comes out through value(), which only the entry table and the bus
// callbacks need.

#include <cstdint>

class [[nodiscard]] ModuleStatus {
public:
    constexpr ModuleStatus() noexcept = default;
    // The framework's own codes written as numbers (tables, bus answers).
    constexpr ModuleStatus(std::uint32_t code) noexcept : code_(code) {}
    constexpr ModuleStatus(int code) noexcept : code_(static_cast<std::uint32_t>(code)) {}
    constexpr explicit ModuleStatus(long long code) noexcept : code_(static_cast<std::uint32_t>(code)) {}
    constexpr explicit ModuleStatus(unsigned long long code) noexcept : code_(static_cast<std::uint32_t>(code)) {}
    ModuleStatus(long) = delete;
    ModuleStatus(unsigned long) = delete;
    ModuleStatus(bool) = delete;

    // A Win32 error code or an HRESULT carried unchanged, for the few places
    // that answer the platform's code as their status.
    static constexpr ModuleStatus fromWin32(unsigned long error) noexcept
    {
        return ModuleStatus(static_cast<std::uint32_t>(error));
    }
    static constexpr ModuleStatus fromHResult(long result) noexcept
    {
        return ModuleStatus(static_cast<std::uint32_t>(result));
    }

    constexpr bool succeeded() const noexcept { return code_ == 0; }
    constexpr bool failed() const noexcept { return code_ != 0; }
    constexpr std::uint32_t value() const noexcept { return code_; }
    // Only on request, for code that prints a status as a DWORD; never a bool.
    constexpr explicit operator unsigned long() const noexcept { return code_; }

    friend constexpr bool operator==(ModuleStatus a, ModuleStatus b) noexcept { return a.code_ == b.code_; }
    friend constexpr bool operator!=(ModuleStatus a, ModuleStatus b) noexcept { return a.code_ != b.code_; }

    // For test output: any stream that prints numbers.
    template <typename Stream>
    friend auto operator<<(Stream& stream, ModuleStatus status) -> decltype(stream << std::uint32_t{})
    {
        return stream << status.code_;
    }

private:
    std::uint32_t code_ = 0;
};

constexpr ModuleStatus MODULE_STATUS_SUCCESS                  = 0x00000000u;
constexpr ModuleStatus MODULE_STATUS_NOT_SUPPORTED            = 0x80000001u;
constexpr ModuleStatus MODULE_STATUS_UNSUCCESSFUL             = 0x80000002u;
constexpr ModuleStatus MODULE_STATUS_BUFFER_TOO_SMALL         = 0x80000003u;
constexpr ModuleStatus MODULE_STATUS_NOT_IMPLEMENTED          = 0x80000004u;
constexpr ModuleStatus MODULE_STATUS_INVALID_BUFFER_SIZE      = 0x80000005u;
constexpr ModuleStatus MODULE_STATUS_DATA_ERROR               = 0x80000006u;
constexpr ModuleStatus MODULE_STATUS_INVALID_HANDLE           = 0x80000007u;
constexpr ModuleStatus MODULE_STATUS_INVALID_PARAMETER        = 0x80000008u;
constexpr ModuleStatus MODULE_STATUS_NO_MEMORY                = 0x80000009u;
constexpr ModuleStatus MODULE_STATUS_NOT_FOUND                = 0x8000000Au;
constexpr ModuleStatus MODULE_STATUS_ON_DEMAND_ENABLED        = 0x8000000Bu;
constexpr ModuleStatus MODULE_STATUS_PROPERTY_NOT_FOUND       = 0x8000000Cu;
constexpr ModuleStatus MODULE_STATUS_TIMEOUT                  = 0x8000000Du;
constexpr ModuleStatus MODULE_STATUS_NO_SUBSCRIBERS           = 0x8000000Eu;
constexpr ModuleStatus MODULE_STATUS_UNKNOWN_EXCEPTION        = 0x8000000Fu;
constexpr ModuleStatus MODULE_STATUS_DUPLICATE_MODULE         = 0x80000010u;
constexpr ModuleStatus MODULE_STATUS_PARTIAL_SUCCESS          = 0x80000011u;
constexpr ModuleStatus MODULE_STATUS_UWP_APP_NOT_INSTALLED    = 0x80000012u;
constexpr ModuleStatus MODULE_STATUS_APP_SERVICE_UNAVAILABLE  = 0x80000013u;
constexpr ModuleStatus MODULE_STATUS_APP_SERVICE_UNAUTHORIZED = 0x80000014u;
constexpr ModuleStatus MODULE_STATUS_SESSION_INVALID          = 0x80000015u;
constexpr ModuleStatus MODULE_STATUS_INVALID_STATE            = 0x800000FFu;

namespace Orvik {

// Symbolic name of a status for log messages; "MODULE_STATUS_UNKNOWN" for
// any value without one.
const wchar_t* getStatusName(ModuleStatus status) noexcept;

} // namespace Orvik
