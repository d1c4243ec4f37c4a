#include "update/ZuUpdateAgentHandle.h"

#include "Logging/Logger.h"
#include "json/JSONParser.h"
#include "trust/SignedLibraryValidation.h"
#include "win/Bstr.h"

#include <cwchar>
#include <string>
#include <vector>

namespace Orvik {
namespace {

constexpr wchar_t kLogFile[] = L"ZuUpdateAgentHandle";
constexpr wchar_t kDefaultPackage[] = L"default";
constexpr wchar_t kAutoCheckProperty[] = L"autochk";
constexpr wchar_t kAppIdSeparator[] = L";";
// In-process server, in-process handler, local server and remote server.
constexpr DWORD kAgentClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                     CLSCTX_REMOTE_SERVER;
static_assert(kAgentClassContext == 23, "the agent may be served in or out of process");

#define AGENT_FUNCTION(name) L"Orvik::ZuUpdateAgentHandle::" name

bool isClassicSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// White space off both ends only; inner blanks stay.
std::wstring trimmed(const std::wstring& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isClassicSpace(text[first]))
        ++first;
    while (last > first && isClassicSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

} // namespace

ModuleStatus ZuUpdateAgentHandle::getUpdateMgr()
{
    if (agent_)
        return MODULE_STATUS_SUCCESS;
    const HRESULT result = createVerifiedInstance(CLSID_ZuUpdateAgent, nullptr, kAgentClassContext,
                                                  IID_IZuUpdateAgent, agent_.putVoid(), true);
    // A server that reports success without an object has not made an agent.
    if (FAILED(result) || !agent_) {
        UM_LOG_ERROR(kLogFile, AGENT_FUNCTION(L"getUpdateMgr"), __LINE__,
                     L"Failed to create IID_IZuUpdateAgent instance - error 0x%X", static_cast<unsigned>(result));
        agent_.reset();
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::getProperty(const std::wstring& name, std::wstring& value,
                                              const std::wstring& package)
{
    if (const ModuleStatus status = getUpdateMgr())
        return status;
    win::ScopedBstr packageText(package);
    win::ScopedBstr nameText(name);
    win::ScopedBstr result;
    if (agent_->GetProperty(packageText.get(), nameText.get(), result.put()) != S_OK)
        return MODULE_STATUS_PROPERTY_NOT_FOUND;
    value = result.text();
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::getUpdateSetting(std::int32_t& value)
{
    std::wstring text;
    const ModuleStatus status = getProperty(kAutoCheckProperty, text, kDefaultPackage);
    if (status == MODULE_STATUS_PROPERTY_NOT_FOUND) {
        value = 3;
        UM_LOG(LOG_LEVEL_INFORMATION, kLogFile, AGENT_FUNCTION(L"getUpdateSetting"), __LINE__,
               L"Setting default 'Setting: %d'", 3);
        return MODULE_STATUS_SUCCESS;
    }
    if (status != MODULE_STATUS_SUCCESS) {
        UM_LOG_ERROR(kLogFile, AGENT_FUNCTION(L"getUpdateSetting"), __LINE__,
                     L"Error: It was not possible to get the Update setting");
        return status;
    }
    // A text that is not a number throws; the bus delivery barrier answers for it.
    value = std::stoi(text);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::setProperty(const std::wstring& name, const std::wstring& value,
                                              const std::wstring& package)
{
    UM_LOG(LOG_LEVEL_NORMAL, kLogFile, AGENT_FUNCTION(L"setProperty"), __LINE__,
           L"Setting PackageID: '%s', PropertName: '%s', PropertyValue: '%s'", package.c_str(), name.c_str(),
           value.c_str());
    if (const ModuleStatus status = getUpdateMgr())
        return status;
    win::ScopedBstr packageText(package);
    win::ScopedBstr nameText(name);
    win::ScopedBstr valueText(value);
    return agent_->SetProperty(packageText.get(), nameText.get(), valueText.get()) == S_OK
               ? MODULE_STATUS_SUCCESS
               : MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus ZuUpdateAgentHandle::parsingChangeState(const std::wstring& payload, bool& enable,
                                                     std::int32_t& option)
{
    constexpr const wchar_t* kFunction = AGENT_FUNCTION(L"parsingChangeState");
    enable = true;
    option = 3;
    JSONParser parser;
    std::wstring state;
    if (!parser.parse(payload) || !parser.getString(L"state", state)) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to parse Json: %s", payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (_wcsicmp(state.c_str(), L"off") == 0) {
        enable = false;
        if (!parser.getInt(L"option", option))
            option = 0;
        return MODULE_STATUS_SUCCESS;
    }
    if (_wcsicmp(state.c_str(), L"on") == 0) {
        enable = true;
        if (!parser.getInt(L"option", option))
            option = 3;
        return MODULE_STATUS_SUCCESS;
    }
    UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Invalid 'state': %s", state.c_str());
    return MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus ZuUpdateAgentHandle::changeState(const std::wstring& payload, bool& enable, std::int32_t& option)
{
    constexpr const wchar_t* kFunction = AGENT_FUNCTION(L"changeState");
    if (parsingChangeState(payload, enable, option) == MODULE_STATUS_UNSUCCESSFUL) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Error parsing the change state request '%s'",
                     payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (!enable)
        option = 0;
    if (setProperty(kAutoCheckProperty, std::to_wstring(option), kDefaultPackage) == MODULE_STATUS_UNSUCCESSFUL) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Error applying the change of state");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::parsingAppIDList(const std::wstring& payload, std::wstring& list)
{
    constexpr const wchar_t* kFunction = AGENT_FUNCTION(L"parsingAppIDList");
    list.clear();
    JSONParser parser;
    std::vector<std::wstring> products;
    if (!parser.parse(payload) || !parser.getStringArray(L"products", products)) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to parse Json: %s", payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (products.empty()) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Empty products");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    for (const std::wstring& product : products) {
        list += product;
        list += kAppIdSeparator;
    }
    list = trimmed(list);
    if (list == kAppIdSeparator) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Empty products");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::install(const std::wstring& appIdList, const std::wstring& package)
{
    constexpr const wchar_t* kFunction = AGENT_FUNCTION(L"install");
    if (const ModuleStatus status = getUpdateMgr())
        return status;
    win::ScopedBstr packageText(package);
    win::ScopedBstr listText(appIdList);
    const HRESULT result = agent_->Install(packageText.get(), listText.get());
    if (result == S_FALSE) {
        UM_LOG(LOG_LEVEL_INFORMATION, kLogFile, kFunction, __LINE__,
               L"Another instance of update manager has already beening running");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (FAILED(result)) {
        UM_LOG(LOG_LEVEL_INFORMATION, kLogFile, kFunction, __LINE__, L"Failed to call Install error is 0x%x",
               static_cast<unsigned>(result));
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::personalize(const std::wstring& payload)
{
    constexpr const wchar_t* kFunction = AGENT_FUNCTION(L"personalize");
    std::wstring list;
    if (parsingAppIDList(payload, list) == MODULE_STATUS_UNSUCCESSFUL) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Error parsing the App ID list \"%s\"", payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (install(list, kDefaultPackage) == MODULE_STATUS_UNSUCCESSFUL) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Error installing.");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::startUpdate(std::wstring package)
{
    constexpr const wchar_t* kFunction = AGENT_FUNCTION(L"startUpdate");
    UM_LOG(LOG_LEVEL_NORMAL, kLogFile, kFunction, __LINE__, L"Start update");
    if (const ModuleStatus status = getUpdateMgr())
        return status;
    package = trimmed(package);
    if (package.empty())
        package = kDefaultPackage;
    win::ScopedBstr packageText(package);
    const HRESULT result = agent_->StartUpdate(packageText.get());
    if (FAILED(result)) {
        UM_LOG(LOG_LEVEL_INFORMATION, kLogFile, kFunction, __LINE__, L"Failed to Start update error is 0x%x",
               static_cast<unsigned>(result));
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

} // namespace Orvik
