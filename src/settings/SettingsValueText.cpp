#include "settings/SettingsValueText.h"

#include <cstdio>
#include <stdexcept>

namespace Orvik {
namespace internal {

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
    const unsigned long long wide = std::stoull(text, nullptr, 10);
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
    return std::stoull(text, nullptr, 10);
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
