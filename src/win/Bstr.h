#pragma once
// A BSTR owned for the duration of one call.

#include <oleauto.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace Orvik {
namespace win {

// A COM failure carried as an exception (a BSTR that could not be allocated).
class ComError : public std::runtime_error {
public:
    explicit ComError(HRESULT result) : std::runtime_error("COM error"), result_(result) {}
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

class ScopedBstr {
public:
    ScopedBstr() noexcept = default;
    // Throws ComError when the string cannot be allocated.
    explicit ScopedBstr(const std::wstring& text)
        : value_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (value_ == nullptr)
            throw ComError(E_OUTOFMEMORY);
    }
    ~ScopedBstr() { ::SysFreeString(value_); }
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
        ::SysFreeString(std::exchange(value_, nullptr));
        return &value_;
    }
    std::wstring text() const
    {
        return value_ != nullptr ? std::wstring(value_, ::SysStringLen(value_)) : std::wstring();
    }

private:
    BSTR value_ = nullptr;
};

} // namespace win
} // namespace Orvik
