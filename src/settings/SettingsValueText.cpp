#include "settings/SettingsValueText.h"

#include <cstdio>
#include <cwctype>
#include <stdexcept>

namespace Orvik {
namespace internal {

namespace {

// The standard unsigned conversion takes a leading minus and negates the
// number in unsigned arithmetic, so "-1" would read as the largest value and
// "-18446744073709551615" as 1. A negative number is out of range for an
// unsigned one; "-0" is still zero.
unsigned long long unsignedText(const std::wstring& text)
{
    const unsigned long long value = std::stoull(text, nullptr, 10);
    std::size_t sign = 0;
    while (sign < text.size() && std::iswspace(text[sign]))
        ++sign;
    if (value != 0 && sign < text.size() && text[sign] == L'-')
        throw std::out_of_range("negative for unsigned");
    return value;
}

} // namespace

std::wstring plainText(double value)
{
    // What a stream with precision 16 writes ("%.16g"), without the stream
    // and locale machinery a stream would link in.
    char text[40];
    const int length = std::snprintf(text, sizeof(text), "%.16g", value);
    return std::wstring(text, text + (length > 0 ? length : 0));
}

std::wstring volatileText(double value)
{
    return std::to_wstring(value); // "%f"
}

std::wstring boolText(bool value)
{
    return value ? L"1" : L"0";
}

template <>
double convertText<double>(const std::wstring& text)
{
    return std::stod(text);
}

template <>
unsigned int convertText<unsigned int>(const std::wstring& text)
{
    const unsigned long long wide = unsignedText(text);
    if (wide > 0xFFFFFFFFull)
        throw std::out_of_range("unsigned 32-bit");
    return static_cast<unsigned int>(wide);
}

template <>
unsigned long convertText<unsigned long>(const std::wstring& text)
{
    return convertText<unsigned int>(text);
}

template <>
unsigned long long convertText<unsigned long long>(const std::wstring& text)
{
    return unsignedText(text);
}

template <>
long long convertText<long long>(const std::wstring& text)
{
    return std::stoll(text, nullptr, 10);
}

template <>
int convertText<int>(const std::wstring& text)
{
    return std::stoi(text, nullptr, 10);
}

template <>
bool convertText<bool>(const std::wstring& text)
{
    return std::stoi(text, nullptr, 10) != 0;
}


} // namespace internal
} // namespace Orvik
