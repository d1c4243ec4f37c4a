#include "Logging/ETWAppProperties.h"

#include "Logging/LoggingNames.h"
#include "Logging/ProgramData.h"
#include "registry/CRegKey.h"

namespace ETWLogging {
namespace internal {

bool ETWAppProperties::Load(const wchar_t* name)
{
    if (!applicationName.empty())
        return false;
    applicationName = name != nullptr && *name != L'\0' ? name : names::kDefaultApplication;
    if (dataFolder.empty() && GetProgramDataFolder(dataFolder) != 0)
        return false;
    std::wstring keyPath;
    BuildKeyPath(keyPath, nullptr);
    Basalt::CRegKey applicationKey;
    if (applicationKey.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS)
        return LoadFromRegistry(dataFolder, applicationKey);
    return LoadDefaults(dataFolder);
}

std::uint32_t ETWAppProperties::GetProgramDataFolder(std::wstring& folder)
{
    return internal::GetProgramDataFolder(folder);
}

bool ETWAppProperties::LoadFromRegistry(const std::wstring& folder, Basalt::CRegKey& applicationKey)
{
    Basalt::CObfuscatedRegKey session, provider, controller;
    if (session.Open(applicationKey.GetHandle(), names::kSessionSubKey, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        provider.Open(applicationKey.GetHandle(), names::kProviderSubKey, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        controller.Open(applicationKey.GetHandle(), names::kControllerSubKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    BuildKeyPath(loggingKeyPath, nullptr);
    BuildKeyPath(controllerKeyPath, names::kControllerSubKey);
    BuildKeyPath(providerKeyPath, names::kProviderSubKey);
    configurationKeyPath = loggingKeyPath;

    // The paths are read through the scrambled form like the rest.
    Basalt::CObfuscatedRegKey application;
    application.Open(applicationKey.GetHandle(), nullptr, KEY_QUERY_VALUE);
    std::wstring value;
    logPath = folder + (application.QueryStringValue(names::kLogPathValue, value) == ERROR_SUCCESS
                            ? value
                            : std::wstring(names::kDefaultLogPath));
    etlFolder = folder + (application.QueryStringValue(names::kEtlPathValue, value) == ERROR_SUCCESS
                              ? value
                              : std::wstring(names::kDefaultEtlPath));
    std::wstring etlName;
    GetEtlFileName(etlName);
    etlFilePath = etlFolder + L"\\" + etlName;

    return controller.QueryStringValue(names::kControllerPathValue, controllerPath) == ERROR_SUCCESS &&
           controller.QueryStringValue(names::kOwnerMutexNameValue, ownerMutexName) == ERROR_SUCCESS &&
           session.QueryGUIDValue(names::kSessionIdGuidValue, sessionIdGuid) == ERROR_SUCCESS &&
           session.QueryStringValue(names::kSessionNameValue, sessionName) == ERROR_SUCCESS &&
           provider.QueryGUIDValue(names::kProviderGuidValue, providerGuid) == ERROR_SUCCESS;
}

bool ETWAppProperties::LoadDefaults(const std::wstring& folder)
{
    if (::CompareStringOrdinal(applicationName.c_str(), -1, names::kDefaultApplication, -1, TRUE) != CSTR_EQUAL)
        return false;
    loggingKeyPath = names::kLoggingKey;
    controllerKeyPath = names::kDefaultControllerKey;
    providerKeyPath = names::kDefaultProviderKey;
    configurationKeyPath = loggingKeyPath;
    logPath = folder + names::kDefaultLogPath;
    etlFolder = folder + names::kDefaultEtlPath;
    etlFilePath = etlFolder + L"\\" + names::kEtlFileName;
    ownerMutexName = std::wstring(names::kOwnerMutexPrefix) + names::kOwnerMutexGuid;
    sessionName = std::wstring(names::kSessionNamePrefix) + names::kSessionNameGuid;
    sessionIdGuid = names::kDefaultSessionIdGuid;
    providerGuid = names::kDefaultProviderGuid;
    controllerPath.clear();
    return true;
}

void ETWAppProperties::GetEtlFileName(std::wstring& name) const
{
    name = names::kEtlFileName;
}

void ETWAppProperties::GetRootKeyPath(std::wstring& path) const
{
    path = names::kAppRootKey;
}

void ETWAppProperties::BuildKeyPath(std::wstring& path, const wchar_t* subKey) const
{
    GetRootKeyPath(path);
    path += L"\\" + applicationName;
    if (subKey != nullptr)
        path += std::wstring(L"\\") + subKey;
}

std::wstring ProviderKeyPathOf(const std::wstring& application)
{
    ETWAppProperties properties;
    properties.applicationName = application.empty() ? names::kDefaultApplication : application;
    std::wstring path;
    properties.BuildKeyPath(path, nullptr);
    Basalt::CRegKey applicationKey;
    if (applicationKey.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return names::kDefaultProviderKey;
    properties.BuildKeyPath(path, names::kProviderSubKey);
    return path;
}

} // namespace internal
} // namespace ETWLogging
