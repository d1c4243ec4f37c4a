#include "registry/CBaseIniReader.h"

#include "registry/ScrambledForm.h"
#include "win/UniqueHandle.h"

#include <climits>
#include <cwchar>
#include <cwctype>
#include <exception>

namespace Basalt {
namespace {

std::wstring trimmed(const std::wstring& text)
{
    size_t end = text.size();
    while (end > 0 && std::iswspace(text[end - 1]))
        --end;
    size_t begin = 0;
    while (begin < end && std::iswspace(text[begin]))
        ++begin;
    return text.substr(begin, end - begin);
}

std::wstring fromAnsi(const std::string& line)
{
    if (line.empty() || line.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(line.size());
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, line.data(), length, nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring text(static_cast<size_t>(chars), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, line.data(), length, &text[0], chars) != chars)
        return {};
    return text;
}

} // namespace

CBaseIniReader::~CBaseIniReader() = default;

std::wstring CBaseIniReader::JoinName(const std::wstring& section, const std::wstring& key)
{
    return section + L"." + key;
}

bool CBaseIniReader::LoadFile(const std::wstring& path)
{
    if (path.empty())
        return false;
    try {
        path_ = path;
        section_.clear();
        sectionCount_ = 0;
        keyLineCount_ = 0;

        Orvik::win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            if (::GetLastError() != ERROR_FILE_NOT_FOUND)
                path_.clear();
            return false;
        }

        // Lines are kept up to kMaxIniLine bytes; the rest of a longer line is
        // dropped rather than read as a line of its own, which could invent keys.
        std::string line;
        line.reserve(scrambled::kMaxIniLine);
        char chunk[4096];
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr))
                return false;
            if (got == 0)
                break;
            for (DWORD i = 0; i < got; ++i) {
                if (chunk[i] == '\n') {
                    ParseLine(line);
                    line.clear();
                } else if (line.size() < scrambled::kMaxIniLine) {
                    line += chunk[i];
                }
            }
        }
        if (!line.empty())
            ParseLine(line);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CBaseIniReader::ReadDWORD(const std::wstring& section, const std::wstring& key, DWORD& value)
{
    try {
        return ReadDWORDByName(JoinName(section, key), value);
    } catch (const std::exception&) {
        return false;
    }
}

bool CBaseIniReader::ReadString(const std::wstring& section, const std::wstring& key, std::wstring& value)
{
    try {
        return ReadStringByName(JoinName(section, key), value);
    } catch (const std::exception&) {
        return false;
    }
}

bool CBaseIniReader::WriteDWORD(const std::wstring& section, const std::wstring& key, DWORD value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", static_cast<int>(value));
    return WriteString(section, key, text);
}

bool CBaseIniReader::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& text)
{
    if (path_.empty() || section.empty() || key.empty())
        return false;
    if (!::WritePrivateProfileStringW(section.c_str(), key.c_str(), text.c_str(), path_.c_str()))
        return false;
    try {
        return StoreValue(section, key, text, true);
    } catch (const std::exception&) {
        return false;
    }
}

void CBaseIniReader::ParseLine(const std::string& narrow)
{
    const std::wstring line = trimmed(fromAnsi(narrow));
    if (line.empty() || line[0] == L';')
        return;
    if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
        std::wstring section = trimmed(line.substr(1, line.size() - 2));
        if (!section.empty()) {
            section_ = std::move(section);
            ++sectionCount_;
        }
        return;
    }
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos)
        return;
    if (StoreValue(section_, trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), false))
        ++keyLineCount_;
}

} // namespace Basalt
