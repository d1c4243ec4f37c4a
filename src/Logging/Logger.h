#pragma once
// The process-wide logger front end every part of the module reports through.
// A log site asks IsLoggingEnabled first and formats nothing when it answers 0;
// The helpers at the end of this file do both steps.

#include "Logging/LoggingIf.h"
#include "status/ModuleStatus.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

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
// A fault inside the logger itself can only go to the debugger.
inline void reportLoggerFault(const wchar_t* what) noexcept
{
    ::OutputDebugStringW(what);
}
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
        // A back end that cannot answer gets nothing to write.
        ETWLogging::internal::reportLoggerFault(L"UpdateModule: the log back end failed its level test\n");
        return 0;
    }
}

// Writes one message. The format follows the Microsoft wide-printf rules:
// %s and %ls take wide strings, %hs narrow ones.
std::uint32_t WriteLog(std::uint32_t level, const wchar_t* sourceFile, const wchar_t* function,
                       std::int32_t line, const wchar_t* format, ...) noexcept;

// ---- Log sites ------------------------------------------------------------------
//
// A log record names the file, function and line it comes from. The helpers
// below take those from the code itself, so a log call passes only its level,
// text and arguments:
//
//   UM_LOG_SOURCE(L"Orvik::UpdateModuleImp");       // once per .cpp, after the includes
//
//   logging::error(UM_HERE, L"Error getting the settings Mgr");
//   logging::normal(UM_HERE, L"Subscribed to '%s' successfully", name);
//   return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error: %s", what);
//
// UM_HERE records the file's name (its name without folder and extension),
// "<scope>::<enclosing function>" and the current line. Where a record must
// name something else:
//   UM_HERE_AS("initialize")        scope::initialize (a helper or lambda that
//                                   reports for the member that called it)
//   UM_HERE_NAMED(L"Orvik::X::y")   a function name given whole
//   UM_HERE_AT(line)                a line fixed by the record's meaning
//   UM_AT(function, line)           a name and a line fixed by the caller
//   UM_LOG_SOURCE_NAMED(L"paths\\PathSearch", L"Orvik::PathSearch")
//                                   a file whose records carry another file name
// A function that reports for its caller takes a `const char* member` (its
// caller passes __func__) and logs with UM_HERE_AS(member).
//
// Arguments are checked: a ModuleStatus prints as its number, and a
// std::wstring is refused (pass .c_str()). Nothing is formatted, and no name is
// composed, when the level is off. None of the helpers throws.

namespace Orvik {
namespace logging {

// The function a record names: a whole name, or a scope and a member name as
// C++ spells it (__func__), joined with "::" only when the record is written.
class LogFunction {
public:
    constexpr LogFunction(const wchar_t* whole) noexcept : whole_(whole) {}
    constexpr LogFunction(const wchar_t* scope, const char* member) noexcept : scope_(scope), member_(member) {}

    // Longest composed name kept, terminator included; longer ones are cut.
    static constexpr std::size_t kCapacity = 192;

    // The name to record: the whole name itself, or the composed one in `buffer`.
    const wchar_t* text(wchar_t (&buffer)[kCapacity]) const noexcept;

private:
    const wchar_t* whole_ = nullptr;
    const wchar_t* scope_ = nullptr;
    const char* member_ = nullptr;
};

struct LogSite {
    const wchar_t* file;
    LogFunction function;
    std::int32_t line;
};

// What a .cpp file's records carry as file name and function scope.
struct LogSource {
    const wchar_t* file;
    const wchar_t* scope;
};

// A file's name without folder and extension, cut from __FILE__ at compile time.
template <std::size_t N>
struct SourceStem {
    wchar_t text[N] = {};
};

template <std::size_t N>
constexpr SourceStem<N> sourceStem(const wchar_t (&path)[N]) noexcept
{
    std::size_t begin = 0;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        if (path[i] == L'/' || path[i] == L'\\')
            begin = i + 1;
    }
    std::size_t end = N - 1;
    for (std::size_t i = begin; i + 1 < N; ++i) {
        if (path[i] == L'.')
            end = i;
    }
    SourceStem<N> stem;
    for (std::size_t i = begin; i < end; ++i)
        stem.text[i - begin] = path[i];
    return stem;
}

namespace detail {
template <typename T>
constexpr T logArgument(T value) noexcept
{
    static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T> || std::is_enum_v<T>,
                  "log arguments are numbers and C strings (pass .c_str())");
    return value;
}
constexpr std::uint32_t logArgument(ModuleStatus status) noexcept
{
    return status.value();
}

std::uint32_t writeAt(std::uint32_t level, const LogSite& site, const wchar_t* format, ...) noexcept;
} // namespace detail

template <typename... Args>
void write(std::uint32_t level, const LogSite& site, const wchar_t* format, const Args&... args) noexcept
{
    if (::IsLoggingEnabled(level))
        detail::writeAt(level, site, format, detail::logArgument(args)...);
}

template <typename... Args>
void normal(const LogSite& site, const wchar_t* format, const Args&... args) noexcept
{
    write(LOG_LEVEL_NORMAL, site, format, args...);
}

template <typename... Args>
void information(const LogSite& site, const wchar_t* format, const Args&... args) noexcept
{
    write(LOG_LEVEL_INFORMATION, site, format, args...);
}

template <typename... Args>
void warning(const LogSite& site, const wchar_t* format, const Args&... args) noexcept
{
    write(LOG_LEVEL_WARNING, site, format, args...);
}

template <typename... Args>
void error(const LogSite& site, const wchar_t* format, const Args&... args) noexcept
{
    write(LOG_LEVEL_ERROR, site, format, args...);
}

// Logs an error and hands `status` back: `return logging::fail(status, UM_HERE, ...);`
template <typename... Args>
ModuleStatus fail(ModuleStatus status, const LogSite& site, const wchar_t* format, const Args&... args) noexcept
{
    write(LOG_LEVEL_ERROR, site, format, args...);
    return status;
}

} // namespace logging
} // namespace Orvik

#define UM_LOG_SOURCE_NAMED(file, scope) \
    constexpr ::Orvik::logging::LogSource umLogSource { file, scope }

#define UM_LOG_SOURCE(scope)                                                          \
    constexpr auto umLogSourceStem = ::Orvik::logging::sourceStem(L"" __FILE__);     \
    UM_LOG_SOURCE_NAMED(umLogSourceStem.text, scope)

#define UM_HERE \
    ::Orvik::logging::LogSite { umLogSource.file, { umLogSource.scope, __func__ }, __LINE__ }
#define UM_HERE_AT(line) \
    ::Orvik::logging::LogSite { umLogSource.file, { umLogSource.scope, __func__ }, line }
#define UM_HERE_AS(member) \
    ::Orvik::logging::LogSite { umLogSource.file, { umLogSource.scope, member }, __LINE__ }
#define UM_HERE_NAMED(function) \
    ::Orvik::logging::LogSite { umLogSource.file, ::Orvik::logging::LogFunction{function}, __LINE__ }
#define UM_AT(function, line) \
    ::Orvik::logging::LogSite { umLogSource.file, ::Orvik::logging::LogFunction{function}, line }
