#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace Orvik {

// The framework's one exception: thrown by constructors and by COM calls that
// cannot go on, never across the library boundary (the entry barriers turn it
// into a status). A COM failure carries its HRESULT.
class ModuleException : public std::exception {
public:
    ModuleException() = default;
    explicit ModuleException(const char* message) : message_(message ? message : ""), hasMessage_(message != nullptr) {}
    explicit ModuleException(const std::string& message) : message_(message), hasMessage_(true) {}
    ModuleException(const std::string& message, HRESULT result) : message_(message), hasMessage_(true), result_(result)
    {
    }

    const char* what() const noexcept override
    {
        return hasMessage_ ? message_.c_str() : "Unknown exception";
    }

    // The HRESULT of the COM call that failed; S_OK when none is known.
    HRESULT result() const noexcept { return result_; }

private:
    std::string message_;
    bool hasMessage_ = false;
    HRESULT result_ = S_OK;
};

} // namespace Orvik
