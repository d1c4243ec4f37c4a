#pragma once
// INI file reader: parses a whole file into memory once and writes values back
// through the platform's private-profile functions. Derived readers decide how
// values are kept and found. Nothing here throws; failures answer false.

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

namespace Basalt {

// The keys and values of one section.
using IniSection = std::map<std::wstring, std::wstring>;

class CBaseIniReader {
public:
    CBaseIniReader() = default;
    CBaseIniReader(const CBaseIniReader&) = delete;
    CBaseIniReader& operator=(const CBaseIniReader&) = delete;

    virtual ~CBaseIniReader();

    // False for an empty path or a file that cannot be read; a missing file
    // keeps the path so that a later write creates it.
    virtual bool LoadFile(const std::wstring& path);
    virtual bool ReadDWORD(const std::wstring& section, const std::wstring& key, DWORD& value);
    virtual bool ReadString(const std::wstring& section, const std::wstring& key, std::wstring& value);
    // `name` is section + "." + key.
    virtual bool ReadDWORDByName(const std::wstring& name, DWORD& value) = 0;
    virtual bool ReadStringByName(const std::wstring& name, std::wstring& value) = 0;
    virtual bool CopySection(const std::wstring& section, IniSection& values) = 0;
    virtual bool WriteDWORD(const std::wstring& section, const std::wstring& key, DWORD value);
    virtual bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& text);
    // Keeps a value in memory. `written` is false for a value parsed from the
    // file and true for one this reader has just written to it.
    virtual bool StoreValue(const std::wstring& section, const std::wstring& key, const std::wstring& text,
                            bool written) = 0;
    // One line of the file, in the ANSI code page, without its line break.
    virtual void ParseLine(const std::string& line);

    const std::wstring& GetPath() const noexcept { return path_; }
    size_t GetSectionCount() const noexcept { return sectionCount_; }
    size_t GetKeyLineCount() const noexcept { return keyLineCount_; }

    static std::wstring JoinName(const std::wstring& section, const std::wstring& key);

private:
    std::wstring path_;
    std::wstring section_;
    size_t sectionCount_ = 0;
    size_t keyLineCount_ = 0;
};

} // namespace Basalt
