#include "Logging/LoggingIf.h"

#include "Logging/WideFormat.h"

namespace ETWLogging {

std::uint32_t CLoggingIf::writeFixedLevel(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                          std::int32_t line, const wchar_t* format, va_list args)
{
    wchar_t message[kFormatCapacity];
    Basalt::formatWideBounded(message, kFormatCapacity, format, args);
    return WriteFormatted(file, function, line, level, message);
}

#define UM_FIXED_LEVEL_OPERATION(name, level)                                                      \
    std::uint32_t CLoggingIf::name(const wchar_t* file, const wchar_t* function, std::int32_t line, \
                                   const wchar_t* format, ...)                                     \
    {                                                                                              \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        const std::uint32_t result = writeFixedLevel(level, file, function, line, format, args);  \
        va_end(args);                                                                              \
        return result;                                                                             \
    }

UM_FIXED_LEVEL_OPERATION(LogNormal, 1)
UM_FIXED_LEVEL_OPERATION(LogError, 4)
UM_FIXED_LEVEL_OPERATION(LogWarning, 2)
UM_FIXED_LEVEL_OPERATION(LogCritical, 5)
UM_FIXED_LEVEL_OPERATION(LogInformation, 3)

#undef UM_FIXED_LEVEL_OPERATION

} // namespace ETWLogging
