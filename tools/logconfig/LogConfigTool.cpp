#include "LogConfigTool.h"
#include "LogReader.h"

#include "Logging/ETWAppProperties.h"
#include "Logging/LogFileSettings.h"
#include "Logging/LoggingNames.h"
#include "Logging/ProgramData.h"
#include "registry/CBaseIniReader.h"
#include "registry/CObfuscatedIniReader.h"
#include "registry/CRegKey.h"
#include "registry/ScrambledForm.h"
#include "win/Registry.h"

#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <utility>

namespace Orvik::tools {
namespace names = ETWLogging::names;
namespace {

// The Windows code for exactly this, which none of the file and registry calls
// of the commands returns: a script can tell a bad command line from, say, a
// missing file (2).
constexpr int kUsageError = ERROR_INVALID_COMMAND_LINE;
constexpr REGSAM kView = KEY_WOW64_64KEY;

using ETWLogging::internal::LogFileKeyRule;

const LogFileKeyRule* findIniKey(const std::wstring& key)
{
    return ETWLogging::internal::findLogFileKey(key.c_str());
}

// Decimal, or hexadecimal after "0x": a leading zero is no octal marker, so
// "010" is ten. No sign, no white space.
bool parseDword(const std::wstring& text, DWORD& value)
{
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const std::wstring digits = hex ? text.substr(2) : text;
    if (digits.empty())
        return false;
    unsigned long long parsed = 0;
    for (const wchar_t c : digits) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (hex && c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else if (hex && c >= L'A' && c <= L'F')
            digit = static_cast<unsigned>(c - L'A' + 10);
        else
            return false;
        parsed = parsed * (hex ? 16 : 10) + digit;
        if (parsed > MAXDWORD)
            return false;
    }
    value = static_cast<DWORD>(parsed);
    return true;
}

std::wstring systemMessage(DWORD code)
{
    wchar_t buffer[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && std::iswspace(text.back()))
        text.pop_back();
    return text.empty() ? L"error " + std::to_wstring(code) : text + L" (" + std::to_wstring(code) + L")";
}

std::wstring folderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Every key=value line of an INI file as it stands, scrambled or not.
class IniListing : public Basalt::CBaseIniReader {
public:
    struct Line {
        std::wstring section;
        std::wstring key;
        std::wstring text;
    };

    bool ReadDWORDByName(const std::wstring&, DWORD&) override { return false; }
    bool ReadStringByName(const std::wstring& name, std::wstring& value) override
    {
        for (const Line& line : lines_) {
            if (JoinName(line.section, line.key) == name) {
                value = line.text;
                return true;
            }
        }
        return false;
    }
    bool CopySection(const std::wstring& section, Basalt::IniSection& values) override
    {
        for (const Line& line : lines_) {
            if (line.section == section)
                values[line.key] = line.text;
        }
        return true;
    }
    bool StoreValue(const std::wstring& section, const std::wstring& key, const std::wstring& text,
                    bool) override
    {
        lines_.push_back({section, key, text});
        return true;
    }

    const std::vector<Line>& lines() const { return lines_; }

private:
    std::vector<Line> lines_;
};

std::wstring describeValue(DWORD type, const std::vector<BYTE>& data)
{
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data.data(), sizeof(value));
        return std::to_wstring(value) + L" (DWORD)";
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return L"\"" + text + L"\" (string)";
    }
    std::wstring hex;
    wchar_t digits[4];
    for (BYTE byte : data) {
        std::swprintf(digits, std::size(digits), L"%02X", byte);
        hex += digits;
    }
    return hex + L" (type " + std::to_wstring(type) + L")";
}

} // namespace

LogConfigTool::LogConfigTool(Output out, std::wstring programData)
    : out_(std::move(out)), programData_(std::move(programData))
{
    if (programData_.empty())
        ETWLogging::internal::GetProgramDataFolder(programData_);
}

std::wstring LogConfigTool::logRoot() const
{
    return programData_ + names::kLogRootFolder;
}

std::wstring LogConfigTool::iniPath(const IniTarget& target) const
{
    if (!target.folderFile)
        return logRoot() + names::kIniFileName;
    std::wstring folder = logRoot();
    if (!target.group.empty())
        folder += target.group + L"\\";
    return folder + target.process + L"\\" + names::kIniFileName;
}

std::wstring LogConfigTool::providerKeyPath(const OverrideTarget& target) const
{
    std::wstring path = ETWLogging::internal::ProviderKeyPathOf(target.application);
    if (!target.group.empty()) {
        path += L"\\" + target.group;
        if (!target.module.empty())
            path += L"\\" + target.module;
    }
    return path;
}

int LogConfigTool::setBackEnd(const std::wstring& which)
{
    DWORD mechanism = 0;
    if (_wcsicmp(which.c_str(), L"file") == 0)
        mechanism = names::kMechanismFile;
    else if (_wcsicmp(which.c_str(), L"trace") != 0)
        return usage();
    Basalt::CObfuscatedRegKey key;
    LONG status = key.Create(HKEY_LOCAL_MACHINE, names::kLoggingKey, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WRITE | kView);
    if (status == ERROR_SUCCESS)
        status = key.SetDWORDValue(names::kLoggingMechanismValue, mechanism);
    if (status != ERROR_SUCCESS) {
        say(L"Cannot write HKLM\\" + std::wstring(names::kLoggingKey) + L": " + systemMessage(status));
        return static_cast<int>(status);
    }
    say(std::wstring(L"Back end: ") + (mechanism == names::kMechanismFile ? L"file" : L"trace") +
        L" (takes effect when a process next starts logging)");
    return 0;
}

int LogConfigTool::setIniValue(const IniTarget& target, const std::wstring& key, const std::wstring& value)
{
    const LogFileKeyRule* rule = findIniKey(key);
    DWORD number = 0;
    if (rule == nullptr || !parseDword(value, number))
        return usage();
    if (number < rule->minimum || number > rule->maximum) {
        say(std::wstring(rule->key) + L" must be between " + std::to_wstring(rule->minimum) + L" and " +
            std::to_wstring(rule->maximum) + L"; the module would replace " + value + L" with its default " +
            std::to_wstring(rule->defaultValue) + L".");
        return ERROR_INVALID_PARAMETER;
    }
    if (!target.folderFile && rule->key == names::kIniLastLogIdx) {
        say(L"LastLogIdx is read from a process's folder file only: name --group and --process.");
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring path = iniPath(target);
    const int created = ::SHCreateDirectoryExW(nullptr, folderOf(path).c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) {
        say(L"Cannot create the folder of " + path + L": " + systemMessage(static_cast<DWORD>(created)));
        return created;
    }
    Basalt::CObfuscatedIniReader ini(true);
    ini.LoadFile(path);
    if (!ini.WriteDWORD(names::kIniSection, rule->key, number)) {
        const DWORD error = ::GetLastError();
        say(L"Cannot write " + path + L": " + systemMessage(error));
        return error != 0 ? static_cast<int>(error) : ERROR_WRITE_FAULT;
    }
    say(path + L": " + rule->key + L" = " + std::to_wstring(number));
    return 0;
}

int LogConfigTool::resetIniValue(const IniTarget& target, const std::wstring& key)
{
    const LogFileKeyRule* rule = findIniKey(key);
    if (rule == nullptr)
        return usage();
    const std::wstring path = iniPath(target);
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        say(path + L" does not exist: " + rule->key + L" has its default.");
        return 0;
    }
    if (!::WritePrivateProfileStringW(names::kIniSection, rule->key, nullptr, path.c_str())) {
        const DWORD error = ::GetLastError();
        say(L"Cannot write " + path + L": " + systemMessage(error));
        return error != 0 ? static_cast<int>(error) : ERROR_WRITE_FAULT;
    }
    say(path + L": " + rule->key + L" removed (default " + std::to_wstring(rule->defaultValue) + L")");
    return 0;
}

int LogConfigTool::setOverride(const OverrideTarget& target, const std::wstring& name, DWORD value)
{
    const bool enable = _wcsicmp(name.c_str(), names::kEnableValue) == 0;
    if (!enable && _wcsicmp(name.c_str(), names::kSeverityValue) != 0)
        return usage();
    const std::wstring path = providerKeyPath(target);
    Basalt::CRegKey key;
    LONG status = key.Create(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WRITE | kView);
    const wchar_t* valueName = enable ? names::kEnableValue : names::kSeverityValue;
    if (status == ERROR_SUCCESS)
        status = key.SetDWORDValue(valueName, value);
    if (status != ERROR_SUCCESS) {
        say(L"Cannot write HKLM\\" + path + L": " + systemMessage(status));
        return static_cast<int>(status);
    }
    say(L"HKLM\\" + path + L": " + valueName + L" = " + std::to_wstring(value));
    return 0;
}

int LogConfigTool::resetOverride(const OverrideTarget& target, const std::wstring& name)
{
    const bool enable = _wcsicmp(name.c_str(), names::kEnableValue) == 0;
    if (!enable && _wcsicmp(name.c_str(), names::kSeverityValue) != 0)
        return usage();
    const std::wstring path = providerKeyPath(target);
    const wchar_t* valueName = enable ? names::kEnableValue : names::kSeverityValue;
    Basalt::CRegKey key;
    LONG status = key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ | KEY_WRITE | kView);
    if (status == ERROR_SUCCESS)
        status = key.DeleteValue(valueName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        say(L"Cannot change HKLM\\" + path + L": " + systemMessage(status));
        return static_cast<int>(status);
    }
    say(L"HKLM\\" + path + L": " + valueName + L" removed");
    return 0;
}

int LogConfigTool::decodeIniFile(const std::wstring& path)
{
    IniListing listing;
    if (!listing.LoadFile(path)) {
        const DWORD error = ::GetLastError();
        say(L"Cannot read " + path + L": " + systemMessage(error));
        return error != 0 ? static_cast<int>(error) : ERROR_READ_FAULT;
    }
    say(path + L":");
    for (const IniListing::Line& line : listing.lines()) {
        std::wstring clear;
        DWORD type = REG_NONE;
        const LONG status = Basalt::scrambled::decodeIniValue(line.text, clear, type);
        std::wstring shown;
        std::vector<BYTE> bytes;
        if (status == ERROR_SUCCESS)
            shown = clear + (type == REG_DWORD ? L" (DWORD)" : L" (string)");
        else if (Basalt::scrambled::fromProfileStructText(line.text, bytes))
            shown = L"<damaged scrambled value: ignored by the module>";
        else
            shown = L"\"" + line.text + L"\" <plain text: ignored by the module>";
        say(L"  [" + line.section + L"] " + line.key + L" = " + shown);
    }
    return 0;
}

int LogConfigTool::decodeRegistryValue(const std::wstring& keyPath, const std::wstring& valueName)
{
    const win::RegistryKey key = win::RegistryKey::open(HKEY_LOCAL_MACHINE, keyPath, win::RegistryView::Bit64,
                                                              KEY_QUERY_VALUE);
    win::RegistryRead<std::vector<BYTE>> read = key.readBytes(valueName.c_str());
    if (!read.ok()) {
        say(L"Cannot read HKLM\\" + keyPath + L" \"" + valueName + L"\": " + systemMessage(read.status));
        return static_cast<int>(read.status);
    }
    const DWORD type = read.type;
    const std::vector<BYTE>& raw = read.value;
    DWORD declared = REG_NONE;
    std::vector<BYTE> clear;
    if (type == REG_BINARY &&
        Basalt::scrambled::decodeRegistryValue(raw.data(), raw.size(), declared, clear) == ERROR_SUCCESS) {
        say(L"HKLM\\" + keyPath + L" \"" + valueName + L"\" = " + describeValue(declared, clear));
        return 0;
    }
    say(L"HKLM\\" + keyPath + L" \"" + valueName + L"\" is not in the scrambled form: " +
        describeValue(type, raw));
    return ERROR_INVALID_DATA;
}

void LogConfigTool::showTraceConfiguration(const std::wstring& application)
{
    ETWLogging::internal::ETWAppProperties properties;
    properties.dataFolder = programData_;
    if (!properties.Load(application.c_str())) {
        say(L"Event-trace configuration of \"" + (application.empty() ? std::wstring(names::kDefaultApplication) : application) +
            L"\": none (its registry key is incomplete, or only QMX has built-in defaults): the trace back end cannot start");
        return;
    }
    const auto guidText = [](const GUID& guid) {
        wchar_t text[40] = {};
        ::StringFromGUID2(guid, text, 40);
        return std::wstring(text);
    };
    say(L"Event-trace configuration of \"" + properties.applicationName + L"\":");
    say(L"  provider " + guidText(properties.providerGuid) + L", overrides under HKLM\\" + properties.providerKeyPath);
    say(L"  session \"" + properties.sessionName + L"\" " + guidText(properties.sessionIdGuid) + L", owner mutex " +
        properties.ownerMutexName);
    say(L"  log path " + properties.logPath + L", trace file " + properties.etlFilePath);
    if (!properties.controllerPath.empty())
        say(L"  controller " + properties.controllerPath);
}

int LogConfigTool::show(const IniTarget& folder, const OverrideTarget& overrides)
{
    {
        // The module takes anything but a readable 1 for the trace back end;
        // a value that is there but unreadable is worth telling from none.
        Basalt::CObfuscatedRegKey key;
        DWORD mechanism = 0;
        const std::wstring value = L"\"Logging Mechanism\"";
        LONG status = key.Open(HKEY_LOCAL_MACHINE, names::kLoggingKey, KEY_READ | kView);
        if (status == ERROR_SUCCESS)
            status = key.QueryDWORDValue(names::kLoggingMechanismValue, mechanism);
        std::wstring backEnd;
        if (status == ERROR_SUCCESS)
            backEnd = mechanism == names::kMechanismFile ? L"file" : L"trace";
        else if (status == ERROR_FILE_NOT_FOUND)
            backEnd = L"trace (no " + value + L" value)";
        else if (status == ERROR_INVALID_DATA || status == ERROR_MORE_DATA)
            backEnd = L"trace (the " + value + L" value is damaged: not a scrambled DWORD, so the module ignores it;"
                      L" set it again with \"backend file|trace\")";
        else
            backEnd = L"trace (" + value + L" cannot be read: " + systemMessage(static_cast<DWORD>(status)) + L")";
        say(L"Back end: " + backEnd);
    }

    say(L"Provider overrides (plain DWORDs, the most specific key wins):");
    OverrideTarget level = overrides;
    level.group.clear();
    level.module.clear();
    for (int depth = 0; depth < 3; ++depth) {
        if (depth == 1)
            level.group = overrides.group;
        if (depth == 2)
            level.module = overrides.module;
        if ((depth >= 1 && level.group.empty()) || (depth == 2 && level.module.empty()))
            break;
        const std::wstring path = providerKeyPath(level);
        Basalt::CRegKey key;
        std::wstring line = L"  HKLM\\" + path + L":";
        if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ | kView) != ERROR_SUCCESS) {
            say(line + L" (no key)");
            continue;
        }
        for (const wchar_t* name : {names::kEnableValue, names::kSeverityValue}) {
            DWORD value = 0;
            line += std::wstring(L" ") + name + L"=" +
                    (key.QueryDWORDValue(name, value) == ERROR_SUCCESS ? std::to_wstring(value) : L"(not set)");
        }
        say(line);
    }

    showTraceConfiguration(overrides.application);

    say(L"File back end: log root " + logRoot());
    if (!folder.process.empty()) {
        const ETWLogging::internal::LogFileValues values =
            ETWLogging::internal::LogFileSettings(iniPath(folder), iniPath(IniTarget{})).read(false);
        wchar_t options[16];
        std::swprintf(options, 16, L"0x%02lX", static_cast<unsigned long>(values.options));
        say(L"  in effect for " + (folder.group.empty() ? std::wstring() : folder.group + L"\\") + folder.process +
            L": Enable=" + std::to_wstring(values.enable) + L" MaxSize=" + std::to_wstring(values.maxSize) +
            L" MaxEntries=" + std::to_wstring(values.maxEntries) + L" Severity=" + std::to_wstring(values.severity) +
            L" Options=" + options);
    }
    std::vector<IniTarget> files{IniTarget{}};
    if (folder.folderFile && !folder.process.empty())
        files.push_back(folder);
    for (const IniTarget& target : files) {
        const std::wstring path = iniPath(target);
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            say(L"  " + path + L": (none)");
        else
            decodeIniFile(path);
    }
    return 0;
}

int LogConfigTool::usage()
{
    say(L"Usage: ZuLogConfig <command>");
    say(L"  show [--group G] [--process P] [--module M] [--app A]");
    say(L"  backend file|trace");
    say(L"  ini set <key> <value> [--group G --process P]     (root log.ini unless --process)");
    say(L"  ini reset <key> [--group G --process P]");
    say(L"      keys: Enable MaxSize MaxEntries Severity Options LastLogIdx");
    say(L"  override set Enable|Severity <value> [--app A] [--group G [--module M]]");
    say(L"  override reset Enable|Severity [--app A] [--group G [--module M]]");
    say(L"  decode ini <file>");
    say(L"  decode reg <key path under HKLM> <value name>");
    say(L"  log <group> [--process P] [--host H] [--level L] [--since T] [--follow] [--root R]");
    return kUsageError;
}

int LogConfigTool::run(const std::vector<std::wstring>& arguments)
{
    // The log reader takes options of its own.
    if (!arguments.empty() && arguments[0] == L"log")
        return runLogCommand({arguments.begin() + 1, arguments.end()}, logRoot(), out_);
    std::vector<std::wstring> words;
    IniTarget ini;
    OverrideTarget overrides;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& word = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (word == L"--group" && hasValue) {
            ini.group = overrides.group = arguments[++i];
        } else if (word == L"--process" && hasValue) {
            ini.process = arguments[++i];
            ini.folderFile = true;
        } else if (word == L"--module" && hasValue) {
            overrides.module = arguments[++i];
        } else if (word == L"--app" && hasValue) {
            overrides.application = arguments[++i];
        } else if (word.rfind(L"--", 0) == 0) {
            return usage();
        } else {
            words.push_back(word);
        }
    }
    if (ini.folderFile && ini.process.empty())
        return usage();
    const auto is = [&words](size_t count, const wchar_t* first, const wchar_t* second = nullptr) {
        return words.size() == count && words[0] == first && (second == nullptr || words[1] == second);
    };
    if (is(1, L"show"))
        return show(ini, overrides);
    if (is(2, L"backend"))
        return setBackEnd(words[1]);
    if (is(4, L"ini", L"set"))
        return setIniValue(ini, words[2], words[3]);
    if (is(3, L"ini", L"reset"))
        return resetIniValue(ini, words[2]);
    if (is(4, L"override", L"set")) {
        DWORD value = 0;
        if (!parseDword(words[3], value))
            return usage();
        return setOverride(overrides, words[2], value);
    }
    if (is(3, L"override", L"reset"))
        return resetOverride(overrides, words[2]);
    if (is(3, L"decode", L"ini"))
        return decodeIniFile(words[2]);
    if (is(4, L"decode", L"reg"))
        return decodeRegistryValue(words[2], words[3]);
    return usage();
}

} // namespace Orvik::tools
