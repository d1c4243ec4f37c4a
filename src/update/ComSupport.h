#pragma once
// Owners for the COM resources the update service uses: the apartment
// initialisation of a handler's thread, interface pointers and BSTRs.

#include <windows.h>
#include <oleauto.h>

#include <stdexcept>
#include <string>

namespace Orvik {

// A COM failure carried as an exception (a BSTR that could not be allocated).
class ComError : public std::runtime_error {
public:
    explicit ComError(HRESULT result) : std::runtime_error("COM error"), result_(result) {}
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// Joins the multithreaded apartment for the life of the object; leaves it
// only when joining succeeded (S_FALSE, already joined, counts as success).
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment()
    {
        if (succeeded())
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool succeeded() const { return result_ >= 0; }
    HRESULT result() const { return result_; }

private:
    HRESULT result_ = static_cast<HRESULT>(0x8000FFFF);
};

// Owns one reference to an interface.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Where a creation function stores the new reference.
    void** receive()
    {
        reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    void reset()
    {
        if (pointer_ != nullptr) {
            Interface* released = pointer_;
            pointer_ = nullptr;
            released->Release();
        }
    }

private:
    Interface* pointer_ = nullptr;
};

// A BSTR allocated for one call and freed after it.
class ScopedBstr {
public:
    ScopedBstr() = default;
    explicit ScopedBstr(const std::wstring& text)
        : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (value_ == nullptr)
            throw ComError(E_OUTOFMEMORY);
    }
    ~ScopedBstr() { SysFreeString(value_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;

    BSTR get() const { return value_; }
    // Where a callee stores a BSTR it hands over.
    BSTR* receive()
    {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    std::wstring text() const { return value_ != nullptr ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }

private:
    BSTR value_ = nullptr;
};

} // namespace Orvik
