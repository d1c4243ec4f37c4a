#pragma once
// Owns one reference to a COM interface. Copies add a reference, moves hand
// the reference over; releasing keeps the thread's last error.

#include <unknwn.h>

#include <utility>

namespace Orvik {
namespace win {

template <typename Interface>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller already owns.
    explicit ComPtr(Interface* owned) noexcept : pointer_(owned) {}
    ~ComPtr() { reset(); }

    ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_)
    {
        if (pointer_ != nullptr)
            pointer_->AddRef();
    }
    ComPtr& operator=(const ComPtr& other) noexcept
    {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : pointer_(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }

    Interface* get() const noexcept { return pointer_; }
    Interface* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // Where a creation function stores the new reference.
    Interface** put() noexcept
    {
        reset();
        return &pointer_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    [[nodiscard]] Interface* detach() noexcept { return std::exchange(pointer_, nullptr); }

    void reset() noexcept
    {
        if (Interface* released = std::exchange(pointer_, nullptr))
            released->Release();
    }

    void swap(ComPtr& other) noexcept { std::swap(pointer_, other.pointer_); }

private:
    Interface* pointer_ = nullptr;
};

} // namespace win
} // namespace Orvik
