#pragma once
// Joins a COM apartment for the life of the object and leaves it only when
// joining succeeded (S_FALSE, already joined, counts as success).

#include <objbase.h>

namespace Orvik {
namespace win {

class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_MULTITHREADED) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
    ~ComApartment()
    {
        if (succeeded())
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool succeeded() const noexcept { return SUCCEEDED(result_); }
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

} // namespace win
} // namespace Orvik
