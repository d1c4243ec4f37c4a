#pragma once

#include <exception>
#include <string>

namespace Orvik {

// The framework's exception: thrown by constructors, never across the library
// boundary (the entry barriers turn it into a status).
class ModuleException : public std::exception {
public:
    ModuleException() = default;
    explicit ModuleException(const char* message) : message_(message ? message : ""), hasMessage_(message != nullptr) {}
    explicit ModuleException(const std::string& message) : message_(message), hasMessage_(true) {}

    const char* what() const noexcept override
    {
        return hasMessage_ ? message_.c_str() : "Unknown exception";
    }

private:
    std::string message_;
    bool hasMessage_ = false;
};

} // namespace Orvik
