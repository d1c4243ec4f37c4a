#pragma once
// Every name, default and fixed identity of the logging configuration in one
// place: the back ends, the configuration record and the administrator tool
// all read them from here, so a machine configured by the tool is read the way
// the module reads it.
//
// Registry (HKEY_LOCAL_MACHINE, 64-bit view):
//   SOFTWARE\Corvane\Logging                 "Logging Mechanism"  DWORD, scrambled (1 = file back end)
//   SOFTWARE\Corvane.logging\<application>   "Log Path", "ETL Path"  strings, scrambled
//       \Session     "Session ID Guid", "Session Name"        scrambled
//       \Provider    "Provider Guid"                           scrambled
//       \Controller  "Controller Path", "Owner Mutex Name"     scrambled
//   <provider key>[\<group>[\<module>]]      "Enable", "Severity"  plain DWORDs (overrides)
//   where <provider key> is the application key's "Provider" sub-key when the
//   application key exists, else SOFTWARE\Corvane\Logging\Provider.
//
// Files: <ProgramData>\Corvane\ZULOGS\log.ini (root file) and
// <log folder>\log.ini (folder file), section "Config", values scrambled.

#include <windows.h>

#include <cstdint>

namespace ETWLogging::names {

// --- registry ---------------------------------------------------------------
inline constexpr const wchar_t* kLoggingKey = L"SOFTWARE\\Corvane\\Logging";
inline constexpr const wchar_t* kLoggingMechanismValue = L"Logging Mechanism";
inline constexpr DWORD kMechanismFile = 1;
// A back-end selector of 1 asks for the file back end whatever the registry says.
inline constexpr std::int32_t kSelectFileBackEnd = 1;

inline constexpr const wchar_t* kAppRootKey = L"SOFTWARE\\Corvane.logging";
inline constexpr const wchar_t* kDefaultApplication = L"QMX";

inline constexpr const wchar_t* kSessionSubKey = L"Session";
inline constexpr const wchar_t* kProviderSubKey = L"Provider";
inline constexpr const wchar_t* kControllerSubKey = L"Controller";

inline constexpr const wchar_t* kLogPathValue = L"Log Path";
inline constexpr const wchar_t* kEtlPathValue = L"ETL Path";
inline constexpr const wchar_t* kSessionIdGuidValue = L"Session ID Guid";
inline constexpr const wchar_t* kSessionNameValue = L"Session Name";
inline constexpr const wchar_t* kProviderGuidValue = L"Provider Guid";
inline constexpr const wchar_t* kControllerPathValue = L"Controller Path";
inline constexpr const wchar_t* kOwnerMutexNameValue = L"Owner Mutex Name";

inline constexpr const wchar_t* kEnableValue = L"Enable";
inline constexpr const wchar_t* kSeverityValue = L"Severity";

// Defaults of the application "QMX" when its key does not exist.
inline constexpr const wchar_t* kDefaultControllerKey = L"SOFTWARE\\Corvane\\Logging\\Controller";
inline constexpr const wchar_t* kDefaultProviderKey = L"SOFTWARE\\Corvane\\Logging\\Provider";
inline constexpr const wchar_t* kDefaultLogPath = L"\\Corvane\\ZULOGS";
inline constexpr const wchar_t* kDefaultEtlPath = L"\\Corvane\\ZULOGS\\ETW";
inline constexpr const wchar_t* kEtlFileName = L"zulogs.etl";
inline constexpr const wchar_t* kOwnerMutexPrefix = L"Global\\Corvane.";
inline constexpr const wchar_t* kSessionNamePrefix = L"Corvane.";

// Fixed identities of this system. Readers of the trace depend on them: never change.
inline constexpr const wchar_t* kOwnerMutexGuid = L"{6B1D43C2-8E5A-4F07-9C31-2A7D05E4B9F1}";
inline constexpr const wchar_t* kSessionNameGuid = L"{0F8C2E91-5B7D-4A36-8E14-93C6D2A170B5}";
// {D35A1E7C-4B02-4C8F-A6E9-71F0B2C8D453}
inline constexpr GUID kDefaultSessionIdGuid = {
    0xd35a1e7c, 0x4b02, 0x4c8f, {0xa6, 0xe9, 0x71, 0xf0, 0xb2, 0xc8, 0xd4, 0x53}};
// {8A4F27D1-3C95-4E6B-B0D8-5E1A9C6F2437}
inline constexpr GUID kDefaultProviderGuid = {
    0x8a4f27d1, 0x3c95, 0x4e6b, {0xb0, 0xd8, 0x5e, 0x1a, 0x9c, 0x6f, 0x24, 0x37}};
// {C7E03B58-91A4-4D2F-8B6C-0D4E5F7A1932}: the class of every event the trace back end sends.
inline constexpr GUID kEventClassGuid = {
    0xc7e03b58, 0x91a4, 0x4d2f, {0x8b, 0x6c, 0x0d, 0x4e, 0x5f, 0x7a, 0x19, 0x32}};

// --- file back end ----------------------------------------------------------
inline constexpr const wchar_t* kLogRootFolder = L"\\Corvane\\ZULOGS\\"; // under ProgramData
inline constexpr const wchar_t* kIniFileName = L"log.ini";
inline constexpr const wchar_t* kIniSection = L"Config";
// Writer mutex: "<process base name>_<suffix>", session-local.
inline constexpr const wchar_t* kWriterMutexSuffix = L"5E2C9A4F17B3408D96E1C07A3B58F2D4";
inline constexpr DWORD kWriterMutexWaitMs = 7000;

inline constexpr const wchar_t* kIniEnable = L"Enable";
inline constexpr const wchar_t* kIniMaxSize = L"MaxSize";
inline constexpr const wchar_t* kIniMaxEntries = L"MaxEntries";
inline constexpr const wchar_t* kIniSeverity = L"Severity";
inline constexpr const wchar_t* kIniOptions = L"Options";
inline constexpr const wchar_t* kIniLastLogIdx = L"LastLogIdx";

inline constexpr std::uint32_t kDefaultEnable = 1;
inline constexpr std::uint32_t kDefaultMaxSize = 262144;
inline constexpr std::uint32_t kMinMaxSize = 262144;
inline constexpr std::uint32_t kMaxMaxSize = 10485760;
inline constexpr std::uint32_t kDefaultMaxEntries = 3;
inline constexpr std::uint32_t kMinMaxEntries = 2;
inline constexpr std::uint32_t kMaxMaxEntries = 100;
inline constexpr std::uint32_t kDefaultSeverity = 3;
inline constexpr std::uint32_t kMaxIniSeverity = 6;
inline constexpr std::uint32_t kDefaultOptions = 16;

// Options bits of the file back end.
inline constexpr std::uint32_t kOptionDebugger = 0x01;
inline constexpr std::uint32_t kOptionProcessThread = 0x04;
inline constexpr std::uint32_t kOptionSource = 0x08;
inline constexpr std::uint32_t kOptionModule = 0x10;
inline constexpr std::uint32_t kOptionFunction = 0x20;

} // namespace ETWLogging::names
