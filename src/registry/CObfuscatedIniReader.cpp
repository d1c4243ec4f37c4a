#include "registry/CObfuscatedIniReader.h"

#include "registry/ScrambledForm.h"

#include <climits>
#include <cwchar>
#include <cwctype>
#include <exception>
#include <vector>

namespace Basalt {
namespace {

// Names as the profile functions compare them: case folded to upper case.
std::wstring folded(const std::wstring& name)
{
    std::wstring upper = name;
    if (upper.empty() || upper.size() > INT_MAX)
        return upper;
    const int length = static_cast<int>(upper.size());
    if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.c_str(), length, &upper[0], length) != length) {
        upper = name;
        for (wchar_t& c : upper)
            c = static_cast<wchar_t>(std::towupper(c));
    }
    return upper;
}

} // namespace

CObfuscatedIniReader::CObfuscatedIniReader(bool strict) : strict_(strict) {}

bool CObfuscatedIniReader::LoadFile(const std::wstring& path)
{
    entries_.clear();
    sections_.clear();
    const bool loaded = CBaseIniReader::LoadFile(path);
    try {
        for (auto& [section, values] : sections_) {
            for (auto& [key, text] : values) {
                std::wstring clear;
                DWORD type = REG_NONE;
                if (scrambled::decodeIniValue(text, clear, type) != ERROR_SUCCESS)
                    continue;
                Entry& entry = entries_[folded(JoinName(section, key))];
                entry.value = clear;
                entry.scrambled = true;
                entry.type = type;
                text = std::move(clear);
            }
        }
    } catch (const std::exception&) {
        entries_.clear();
        sections_.clear();
        return false;
    }
    return loaded;
}

bool CObfuscatedIniReader::ReadStringByName(const std::wstring& name, std::wstring& value)
{
    try {
        const auto found = entries_.find(folded(name));
        if (found == entries_.end() || (strict_ && !found->second.scrambled))
            return false;
        value = found->second.value;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CObfuscatedIniReader::ReadDWORDByName(const std::wstring& name, DWORD& value)
{
    std::wstring text;
    if (!ReadStringByName(name, text) || text.empty())
        return false;
    wchar_t* end = nullptr;
    const long number = std::wcstol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != L'\0')
        return false; // not a number, or a number followed by something else
    value = static_cast<DWORD>(number);
    return true;
}

bool CObfuscatedIniReader::CopySection(const std::wstring& section, IniSection& values)
{
    try {
        const auto found = sections_.find(folded(section));
        if (found == sections_.end())
            return false;
        for (const auto& [key, text] : found->second) {
            if (strict_) {
                const auto entry = entries_.find(folded(JoinName(section, key)));
                if (entry == entries_.end() || !entry->second.scrambled)
                    continue;
            }
            values[key] = text;
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool CObfuscatedIniReader::WriteDWORD(const std::wstring& section, const std::wstring& key, DWORD value)
{
    std::vector<BYTE> blob;
    if (scrambled::encodeIniDWORD(value, blob) != ERROR_SUCCESS || !WriteBlob(section, key, blob))
        return false;
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", static_cast<int>(value));
    return Keep(section, key, text, true, REG_DWORD);
}

bool CObfuscatedIniReader::WriteString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& text)
{
    std::vector<BYTE> blob;
    if (scrambled::encodeIniString(text, blob) != ERROR_SUCCESS || !WriteBlob(section, key, blob))
        return false;
    return Keep(section, key, text, true, REG_SZ);
}

bool CObfuscatedIniReader::StoreValue(const std::wstring& section, const std::wstring& key, const std::wstring& text,
                                      bool written)
{
    return Keep(section, key, text, written, written ? REG_SZ : REG_NONE);
}

bool CObfuscatedIniReader::WriteBlob(const std::wstring& section, const std::wstring& key,
                                     const std::vector<BYTE>& blob)
{
    if (GetPath().empty() || section.empty() || key.empty() || blob.size() >= UINT_MAX / 2)
        return false;
    // A value whose line the reader would cut is not written at all.
    const int keyBytes = ::WideCharToMultiByte(CP_ACP, 0, key.c_str(), static_cast<int>(key.size()), nullptr, 0,
                                               nullptr, nullptr);
    if (keyBytes <= 0 || static_cast<size_t>(keyBytes) + 1 + (blob.size() + 1) * 2 > scrambled::kMaxIniLine)
        return false;
    return ::WritePrivateProfileStructW(section.c_str(), key.c_str(), const_cast<BYTE*>(blob.data()),
                                        static_cast<UINT>(blob.size()), GetPath().c_str()) != FALSE;
}

bool CObfuscatedIniReader::Keep(const std::wstring& section, const std::wstring& key, const std::wstring& text,
                                bool scrambled, DWORD type)
{
    if (section.empty() || key.empty())
        return false;
    try {
        const std::wstring name = folded(JoinName(section, key));
        const auto known = entries_.find(name);
        if (!scrambled && known != entries_.end())
            return false; // a repeated key in the file: the first one counts, as for the profile functions
        IniSection& values = sections_[folded(section)];
        Entry& entry = known != entries_.end() ? known->second : entries_[name];
        if (entry.key.empty())
            entry.key = key;
        entry.value = text;
        entry.scrambled = scrambled;
        entry.type = type;
        values[entry.key] = text; // the profile functions keep the spelling a key has in the file
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace Basalt
