#pragma once
// The file back end's settings from its two log.ini files: the folder file of
// the process's log folder, then the root file of the log root. Only values in
// the scrambled form count; an invalid value is replaced by its default in the
// file where it was found.

#include <windows.h>

#include <string>

namespace ETWLogging {
namespace internal {

struct LogFileValues {
    DWORD enable;
    DWORD maxSize;
    DWORD maxEntries;
    DWORD severity;
    DWORD options;
};

// One log.ini key: its default and the values the file back end accepts.
struct LogFileKeyRule {
    const wchar_t* key;
    DWORD defaultValue;
    DWORD minimum;
    DWORD maximum;
    DWORD LogFileValues::*field; // null for LastLogIdx, the rotation index
};

// Every key of section "Config" the file back end reads.
extern const LogFileKeyRule kLogFileKeys[6];

// The rule of `key` (any case); null for a key the file back end does not read.
const LogFileKeyRule* findLogFileKey(const wchar_t* key);

class LogFileSettings {
public:
    LogFileSettings(std::wstring folderIni, std::wstring rootIni);

    // The five settings, read once at initialisation. `repairInvalid` false
    // leaves invalid values in their files (for tools that only look).
    LogFileValues read(bool repairInvalid = true) const;
    // The rotation index of the folder file; 0 when it has none.
    DWORD readLastLogIdx() const;
    // True only when the index is in the file and reads back as written: a
    // rotation that went on without it would be undone by the next line.
    bool writeLastLogIdx(DWORD index) const;

    const std::wstring& folderIni() const { return folderIni_; }
    const std::wstring& rootIni() const { return rootIni_; }

private:
    std::wstring folderIni_;
    std::wstring rootIni_;
};

} // namespace internal
} // namespace ETWLogging
