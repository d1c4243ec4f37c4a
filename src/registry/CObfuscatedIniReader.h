#pragma once
// INI reader for files whose values are stored in the scrambled form
// (ScrambledForm.h), such as log.ini. Values that check out are kept in clear
// and marked; a strict reader finds only those, so a value someone typed into
// the file in plain text counts as missing. Writes are always scrambled.
// Section and key names are matched without regard to case, as the platform's
// profile functions match them when they write: a value written under
// "Config" into a file whose section reads "[CONFIG]" lands in that section.

#include "registry/CBaseIniReader.h"

#include <unordered_map>
#include <vector>

namespace Basalt {

class CObfuscatedIniReader : public CBaseIniReader {
public:
    explicit CObfuscatedIniReader(bool strict);

    bool LoadFile(const std::wstring& path) override;
    bool ReadDWORDByName(const std::wstring& name, DWORD& value) override;
    bool ReadStringByName(const std::wstring& name, std::wstring& value) override;
    bool CopySection(const std::wstring& section, IniSection& values) override;
    bool WriteDWORD(const std::wstring& section, const std::wstring& key, DWORD value) override;
    bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& text) override;
    // Here `written` marks the value as scrambled: this reader writes nothing else.
    bool StoreValue(const std::wstring& section, const std::wstring& key, const std::wstring& text,
                    bool written) override;

private:
    struct Entry {
        std::wstring value;
        bool scrambled = false;
        DWORD type = REG_NONE; // declared type of a scrambled value
        std::wstring key;      // as first spelt in the file
    };

    bool Keep(const std::wstring& section, const std::wstring& key, const std::wstring& text, bool scrambled,
              DWORD type);
    bool WriteBlob(const std::wstring& section, const std::wstring& key, const std::vector<BYTE>& blob);

    bool strict_;
    // Both keyed by the case-folded name; an IniSection keeps the spelling of its keys.
    std::unordered_map<std::wstring, Entry> entries_;      // by section + "." + key
    std::unordered_map<std::wstring, IniSection> sections_; // by section
};

} // namespace Basalt
