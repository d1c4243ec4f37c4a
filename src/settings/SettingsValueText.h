#pragma once
// The text forms of typed property values, both ways.

#include <string>

namespace Orvik {
namespace internal {

// Setters: 16 significant digits ("0.1"); volatile setters: fixed with six decimals ("0.100000").
std::wstring plainText(double value);
std::wstring volatileText(double value);
std::wstring boolText(bool value);

// Getters: the standard base-10 conversions (leading blanks skipped, trailing
// characters ignored); throw std::invalid_argument or std::out_of_range. The
// unsigned ones take a negative number as out of range ("-0" reads as zero).
template <typename T>
T convertText(const std::wstring& text);

template <> double convertText<double>(const std::wstring& text);
template <> unsigned int convertText<unsigned int>(const std::wstring& text);
template <> unsigned long convertText<unsigned long>(const std::wstring& text);
template <> unsigned long long convertText<unsigned long long>(const std::wstring& text);
template <> long long convertText<long long>(const std::wstring& text);
template <> int convertText<int>(const std::wstring& text);
template <> bool convertText<bool>(const std::wstring& text);

} // namespace internal
} // namespace Orvik
