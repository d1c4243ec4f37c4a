#pragma once
// The event-trace configuration of one application: its trace session,
// provider, controller and paths, from the registry or, for "QMX", built in.

#include <windows.h>

#include <cstdint>
#include <string>

namespace Basalt {
class CRegKey;
}

namespace ETWLogging {
namespace internal {

class ETWAppProperties {
public:
    ETWAppProperties() = default;
    ETWAppProperties(const ETWAppProperties&) = default;
    ETWAppProperties& operator=(const ETWAppProperties&) = default;
    virtual ~ETWAppProperties() = default;

    // Loads the configuration of `applicationName` (empty or null: "QMX");
    // false when one is loaded already or none can be had.
    virtual bool Load(const wchar_t* applicationName);
    virtual std::uint32_t GetProgramDataFolder(std::wstring& folder);
    virtual bool LoadFromRegistry(const std::wstring& dataFolder, Basalt::CRegKey& applicationKey);
    virtual bool LoadDefaults(const std::wstring& dataFolder);
    virtual void GetEtlFileName(std::wstring& name) const;
    virtual void GetRootKeyPath(std::wstring& path) const;
    virtual void BuildKeyPath(std::wstring& path, const wchar_t* subKey) const;

    std::wstring applicationName;
    std::wstring dataFolder;
    GUID sessionIdGuid{};
    std::wstring sessionName;
    GUID providerGuid{};
    std::wstring ownerMutexName;
    std::wstring logPath;
    std::wstring etlFolder;
    std::wstring etlFilePath;
    std::wstring controllerPath;
    HKEY rootKey = HKEY_LOCAL_MACHINE;
    std::wstring loggingKeyPath;
    std::wstring controllerKeyPath;
    std::wstring providerKeyPath;
    std::wstring configurationKeyPath;
};

// Where the "Enable"/"Severity" overrides of `application` (empty: "QMX") are
// kept: the "Provider" sub-key of its key when that key exists, else the
// default provider key.
std::wstring ProviderKeyPathOf(const std::wstring& application);

} // namespace internal
} // namespace ETWLogging
