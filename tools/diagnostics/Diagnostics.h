#pragma once
// What the module would meet on this machine, found by the module's own code:
// its file, the bus library its path search would pick, the update agent's
// registration, the trust catalog and the logging configuration, and on
// request whether a settings service answers. Each check gives one result:
// ok, or a problem with what to do about it. Nothing is written, and no file
// is loaded before it has passed the module's trust check.

#include "trust/TrustCatalog.h"
#include "trust/TrustValidator.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Orvik::tools {

using Output = std::function<void(const std::wstring& line)>;

struct CheckResult {
    std::wstring name;     // "module", "bus", "agent", "catalog", "logging", "settings"
    bool ok = true;
    std::wstring summary;  // what was found
    std::wstring fix;      // for a problem: what to do about it
    // Named facts for the JSON report, in the order found.
    std::vector<std::pair<std::wstring, std::wstring>> facts;

    void fact(const std::wstring& key, const std::wstring& value) { facts.emplace_back(key, value); }
    void problem(const std::wstring& what, const std::wstring& todo)
    {
        ok = false;
        summary = what;
        fix = todo;
    }
};

struct DiagnosticsOptions {
    // Empty: UpdateModule.dll beside this program.
    std::wstring modulePath;
    // The host program's folder, where "$(App.Folder)" points inside the host;
    // empty: the macro as this process expands it (this program's folder).
    std::wstring hostFolder;
    // The host process's base name: its folder under the log root.
    std::wstring hostProcess;
    // The class the module creates the update agent from.
    CLSID agentClass{};
    bool checkSettings = false;
    DWORD settingsTimeLimitMs = 3000;
};

class Diagnostics {
public:
    // The validator and catalog the checks consult: the process's own ones in
    // the program, ones over a catalog of their own in tests.
    Diagnostics(DiagnosticsOptions options, const trust::TrustValidator& validator, trust::TrustCatalog& catalog);

    CheckResult checkModule();
    CheckResult checkBusLibrary();
    CheckResult checkAgentClass();
    CheckResult checkTrustCatalog();
    CheckResult checkLogging();
    CheckResult checkSettingsService();
    // All of the above, the settings service only when asked for.
    std::vector<CheckResult> runAll();

    const DiagnosticsOptions& options() const { return options_; }

private:
    struct Verdict {
        bool trusted = false;
        std::wstring reason;   // why, in a phrase
        std::wstring version;  // "FileVersion" of the version resource, when it has one
    };
    // The module's trust verdict on a file, and the reason for it.
    Verdict judge(const std::wstring& path) const;
    // judge, with the verdict's version, trust and reason recorded as facts.
    Verdict judgeInto(const std::wstring& path, CheckResult& result) const;
    // A search folder as it reads inside the host.
    std::wstring inHost(const std::wstring& folder) const;

    DiagnosticsOptions options_;
    const trust::TrustValidator& validator_;
    trust::TrustCatalog& catalog_;
};

// Default options: the module's agent class, nothing else given.
DiagnosticsOptions defaultDiagnosticsOptions();

std::wstring formatText(const CheckResult& result);
// One JSON object: {"problems":n,"checks":{"module":{"ok":...,"summary":...,"fix":...,"facts":{...}},...}}
std::wstring formatJson(const std::vector<CheckResult>& results);

// The program ZuDiagnose.exe: reads the command line, keeps the tool's own
// logging from writing anything, runs the checks and writes the report.
// Returns the number of problems (0: all ok), or ERROR_INVALID_COMMAND_LINE
// after the usage text.
int runDiagnose(const std::vector<std::wstring>& arguments, const Output& out);

} // namespace Orvik::tools
