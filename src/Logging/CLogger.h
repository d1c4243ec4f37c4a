#pragma once
// The core library's own logger: one process-wide handler slot.

#include <cstdint>

namespace Basalt {

// Core-library message types.
enum : std::int32_t {
    LOG_TYPE_NONE = 0,
    LOG_TYPE_INFO = 1,
    LOG_TYPE_ERROR = 2,
};

class ILoggingHandler {
public:
    virtual ~ILoggingHandler() = default;
    virtual void HandleMessage(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function,
                               std::uint32_t line, const wchar_t* message) = 0;
};

// Writes core-library messages to the debugger output.
class CDefaultLoggingHandler : public ILoggingHandler {
public:
    static CDefaultLoggingHandler& instance();
    void HandleMessage(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function,
                       std::uint32_t line, const wchar_t* message) override;
};

// None of these throw: core-library code logs from destructors too. A record
// whose formatting or handler throws is dropped.
class CLogger {
public:
    static void Log(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function, std::uint32_t line,
                    const wchar_t* format, ...) noexcept;
    static std::uint32_t RegisterHandler(ILoggingHandler* handler) noexcept;
    static std::uint32_t UnregisterHandler(ILoggingHandler* handler) noexcept;

    // The handler currently in the slot (null when none).
    static ILoggingHandler* RegisteredHandler() noexcept;
};

} // namespace Basalt
