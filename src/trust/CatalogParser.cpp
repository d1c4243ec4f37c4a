#include "trust/CatalogParser.h"

#include <windows.h>

#include <cstring>

namespace Orvik {
namespace trust {

namespace {

std::wstring_view trim(std::wstring_view line)
{
    const auto isBlank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (!line.empty() && isBlank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && isBlank(line.back()))
        line.remove_suffix(1);
    return line;
}

bool startsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool parseVersion(const std::wstring& text, DWORD* version)
{
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > 0xFFFFFFFFull)
        return false;
    *version = static_cast<DWORD>(value);
    return true;
}

const std::vector<std::wstring>* section(const CatalogContent& content, const wchar_t* name)
{
    const auto found = content.sections.find(name);
    return found == content.sections.end() ? nullptr : &found->second;
}

void buildLists(CatalogContent* content)
{
    if (const auto* names = section(*content, L"ORG"))
        content->lists.signerNames = *names;
    if (const auto* thumbprints = section(*content, L"SHA")) {
        for (const std::wstring& entry : *thumbprints)
            content->lists.rootThumbprints.push_back(thumbprintFromHex(entry));
    }
    if (const auto* serials = section(*content, L"SER"))
        content->lists.deniedSerials = *serials;
}

} // namespace

std::wstring decodeCatalogText(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        const std::size_t count = (bytes.size() - 2) / sizeof(wchar_t);
        std::wstring text(count, L'\0');
        if (count > 0)
            std::memcpy(&text[0], bytes.data() + 2, count * sizeof(wchar_t));
        return text;
    }
    std::size_t start = 0;
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
        start = 3;
    const int inLength = static_cast<int>(bytes.size() - start);
    if (inLength <= 0)
        return {};
    const int outLength = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, inLength, nullptr, 0);
    if (outLength <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(outLength), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, inLength, &text[0], outLength);
    return text;
}

std::optional<CatalogContent> parseCatalog(std::wstring_view text)
{
    CatalogContent content;
    std::vector<std::wstring>* current = nullptr;
    std::size_t position = 0;
    while (position <= text.size()) {
        std::size_t end = text.find(L'\n', position);
        if (end == std::wstring_view::npos)
            end = text.size();
        std::wstring_view line = text.substr(position, end - position);
        position = end + 1;
        if (line.size() > kMaxCatalogLineLength)
            return std::nullopt;
        if (!line.empty() && line.back() == L'\r')
            line.remove_suffix(1);
        line = trim(line);
        if (line.empty() || startsWith(line, L"/*") || startsWith(line, L"//") || startsWith(line, L"*/"))
            continue;
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            const std::wstring_view name = trim(line.substr(1, line.size() - 2));
            if (name.empty())
                return std::nullopt;
            current = &content.sections[std::wstring(name)];
            continue;
        }
        if (current != nullptr)
            current->emplace_back(line);
    }

    const auto* version = section(content, L"VER");
    if (version == nullptr || version->size() != 1 || !parseVersion(version->front(), &content.version))
        return std::nullopt;
    buildLists(&content);
    return content;
}

} // namespace trust
} // namespace Orvik
