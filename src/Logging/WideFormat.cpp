#include "Logging/WideFormat.h"

#include <cstdio>
#include <cwchar>

// mingw's C++ mode maps the unprefixed wide printf family to its C99
// implementation, where %s means a narrow string. The underscore forms used
// here are the CRT's own, with the Microsoft meaning of %s.

namespace Basalt {

std::size_t countWideV(const wchar_t* format, va_list args)
{
    if (format == nullptr)
        return 0;
    va_list counting;
    va_copy(counting, args);
    const int length = _vscwprintf(format, counting);
    va_end(counting);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

std::wstring formatWideV(const wchar_t* format, va_list args)
{
    const std::size_t length = countWideV(format, args);
    if (length == 0)
        return {};
    std::wstring text(length + 1, L'\0');
    va_list writing;
    va_copy(writing, args);
    const int written = _vsnwprintf(&text[0], text.size(), format, writing);
    va_end(writing);
    text.resize(written < 0 ? 0 : static_cast<std::size_t>(written));
    return text;
}

std::wstring formatWide(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = formatWideV(format, args);
    va_end(args);
    return text;
}

std::size_t formatWideBounded(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    buffer[0] = L'\0';
    if (format == nullptr)
        return 0;
    va_list writing;
    va_copy(writing, args);
    const int written = _vsnwprintf(buffer, capacity - 1, format, writing);
    va_end(writing);
    // A negative result means the text was cut at capacity - 1 characters.
    const std::size_t kept = written < 0 ? capacity - 1 : static_cast<std::size_t>(written);
    buffer[kept] = L'\0';
    return kept;
}

} // namespace Basalt
