#pragma once
// The logging configuration of a machine as an administrator sees it: the
// commands of ZuLogConfig.exe, each writing its report to a text sink so that
// the program and the tests run the same code.
//
// Everything is written the way the module reads it: "Logging Mechanism" and
// log.ini values in the scrambled form, the provider-key "Enable"/"Severity"
// overrides as plain DWORDs (the module reads those keys with a plain key).

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace Orvik::tools {

using Output = std::function<void(const std::wstring& line)>;

// Where a log.ini lives: the root file of the log root, or the folder file of
// one process's log folder (<root>\<group>\<process base name>, or
// <root>\<process base name> without a group).
struct IniTarget {
    bool folderFile = false;
    std::wstring group;
    std::wstring process;
};

// Where a provider override lives: the provider key, its group sub-key or the
// group's module sub-key.
struct OverrideTarget {
    std::wstring application; // empty: the default application
    std::wstring group;
    std::wstring module;
};

class LogConfigTool {
public:
    // `programData` empty: the machine's common application data folder.
    explicit LogConfigTool(Output out, std::wstring programData = {});

    // Runs one command line (without the program name); 0 on success,
    // ERROR_INVALID_COMMAND_LINE (1639) for a usage error, else the Win32 code
    // of what failed (2 for a missing file or key).
    int run(const std::vector<std::wstring>& arguments);

    int setBackEnd(const std::wstring& which);
    int setIniValue(const IniTarget& target, const std::wstring& key, const std::wstring& value);
    int resetIniValue(const IniTarget& target, const std::wstring& key);
    int setOverride(const OverrideTarget& target, const std::wstring& name, DWORD value);
    int resetOverride(const OverrideTarget& target, const std::wstring& name);
    int decodeIniFile(const std::wstring& path);
    int decodeRegistryValue(const std::wstring& keyPath, const std::wstring& valueName);
    int show(const IniTarget& folder, const OverrideTarget& overrides);
    void showTraceConfiguration(const std::wstring& application);

    std::wstring logRoot() const;
    std::wstring iniPath(const IniTarget& target) const;
    // The provider key of the application, and of its group and module below it.
    std::wstring providerKeyPath(const OverrideTarget& target) const;

private:
    void say(const std::wstring& line) const { out_(line); }
    int usage();

    Output out_;
    std::wstring programData_;
};

} // namespace Orvik::tools
