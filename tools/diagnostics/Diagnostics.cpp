#include "Diagnostics.h"

#include "Logging/CETWConfigurationListener.h"
#include "Logging/CETWLogging.h"
#include "Logging/CLogging.h"
#include "Logging/ETWAppProperties.h"
#include "Logging/LogFileSettings.h"
#include "Logging/Logger.h"
#include "Logging/LoggerHolder.h"
#include "Logging/LoggingIf.h"
#include "Logging/LoggingNames.h"
#include "Logging/ProgramData.h"
#include "dll/PathSearch.h"
#include "dll/SharedLibrary.h"
#include "json/JSONParser.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusLib.h"
#include "paths/PathHelpers.h"
#include "settings/SettingsManagerClient.h"
#include "trust/SignedLibraryValidation.h"
#include "trust/TrustAnchors.h"
#include "trust/VerifiedFile.h"
#include "update/IZuUpdateAgent.h"
#include "win/ModulePath.h"
#include "wrappers/FileVersionInfo.h"

#include <chrono>
#include <cstdio>
#include <cwctype>
#include <deque>
#include <iterator>
#include <memory>
#include <mutex>

namespace Orvik::tools {
namespace names = ETWLogging::names;
namespace {

constexpr int kUsageError = ERROR_INVALID_COMMAND_LINE;
constexpr wchar_t kModuleFileName[] = L"UpdateModule.dll";
// The logger group the module reports under, and its module sub-key.
constexpr wchar_t kModuleGroup[] = L"UpdateModule";
constexpr wchar_t kModuleBaseName[] = L"UpdateModule";
constexpr wchar_t kInstallDirKey[] = L"HKLM\\SOFTWARE\\CORVANE\\TESL";
// How much earlier than its limit a timed-out request may seem to end (tick granularity).
constexpr ULONGLONG kTimerSlackMs = 50;

std::wstring systemMessage(DWORD code)
{
    wchar_t buffer[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (std::iswspace(text.back()) || text.back() == L'.'))
        text.pop_back();
    return text.empty() ? L"error " + std::to_wstring(code) : text + L" (" + std::to_wstring(code) + L")";
}

std::wstring hex(DWORD value)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring folderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring baseNameOf(const std::wstring& path)
{
    std::wstring name = win::fileNameOf(path);
    const std::size_t dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring withoutTrailingSlash(std::wstring folder)
{
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

std::wstring guidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring versionText(const std::wstring& version)
{
    return version.empty() ? std::wstring(L"no version resource") : L"version " + version;
}

std::wstring yesNo(bool value)
{
    return value ? L"yes" : L"no";
}

// --- why a signature is refused ----------------------------------------------

std::wstring chainErrorText(DWORD status)
{
    struct Bit {
        DWORD bit;
        const wchar_t* text;
    };
    static constexpr Bit kBits[] = {
        {CERT_TRUST_IS_NOT_TIME_VALID, L"a certificate has expired or is not yet valid"},
        {CERT_TRUST_IS_REVOKED, L"a certificate is revoked"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, L"a certificate's signature is invalid"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, L"the certificate is not for code signing"},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, L"its root is not trusted on this machine"},
        {CERT_TRUST_IS_PARTIAL_CHAIN, L"the chain does not reach a root"},
    };
    std::wstring text;
    DWORD rest = status;
    for (const Bit& bit : kBits) {
        if ((status & bit.bit) == 0)
            continue;
        text += (text.empty() ? L"" : L", ") + std::wstring(bit.text);
        rest &= ~bit.bit;
    }
    if (rest != 0)
        text += (text.empty() ? L"" : L", ") + std::wstring(L"chain error ") + hex(rest);
    return text;
}

std::wstring timeStampText(trust::TimeStampVerdict verdict)
{
    switch (verdict) {
    case trust::TimeStampVerdict::None: return L" (no time stamp vouches for the signing time)";
    case trust::TimeStampVerdict::Refused: return L" (its time stamp does not verify)";
    case trust::TimeStampVerdict::Verified: return L" (at the time of its time stamp)";
    case trust::TimeStampVerdict::NotNeeded: return L"";
    }
    return L"";
}

std::wstring listsText(const trust::TrustValidator::OwnCheckExplanation& explanation)
{
    return explanation.catalogLists
               ? L"the trust catalog (version " + std::to_wstring(explanation.catalogVersion) + L")"
               : std::wstring(L"the built-in lists");
}

std::wstring signerText(const trust::SignerReport& signer,
                        const trust::TrustValidator::OwnCheckExplanation& explanation)
{
    using trust::SignerOutcome;
    const std::wstring who = signer.name.empty() ? L"signer" : L"signer \"" + signer.name + L"\"";
    switch (signer.outcome) {
    case SignerOutcome::SignerInfoUnreadable: return L"a signer's information cannot be read";
    case SignerOutcome::SerialDenied:
        return L"signer certificate serial " + signer.serial + L" is denied by " + listsText(explanation);
    case SignerOutcome::CertificateNotFound: return L"the signer's certificate is missing from the signature";
    case SignerOutcome::NameNotAccepted: return who + L" is not accepted by " + listsText(explanation);
    case SignerOutcome::ChainNotBuilt: return who + L": no certificate chain could be built";
    case SignerOutcome::ChainHasTrustErrors:
        return who + L": " + chainErrorText(signer.chainErrorStatus) + timeStampText(signer.timeStamp);
    case SignerOutcome::RootNotPinned:
        return who + L": the chain ends at a root " + listsText(explanation) + L" does not pin";
    case SignerOutcome::TimeStampPolicyFailed: return who + L": the time-stamp chain policy refuses it";
    case SignerOutcome::WinVerifyTrustFailed:
        return who + (signer.winVerifyTrustResult == static_cast<LONG>(TRUST_E_BAD_DIGEST)
                          ? std::wstring(L": the file was changed after it was signed")
                          : L": WinVerifyTrust refuses the file (" +
                                hex(static_cast<DWORD>(signer.winVerifyTrustResult)) + L")");
    case SignerOutcome::Passed: return who + L" passes";
    }
    return who + L": refused";
}

std::wstring refusalText(const trust::TrustValidator::OwnCheckExplanation& explanation)
{
    const trust::SignatureReport& report = explanation.signature;
    if (report.queryError == static_cast<DWORD>(CRYPT_E_NO_MATCH) ||
        report.queryError == static_cast<DWORD>(TRUST_E_NOSIGNATURE))
        return L"not signed";
    if (report.queryError != 0)
        return L"its signature cannot be read (" + hex(report.queryError) + L")";
    if (report.signers.empty())
        return L"its signature has no signer";
    std::wstring text;
    for (const trust::SignerReport& signer : report.signers)
        text += (text.empty() ? L"" : L"; ") + signerText(signer, explanation);
    return text;
}

// --- the tool's own logging ---------------------------------------------------

// Keeps the module's warnings and errors in memory, for the reports to quote,
// and writes nothing: the module code the checks run logs as it does in a
// host, and this program must leave no log file behind.
class MemoryLog {
public:
    static MemoryLog& instance()
    {
        static MemoryLog* log = new MemoryLog;  // outlives the logger, which may log at exit
        return *log;
    }
    void add(const wchar_t* message)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(message != nullptr ? message : L"");
        if (lines_.size() > kKept)
            lines_.pop_front();
        ++count_;
    }
    // How many lines came so far, the ones no longer kept included.
    std::size_t count()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }
    std::wstring last()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return lines_.empty() ? std::wstring() : lines_.back();
    }

private:
    static constexpr std::size_t kKept = 16;
    std::mutex lock_;
    std::deque<std::wstring> lines_;
    std::size_t count_ = 0;
};

class MemoryBackEnd : public ETWLogging::CLoggingIf {
public:
    std::uint32_t Initialize(const wchar_t*, HMODULE, const wchar_t*, ETWLogging::CLoggingListenerIf*) override
    {
        return 0;
    }
    std::uint32_t PrepareWrite() override { return 0; }
    std::uint32_t Uninitialize() override { return 0; }
    void SetEnabled(std::uint32_t) override {}
    bool IsEnabled() override { return true; }
    std::uint32_t LogFormat(std::uint32_t, const wchar_t*, const wchar_t*, std::int32_t, const wchar_t*, ...) override
    {
        return 0;
    }
    std::uint32_t WriteFormatted(const wchar_t*, const wchar_t*, std::int32_t, std::uint32_t level,
                                 const wchar_t* message) override
    {
        if (IsLevelEnabled(level))
            MemoryLog::instance().add(message);
        return 0;
    }
    bool IsLevelEnabled(std::uint32_t level) override { return level >= LOG_LEVEL_WARNING; }
    void SetMaxEntries(std::uint32_t) override {}
    std::uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(std::uint32_t) override {}
    std::uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(std::uint32_t) override {}
    std::uint32_t GetSeverity() override { return LOG_LEVEL_WARNING; }
};

class MemoryLogBuilder : public ETWLogging::CLogBuilderIf {
public:
    bool Build(const wchar_t*, HMODULE, const wchar_t*, std::int32_t, ETWLogging::CLoggingIf** output,
               ETWLogging::CLogConfigSourceIf*) override
    {
        if (output == nullptr)
            return false;
        *output = new (std::nothrow) MemoryBackEnd;
        return *output != nullptr;
    }
};

// The default builder would pick the back end the machine selects: with the
// file back end, the first record would create a log folder and file for
// this program. The logger is replaced before any check runs.
void keepOwnLoggingQuiet()
{
    static MemoryLogBuilder builder;
    ETWLogging::useLogBuilder(&builder);
}

// The module's last warning or error since `count` lines, quoted; empty when
// it logged none (or its logging is not held in memory).
std::wstring lastModuleLine(std::size_t count)
{
    MemoryLog& log = MemoryLog::instance();
    return log.count() > count ? L"; the module logged: \"" + log.last() + L"\"" : std::wstring();
}

// The trace back end as the module would start it, for its enable state and
// severity after the provider keys' overrides; it is never initialised.
class TraceBackEndProbe : public ETWLogging::CETWLogging {
public:
    void GetAppName(std::wstring& name) override { name = kModuleGroup; }
    void GetAppModulePath(std::wstring& path) override
    {
        path = std::wstring(kModuleGroup) + L"\\" + kModuleBaseName;
    }
};

} // namespace

DiagnosticsOptions defaultDiagnosticsOptions()
{
    DiagnosticsOptions options;
    options.agentClass = CLSID_ZuUpdateAgent;
    return options;
}

Diagnostics::Diagnostics(DiagnosticsOptions options, const trust::TrustValidator& validator,
                         trust::TrustCatalog& catalog)
    : options_(std::move(options)), validator_(validator), catalog_(catalog)
{
}

Diagnostics::Verdict Diagnostics::judgeInto(const std::wstring& path, CheckResult& result) const
{
    const Verdict verdict = judge(path);
    result.fact(L"version", verdict.version);
    result.fact(L"trusted", yesNo(verdict.trusted));
    result.fact(L"reason", verdict.reason);
    return verdict;
}

Diagnostics::Verdict Diagnostics::judge(const std::wstring& path) const
{
    Verdict verdict;
    // The check of a refused cabinet installs the trust catalog it carries: a
    // cabinet is never checked here, and no library either.
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t slash = path.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) &&
        ::CompareStringOrdinal(path.c_str() + dot, -1, L".cab", -1, TRUE) == CSTR_EQUAL) {
        verdict.reason = L"a cabinet is no library (not checked: its check could install a catalog)";
        return verdict;
    }
    const VerifiedFile file = VerifiedFile::open(path.c_str(), validator_);
    verdict.trusted = file.trusted();
    if (!file.file()) {
        const DWORD error = file.file().openError();
        verdict.reason = error != 0 ? L"it cannot be opened: " + systemMessage(error) : L"no file";
        return verdict;
    }
    Basalt::FileVersionInfo versionInfo;
    if (versionInfo.load(file.file()))
        verdict.version = versionInfo.value(Basalt::FileVersionInfo::kFileVersion);
    // Explained through the handle the verdict was reached through.
    const trust::TrustValidator::OwnCheckExplanation explanation = validator_.explainOwnCheck(file.file());
    if (verdict.trusted) {
        std::wstring signer;
        if (!explanation.signature.signers.empty())
            signer = explanation.signature.signers.back().name;
        verdict.reason = explanation.passed ? L"signed by \"" + signer + L"\", judged by " + listsText(explanation)
                                            : std::wstring(L"accepted by the trust-validation service");
    } else {
        verdict.reason = refusalText(explanation);
    }
    return verdict;
}

CheckResult Diagnostics::checkModule()
{
    CheckResult result;
    result.name = L"module";
    const std::wstring path = !options_.modulePath.empty()
                                  ? options_.modulePath
                                  : folderOf(win::modulePath(nullptr)) + L"\\" + kModuleFileName;
    result.fact(L"path", path);
    if (!isFile(path)) {
        result.problem(path + L" does not exist",
                       L"run this program from the module's folder, or give the module with --module <file>");
        return result;
    }
    const Verdict verdict = judgeInto(path, result);
    if (!verdict.trusted) {
        result.problem(path + L" is not trusted: " + verdict.reason,
                       L"reinstall the maker's signed " + std::wstring(kModuleFileName));
        return result;
    }
    result.summary = path + L" (" + versionText(verdict.version) + L"): trusted, " + verdict.reason;
    return result;
}

CheckResult Diagnostics::checkBusLibrary()
{
    CheckResult result;
    result.name = L"bus";
    const LibraryInfo& library = messageBusLibraryInfo();
    PathHelpers macros;
    PathSearch probe;
    std::vector<std::wstring> searchable;
    std::wstring searched;
    int index = 0;
    for (const std::wstring& written : library.folders) {
        std::wstring folder = inHost(written);
        macros.expandMacros(folder);
        std::wstring state;
        if (!isSearchableFolder(folder)) {
            state = written + L" has no value";
        } else {
            searchable.push_back(folder);
            state = written + L" = " + withoutTrailingSlash(folder) + L": ";
            if (!isFolder(folder))
                state += L"no such folder";
            else if (probe.checkIfExists(withoutTrailingSlash(folder) + L"\\" + library.name))
                state += L"has " + library.name;
            else
                state += L"no " + library.name;
        }
        result.fact(L"folder" + std::to_wstring(++index), state);
        searched += (searched.empty() ? L"" : L"; ") + state;
    }

    PathSearch search;
    search.addSearchPaths(searchable);
    std::wstring found;
    if (!search.findFilePath(library.name, found)) {
        result.problem(library.name + L" is in none of the folders the module searches (" + searched + L")",
                       L"put the maker's signed " + library.name + L" beside the host program, or into the folder "
                       L"the \"Install Dir\" value of " + kInstallDirKey + L" names");
        return result;
    }
    const std::wstring path = found + L"\\" + library.name;
    result.fact(L"path", path);
    const bool blocked = isBlockedLibrary(found, library.name);
    result.fact(L"blocked", yesNo(blocked));
    const Verdict verdict = judgeInto(path, result);
    if (blocked) {
        result.problem(path + L" (version " + verdict.version + L") is on the block list (HKLM\\SOFTWARE\\Corvane\\"
                       L"Tesl\\List)",
                       L"install a version of " + library.name + L" the block list does not name");
        return result;
    }
    if (!verdict.trusted) {
        result.problem(L"the module would load " + path + L", which is not trusted: " + verdict.reason +
                           L" [searched: " + searched + L"]",
                       L"replace it with the maker's signed " + library.name +
                           L"; the module takes the first one it finds and looks no further");
        return result;
    }
    result.summary = L"the module would load " + path + L" (" +
                     versionText(verdict.version) + L"): trusted, " + verdict.reason +
                     L" [searched: " + searched + L"]";
    return result;
}

CheckResult Diagnostics::checkAgentClass()
{
    CheckResult result;
    result.name = L"agent";
    const std::wstring clsid = guidText(options_.agentClass);
    result.fact(L"class", clsid);
    std::wstring path;
    std::wstring threadingModel;
    const HRESULT registered = trust::machineInprocServer(options_.agentClass, &path, &threadingModel);
    const std::wstring reinstall = L"reinstall the maker's update agent: it registers its class for the machine";
    if (registered == REGDB_E_CLASSNOTREG) {
        result.problem(L"class " + clsid + L" is not registered for the machine (HKLM\\Software\\Classes\\CLSID)",
                       reinstall);
        return result;
    }
    if (FAILED(registered)) {
        result.problem(L"class " + clsid + L" has no in-process server file named by a full path (" +
                           hex(static_cast<DWORD>(registered)) + L")",
                       reinstall);
        return result;
    }
    result.fact(L"server", path);
    result.fact(L"threadingModel", threadingModel);
    if (!isFile(path)) {
        result.problem(L"class " + clsid + L" is registered to " + path + L", which does not exist", reinstall);
        return result;
    }
    const Verdict verdict = judgeInto(path, result);
    if (!verdict.trusted) {
        result.problem(L"class " + clsid + L" is registered to " + path + L", which is not trusted: " +
                           verdict.reason + L"; the module refuses to create the agent",
                       reinstall);
        return result;
    }
    // The update handlers create the agent in the multithreaded apartment.
    if (!trust::apartmentTakesThreadingModel(APTTYPE_MTA, threadingModel)) {
        result.problem(L"class " + clsid + L" is registered with ThreadingModel \"" + threadingModel +
                           L"\", which the module's multithreaded apartment cannot use without a proxy; it "
                           L"refuses to create the agent",
                       reinstall);
        return result;
    }
    result.summary = L"class " + clsid + L" is served by " + path + L" (ThreadingModel " + threadingModel +
                     L", " + versionText(verdict.version) + L"): trusted, " +
                     verdict.reason;
    return result;
}

CheckResult Diagnostics::checkTrustCatalog()
{
    using trust::CatalogReadStatus;
    CheckResult result;
    result.name = L"catalog";
    const std::wstring path = catalog_.path();
    result.fact(L"path", path);
    if (!catalog_.isLoaded())
        catalog_.load();
    const CatalogReadStatus status = catalog_.lastReadStatus();
    const std::wstring replace =
        L"replace it with the maker's current trusted.js, or delete it so that the built-in lists decide";
    if (catalog_.isLoaded()) {
        const DWORD version = catalog_.version();
        const trust::TrustLists lists = catalog_.lists();
        const bool decides = version > trust::kMinUsableCatalogVersion;
        result.fact(L"version", std::to_wstring(version));
        result.fact(L"deniedSerials", std::to_wstring(lists.deniedSerials.size()));
        result.fact(L"decides", yesNo(decides));
        result.summary = path + L" (version " + std::to_wstring(version) + L", " +
                         std::to_wstring(lists.deniedSerials.size()) + L" denied serial(s)): " +
                         (decides ? L"its lists decide in place of the built-in ones"
                                  : L"too old to be used, the built-in lists decide");
    } else if (status == CatalogReadStatus::Missing) {
        result.fact(L"version", L"0");
        result.summary = L"no catalog at " + path + L": the built-in lists decide";
    } else {
        std::wstring why;
        switch (status) {
        case CatalogReadStatus::Locked: why = L"another process keeps it locked"; break;
        case CatalogReadStatus::TooLarge: why = L"it is too large to be a catalog"; break;
        case CatalogReadStatus::NotSigned: why = L"it is not signed"; break;
        case CatalogReadStatus::WrongSigner: why = L"it is not signed by the catalog signer alone"; break;
        case CatalogReadStatus::TrustRefused: why = L"its signature does not verify (changed after signing?)"; break;
        case CatalogReadStatus::Invalid: why = L"it is signed but not a valid catalog"; break;
        default: why = L"it cannot be read"; break;
        }
        result.problem(path + L" is not used: " + why + L"; the module goes on with its built-in lists", replace);
        return result;
    }

    const std::wstring pending = catalog_.pendingPath();
    if (!pending.empty() && isFile(pending)) {
        CatalogReadStatus pendingStatus = CatalogReadStatus::Missing;
        const std::optional<trust::CatalogContent> waiting =
            trust::TrustCatalog::readVerified(pending, trust::catalogSignerThumbprint(), &pendingStatus);
        result.fact(L"pending", pending);
        if (waiting) {
            result.fact(L"pendingVersion", std::to_wstring(waiting->version));
            result.problem(result.summary + L"; a newer catalog (version " + std::to_wstring(waiting->version) +
                               L") waits in " + pending + L" to replace it at the next restart",
                           L"restart Windows to complete the catalog's installation");
        } else {
            result.problem(result.summary + L"; " + pending + L" waits to replace it at the next restart, but is "
                                                              L"not a usable catalog",
                           L"delete " + pending);
        }
    }
    return result;
}

CheckResult Diagnostics::checkLogging()
{
    CheckResult result;
    result.name = L"logging";
    DWORD mechanism = 0;
    const LONG read = ETWLogging::internal::readLoggingMechanism(mechanism);
    const bool fileBackEnd = read == ERROR_SUCCESS && mechanism == names::kMechanismFile;
    result.fact(L"backEnd", fileBackEnd ? L"file" : L"trace");
    const std::wstring keyName = L"HKLM\\" + std::wstring(names::kLoggingKey) + L" \"" +
                                 names::kLoggingMechanismValue + L"\"";
    if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) {
        result.problem(keyName + L" is damaged (" + systemMessage(static_cast<DWORD>(read)) +
                           L"): the module ignores it and uses the trace back end",
                       L"set it again: ZuLogConfig backend file, or ZuLogConfig backend trace");
        return result;
    }

    std::wstring dataFolder;
    ETWLogging::internal::GetProgramDataFolder(dataFolder);
    const std::wstring logRoot = dataFolder + names::kLogRootFolder;

    if (fileBackEnd) {
        const std::wstring process = options_.hostProcess.empty() ? L"<host process>" : options_.hostProcess;
        const std::wstring folder = logRoot + kModuleGroup + L"\\" + process;
        const std::wstring rootIni = logRoot + names::kIniFileName;
        const std::wstring folderIni =
            options_.hostProcess.empty() ? rootIni : folder + L"\\" + names::kIniFileName;
        const ETWLogging::internal::LogFileValues values =
            ETWLogging::internal::LogFileSettings(folderIni, rootIni).read(false);
        ETWLogging::CLogging probe(dataFolder);
        probe.SetSeverity(values.severity);
        wchar_t options[16];
        std::swprintf(options, std::size(options), L"0x%02lX", static_cast<unsigned long>(values.options));
        const std::wstring inEffect = L"Enable=" + std::to_wstring(values.enable) +
                                      L" MaxSize=" + std::to_wstring(values.maxSize) +
                                      L" MaxEntries=" + std::to_wstring(values.maxEntries) +
                                      L" Severity=" + std::to_wstring(values.severity) + L" Options=" + options;
        result.fact(L"logFolder", folder);
        result.fact(L"logIni", inEffect);
        if (!probe.IsLevelEnabled(LOG_LEVEL_ERROR)) {
            result.problem(L"file back end in " + folder + L", but log.ini Severity " +
                               std::to_wstring(values.severity) + L" keeps the module's error lines out (" +
                               inEffect + L")",
                           L"ZuLogConfig ini reset Severity (and with --group " + std::wstring(kModuleGroup) +
                               L" --process <host process>)");
            return result;
        }
        result.summary = L"file back end: the module writes to " + folder + L" (" + inEffect + L")";
        return result;
    }

    ETWLogging::internal::ETWAppProperties properties;
    properties.dataFolder = dataFolder;
    if (!properties.Load(nullptr)) {
        result.problem(L"trace back end, but its configuration under HKLM\\" + std::wstring(names::kAppRootKey) +
                           L"\\" + names::kDefaultApplication +
                           L" is incomplete: the back end cannot start and the module logs nothing",
                       L"complete or remove that key, or choose the file back end: ZuLogConfig backend file");
        return result;
    }
    TraceBackEndProbe probe;
    ETWLogging::CETWConfigurationListener listener(properties, &probe);
    // As the back end applies its settings when it starts.
    listener.OnControl(1, LOG_LEVEL_INFORMATION, 0);
    const std::wstring overrides = L"HKLM\\" + properties.providerKeyPath + L"[\\" + kModuleGroup + L"[\\" +
                                   kModuleBaseName + L"]]";
    result.fact(L"provider", guidText(properties.providerGuid));
    result.fact(L"providerKey", L"HKLM\\" + properties.providerKeyPath);
    result.fact(L"enabled", yesNo(probe.IsEnabled()));
    result.fact(L"severity", std::to_wstring(probe.GetSeverity()));
    if (!probe.IsEnabled()) {
        result.problem(L"trace back end switched off: an \"Enable\" value of 0 under " + overrides,
                       L"ZuLogConfig override reset Enable (with the --group/--module that holds it)");
        return result;
    }
    if (!probe.IsLevelEnabled(LOG_LEVEL_ERROR)) {
        result.problem(L"trace back end, but a \"Severity\" of " + std::to_wstring(probe.GetSeverity()) +
                           L" under " + overrides + L" keeps the module's error lines out",
                       L"ZuLogConfig override reset Severity (with the --group/--module that holds it)");
        return result;
    }
    result.summary = L"trace back end (provider " + guidText(properties.providerGuid) + L", severity " +
                     std::to_wstring(probe.GetSeverity()) +
                     L"): lines reach only a trace session that is running; for log files under " + logRoot +
                     L": ZuLogConfig backend file";
    return result;
}

std::wstring Diagnostics::inHost(const std::wstring& folder) const
{
    // Inside the host, "$(App.Folder)" is the host program's folder.
    const std::wstring appFolder = L"$(App.Folder)";
    std::wstring text = folder;
    if (options_.hostFolder.empty())
        return text;
    const std::wstring value = withoutTrailingSlash(options_.hostFolder) + L"\\";
    for (std::size_t at = text.find(appFolder); at != std::wstring::npos; at = text.find(appFolder, at + value.size()))
        text.replace(at, appFolder.size(), value);
    return text;
}

CheckResult Diagnostics::checkSettingsService()
{
    CheckResult result;
    result.name = L"settings";
    const std::wstring property = L"Core.Update.UpdateResults";
    result.fact(L"property", property);
    result.fact(L"timeLimitMs", std::to_wstring(options_.settingsTimeLimitMs));
    LibraryInfo library = messageBusLibraryInfo();
    for (std::wstring& folder : library.folders)
        folder = inHost(folder);
    const std::size_t logged = MemoryLog::instance().count();
    std::shared_ptr<SettingsManagerClient> client;
    try {
        // Bound the way the module binds it: found, checked against the block
        // list and loaded only once its file has passed the trust check.
        auto shim = std::make_shared<MessageBusLib>(std::make_shared<SharedLibrary>(library));
        client = std::make_shared<SettingsManagerClient>(std::make_shared<MessageBusClient>(shim, nullptr));
    } catch (const std::exception& error) {
        const std::string what = error.what();
        result.problem(L"the module cannot bind the bus library (" + std::wstring(what.begin(), what.end()) + L")" +
                           lastModuleLine(logged),
                       L"mend what the bus check reports");
        return result;
    }
    std::wstring value;
    const ULONGLONG started = ::GetTickCount64();
    const bool answered =
        client->getProperty(property, value, std::chrono::milliseconds(options_.settingsTimeLimitMs));
    const ULONGLONG took = ::GetTickCount64() - started;
    client.reset();
    // A request that is not answered ends when its time limit has passed; one
    // ending earlier was answered, by a service that has no value for it.
    const bool timedOut = !answered && took + kTimerSlackMs >= options_.settingsTimeLimitMs;
    result.fact(L"answered", yesNo(!timedOut));
    result.fact(L"hasValue", yesNo(answered));
    if (timedOut) {
        result.problem(L"no settings service gave \"" + property + L"\" within " +
                           std::to_wstring(options_.settingsTimeLimitMs) + L" ms" + lastModuleLine(logged),
                       L"start the settings manager service of the framework, and see that it has the property");
        return result;
    }
    result.fact(L"milliseconds", std::to_wstring(took));
    result.summary = L"the settings service answered for \"" + property + L"\" in " + std::to_wstring(took) +
                     L" ms over the bus library the module binds" +
                     (answered ? L"" : L" (it has no value yet: no update results recorded)");
    return result;
}

std::vector<CheckResult> Diagnostics::runAll()
{
    std::vector<CheckResult> results;
    results.push_back(checkModule());
    results.push_back(checkBusLibrary());
    results.push_back(checkAgentClass());
    results.push_back(checkTrustCatalog());
    results.push_back(checkLogging());
    if (options_.checkSettings)
        results.push_back(checkSettingsService());
    return results;
}

std::wstring formatText(const CheckResult& result)
{
    std::wstring name = result.name + L":";
    name.resize(10, L' ');
    std::wstring line = (result.ok ? L"ok       " : L"problem  ") + name + result.summary;
    if (!result.ok && !result.fix.empty())
        line += L" -- to fix: " + result.fix;
    return line;
}

std::wstring formatJson(const std::vector<CheckResult>& results)
{
    JSONParser checks;
    unsigned problems = 0;
    for (const CheckResult& result : results) {
        JSONParser check;
        check.setBool(L"ok", result.ok);
        check.setString(L"summary", result.summary);
        if (!result.ok)
            check.setString(L"fix", result.fix);
        JSONParser facts;
        for (const auto& [key, value] : result.facts)
            facts.setString(key, value);
        check.setJson(L"facts", facts.isEmpty() ? L"{}" : facts.toString().c_str());
        checks.setJson(result.name.c_str(), check.toString().c_str());
        if (!result.ok)
            ++problems;
    }
    JSONParser report;
    report.setBool(L"ok", problems == 0);
    report.setUInt(L"problems", problems);
    report.setJson(L"checks", checks.isEmpty() ? L"{}" : checks.toString().c_str());
    return report.toString();
}

namespace {

int usage(const Output& out)
{
    out(L"Usage: ZuDiagnose [--module <file>] [--host <host program or its folder>] [--process <name>]");
    out(L"                  [--settings] [--json]");
    out(L"  --module    the module file (default: UpdateModule.dll beside this program)");
    out(L"  --host      the host program: $(App.Folder) of the bus library search is its folder, and its");
    out(L"              name is the process folder of the file back end (default: this program's folder)");
    out(L"  --process   the host process's name, when --host names a folder");
    out(L"  --settings  also load the bus library (after the module's trust check) and ask the settings");
    out(L"              service for \"Core.Update.UpdateResults\"");
    out(L"  --json      one JSON object instead of one line per check");
    out(L"Exit code: 0 when every check passes, else the number of problems.");
    return kUsageError;
}

} // namespace

int runDiagnose(const std::vector<std::wstring>& arguments, const Output& out)
{
    keepOwnLoggingQuiet();
    DiagnosticsOptions options = defaultDiagnosticsOptions();
    bool json = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& word = arguments[i];
        const bool hasValue = i + 1 < arguments.size() && !arguments[i + 1].empty();
        if (word == L"--module" && hasValue) {
            options.modulePath = arguments[++i];
        } else if (word == L"--host" && hasValue) {
            const std::wstring host = withoutTrailingSlash(arguments[++i]);
            if (isFolder(host)) {
                options.hostFolder = host;
            } else {
                options.hostFolder = folderOf(host);
                if (options.hostProcess.empty())
                    options.hostProcess = baseNameOf(host);
            }
        } else if (word == L"--process" && hasValue) {
            options.hostProcess = arguments[++i];
        } else if (word == L"--settings") {
            options.checkSettings = true;
        } else if (word == L"--json") {
            json = true;
        } else {
            return usage(out);
        }
    }
    const trust::TrustValidator* validator = trust::TrustValidator::instance();
    if (validator == nullptr) {
        out(L"The trust validator cannot be made (out of memory).");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    Diagnostics diagnostics(options, *validator, trust::TrustCatalog::instance());
    const std::vector<CheckResult> results = diagnostics.runAll();
    int problems = 0;
    for (const CheckResult& result : results)
        problems += result.ok ? 0 : 1;
    if (json) {
        out(formatJson(results));
    } else {
        for (const CheckResult& result : results)
            out(formatText(result));
    }
    return problems;
}

} // namespace Orvik::tools
