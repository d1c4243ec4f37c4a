#pragma once
// printf-style formatting of wide text with the Microsoft CRT rules (%s in a
// wide format is a wide string), whatever mingw's C99 printf mode says.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace Basalt {

// Formats without a length bound. Returns an empty string for a null format or
// a format the CRT refuses.
std::wstring formatWideV(const wchar_t* format, va_list args);
std::wstring formatWide(const wchar_t* format, ...);

// Number of characters the format would produce (0 for a null or bad format).
std::size_t countWideV(const wchar_t* format, va_list args);

// Formats into a buffer of `capacity` characters, always terminated; keeps at
// most capacity - 1 characters. Returns the number of characters kept.
std::size_t formatWideBounded(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args);

} // namespace Basalt
