#include "Logging/LogFileSettings.h"

#include "Logging/LoggingNames.h"
#include "registry/CObfuscatedIniReader.h"

#include <utility>

namespace ETWLogging {
namespace internal {
namespace {

bool exists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The key's value from one file: true with the value when valid; an invalid
// one is replaced by the default in that file and answers false.
bool validValue(Basalt::CObfuscatedIniReader& ini, const LogFileKeyRule& rule, bool repair, bool& found, DWORD& value)
{
    found = ini.ReadDWORD(names::kIniSection, rule.key, value);
    if (!found)
        return false;
    if (value >= rule.minimum && value <= rule.maximum)
        return true;
    if (repair)
        ini.WriteDWORD(names::kIniSection, rule.key, rule.defaultValue);
    return false;
}

} // namespace

const LogFileKeyRule kLogFileKeys[6] = {
    {names::kIniEnable, names::kDefaultEnable, 0, MAXDWORD, &LogFileValues::enable},
    {names::kIniMaxSize, names::kDefaultMaxSize, names::kMinMaxSize, names::kMaxMaxSize, &LogFileValues::maxSize},
    {names::kIniMaxEntries, names::kDefaultMaxEntries, names::kMinMaxEntries, names::kMaxMaxEntries,
     &LogFileValues::maxEntries},
    {names::kIniSeverity, names::kDefaultSeverity, 0, names::kMaxIniSeverity, &LogFileValues::severity},
    {names::kIniOptions, names::kDefaultOptions, 0, MAXDWORD, &LogFileValues::options},
    {names::kIniLastLogIdx, 0, 0, MAXDWORD, nullptr},
};

const LogFileKeyRule* findLogFileKey(const wchar_t* key)
{
    for (const LogFileKeyRule& rule : kLogFileKeys) {
        if (key != nullptr && _wcsicmp(rule.key, key) == 0)
            return &rule;
    }
    return nullptr;
}

LogFileSettings::LogFileSettings(std::wstring folderIni, std::wstring rootIni)
    : folderIni_(std::move(folderIni)), rootIni_(std::move(rootIni))
{
}

LogFileValues LogFileSettings::read(bool repairInvalid) const
{
    LogFileValues values{names::kDefaultEnable, names::kDefaultMaxSize, names::kDefaultMaxEntries,
                         names::kDefaultSeverity, names::kDefaultOptions};
    const bool folderExists = exists(folderIni_);
    const bool rootExists = exists(rootIni_);
    if (!folderExists && !rootExists)
        return values;
    Basalt::CObfuscatedIniReader folder(true);
    Basalt::CObfuscatedIniReader root(true);
    if (folderExists)
        folder.LoadFile(folderIni_);
    if (rootExists)
        root.LoadFile(rootIni_);
    for (const LogFileKeyRule& rule : kLogFileKeys) {
        if (rule.field == nullptr)
            continue;
        DWORD value = 0;
        bool found = false;
        if (folderExists && validValue(folder, rule, repairInvalid, found, value)) {
            values.*rule.field = value;
            continue;
        }
        if (rootExists && validValue(root, rule, repairInvalid, found, value)) {
            values.*rule.field = value;
            continue;
        }
        values.*rule.field = rule.defaultValue;
    }
    return values;
}

DWORD LogFileSettings::readLastLogIdx() const
{
    if (!exists(folderIni_))
        return 0;
    Basalt::CObfuscatedIniReader folder(true);
    DWORD index = 0;
    if (!folder.LoadFile(folderIni_) || !folder.ReadDWORD(names::kIniSection, names::kIniLastLogIdx, index))
        return 0;
    return index;
}

bool LogFileSettings::writeLastLogIdx(DWORD index) const
{
    Basalt::CObfuscatedIniReader folder(true);
    folder.LoadFile(folderIni_);
    return folder.WriteDWORD(names::kIniSection, names::kIniLastLogIdx, index) && readLastLogIdx() == index;
}

} // namespace internal
} // namespace ETWLogging
