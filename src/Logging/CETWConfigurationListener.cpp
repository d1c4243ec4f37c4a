#include "Logging/CETWConfigurationListener.h"

#include "Logging/LoggingNames.h"
#include "registry/CRegKey.h"

namespace ETWLogging {

CETWConfigurationListener::CETWConfigurationListener(const internal::ETWAppProperties& properties,
                                                     CLoggingIf* backEnd)
    : properties_(properties), backEnd_(backEnd)
{
}

bool CETWConfigurationListener::SetLogging(CLoggingIf* backEnd)
{
    if (backEnd_ != nullptr || backEnd == nullptr)
        return false;
    backEnd_ = backEnd;
    return true;
}

void CETWConfigurationListener::GetProviderKey(HKEY& root, std::wstring& path) const
{
    root = properties_.rootKey;
    path = properties_.providerKeyPath;
}

void CETWConfigurationListener::OnControl(ULONG enable, UCHAR level, ULONG)
{
    if (backEnd_ == nullptr)
        return;
    backEnd_->SetEnabled(enable);
    backEnd_->SetSeverity(level);
    HKEY root = nullptr;
    std::wstring path;
    GetProviderKey(root, path);
    std::wstring group;
    std::wstring groupAndModule;
    backEnd_->GetAppName(group);
    backEnd_->GetAppModulePath(groupAndModule);
    ReadOverrides(root, path);
    ReadOverrides(root, path + L"\\" + group);
    ReadOverrides(root, path + L"\\" + groupAndModule);
}

void CETWConfigurationListener::ReadOverrides(HKEY root, const std::wstring& path)
{
    Basalt::CRegKey key;
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return;
    DWORD value = 0;
    if (key.QueryDWORDValue(names::kEnableValue, value) == ERROR_SUCCESS)
        backEnd_->SetEnabled(value != 0 ? 1 : 0);
    if (key.QueryDWORDValue(names::kSeverityValue, value) == ERROR_SUCCESS)
        backEnd_->SetSeverity(value);
}

} // namespace ETWLogging
