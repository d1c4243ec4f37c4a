#pragma once
// A BSTR owned for the duration of one call.

#include "win/SystemProcedure.h"

#include <oleauto.h>
#include <windows.h>

#include <string>
#include <utility>

namespace Orvik {
namespace win {

// oleaut32's BSTR functions, bound when first used.
namespace bstr {
inline BSTR allocate(const wchar_t* text, UINT length) noexcept
{
    const auto function = UM_SYSTEM_PROCEDURE(L"oleaut32.dll", SysAllocStringLen);
    return function != nullptr ? function(text, length) : nullptr;
}
inline void release(BSTR value) noexcept
{
    if (value == nullptr)
        return;
    if (const auto function = UM_SYSTEM_PROCEDURE(L"oleaut32.dll", SysFreeString))
        function(value);
}
inline UINT length(BSTR value) noexcept
{
    const auto function = UM_SYSTEM_PROCEDURE(L"oleaut32.dll", SysStringLen);
    return function != nullptr ? function(value) : 0;
}
} // namespace bstr

class ScopedBstr {
public:
    ScopedBstr() noexcept = default;
    // Empty (get() is null) when the string cannot be allocated; an empty
    // text still gives a BSTR.
    explicit ScopedBstr(const std::wstring& text) noexcept
        : value_(bstr::allocate(text.data(), static_cast<UINT>(text.size())))
    {
    }
    ~ScopedBstr() { bstr::release(value_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    ScopedBstr(ScopedBstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    ScopedBstr& operator=(ScopedBstr&& other) noexcept
    {
        std::swap(value_, other.value_);
        return *this;
    }

    BSTR get() const noexcept { return value_; }
    // Where a callee stores a BSTR it hands over.
    BSTR* put() noexcept
    {
        bstr::release(std::exchange(value_, nullptr));
        return &value_;
    }
    std::wstring text() const
    {
        return value_ != nullptr ? std::wstring(value_, bstr::length(value_)) : std::wstring();
    }

private:
    BSTR value_ = nullptr;
};

} // namespace win
} // namespace Orvik
