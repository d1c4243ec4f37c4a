#pragma once
// The process-wide logger front end every part of the module reports through.
// A log site asks IsLoggingEnabled first and formats nothing when it answers 0;
// UM_LOG does both steps.

#include "Logging/LoggingIf.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

enum LogLevel : std::uint32_t {
    LOG_LEVEL_NORMAL = 1,
    LOG_LEVEL_WARNING = 2,
    LOG_LEVEL_INFORMATION = 3,
    LOG_LEVEL_ERROR = 4,
    LOG_LEVEL_CRITICAL = 5,
};

// None of the three throws, and any thread may call them at any time, also from
// destructors at exit (a record that cannot be written is dropped).

// Stores the identity the logger is created from on its first use (copies of
// the strings). Once the logger exists, later calls change nothing.
void SetLoggerIdentity(const wchar_t* applicationName, const wchar_t* groupName,
                       HMODULE moduleInstance, const wchar_t* hostName, std::int32_t selector) noexcept;

namespace ETWLogging::internal {
// The back end of the process's logger once it exists, for the level test of
// every log site; null before, without one, and after unload.
extern std::atomic<CLoggingIf*> g_levelTestBackEnd;
// The level test when no back end is published: creates the logger on first use.
std::int32_t isLoggingEnabledSlow(std::uint32_t level) noexcept;
} // namespace ETWLogging::internal

// Non-zero when a message of this level would be written. Inline, so that a
// disabled log site costs one load and the back end's comparison.
inline std::int32_t IsLoggingEnabled(std::uint32_t level) noexcept
{
    ETWLogging::CLoggingIf* backEnd = ETWLogging::internal::g_levelTestBackEnd.load(std::memory_order_acquire);
    if (backEnd == nullptr)
        return ETWLogging::internal::isLoggingEnabledSlow(level);
    try {
        return backEnd->IsLevelEnabled(level) ? 1 : 0;
    } catch (...) {
        return 0; // a back end that cannot answer gets nothing to write
    }
}

// Writes one message. The format follows the Microsoft wide-printf rules:
// %s and %ls take wide strings, %hs narrow ones.
std::uint32_t WriteLog(std::uint32_t level, const wchar_t* sourceFile, const wchar_t* function,
                       std::int32_t line, const wchar_t* format, ...) noexcept;

#define UM_LOG(level, sourceFile, function, line, ...)                                    \
    do {                                                                                  \
        if (::IsLoggingEnabled(level))                                                    \
            ::WriteLog((level), (sourceFile), (function), (line), __VA_ARGS__);           \
    } while (0)

#define UM_LOG_ERROR(sourceFile, function, line, ...) \
    UM_LOG(LOG_LEVEL_ERROR, sourceFile, function, line, __VA_ARGS__)
