#include "update/ZuUpdateAgentHandle.h"

#include "Logging/Logger.h"
#include "json/JSONParser.h"
#include "status/ModuleException.h"
#include "trust/SignedLibraryValidation.h"
#include "win/Bstr.h"

#include <cwchar>
#include <string>
#include <vector>

namespace Orvik {
namespace {

UM_LOG_SOURCE(L"Orvik::ZuUpdateAgentHandle");
constexpr wchar_t kDefaultPackage[] = L"default";
constexpr wchar_t kAutoCheckProperty[] = L"autochk";
constexpr wchar_t kAppIdSeparator[] = L";";
// In-process server, in-process handler, local server and remote server.
constexpr DWORD kAgentClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                     CLSCTX_REMOTE_SERVER;
static_assert(kAgentClassContext == 23, "the agent may be served in or out of process");

// A BSTR copy of `text` for a call into the agent. Out of memory ends the
// request like any other failed COM call.
win::ScopedBstr bstrOf(const std::wstring& text)
{
    win::ScopedBstr value(text);
    if (value.get() == nullptr)
        throw ModuleException("Failed to allocate a BSTR", E_OUTOFMEMORY);
    return value;
}

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
        logging::error(UM_HERE, L"Failed to create IID_IZuUpdateAgent instance - error 0x%X", static_cast<unsigned>(result));
        agent_.reset();
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::getProperty(const std::wstring& name, std::wstring& value,
                                              const std::wstring& package)
{
    if (const ModuleStatus status = getUpdateMgr(); status.failed())
        return status;
    const win::ScopedBstr packageText = bstrOf(package);
    const win::ScopedBstr nameText = bstrOf(name);
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
        logging::information(UM_HERE, L"Setting default 'Setting: %d'", 3);
        return MODULE_STATUS_SUCCESS;
    }
    if (status != MODULE_STATUS_SUCCESS) {
        logging::error(UM_HERE, L"Error: It was not possible to get the Update setting");
        return status;
    }
    // A text that is not a number throws; the bus delivery barrier answers for it.
    value = std::stoi(text);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::setProperty(const std::wstring& name, const std::wstring& value,
                                              const std::wstring& package)
{
    logging::normal(UM_HERE, L"Setting PackageID: '%s', PropertName: '%s', PropertyValue: '%s'", package.c_str(), name.c_str(),
           value.c_str());
    if (const ModuleStatus status = getUpdateMgr(); status.failed())
        return status;
    const win::ScopedBstr packageText = bstrOf(package);
    const win::ScopedBstr nameText = bstrOf(name);
    const win::ScopedBstr valueText = bstrOf(value);
    return agent_->SetProperty(packageText.get(), nameText.get(), valueText.get()) == S_OK
               ? MODULE_STATUS_SUCCESS
               : MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus ZuUpdateAgentHandle::parsingChangeState(const std::wstring& payload, bool& enable,
                                                     std::int32_t& option)
{
    enable = true;
    option = 3;
    JSONParser parser;
    std::wstring state;
    if (!parser.parse(payload) || !parser.getString(L"state", state)) {
        logging::error(UM_HERE, L"Failed to parse Json: %s", payload.c_str());
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
    logging::error(UM_HERE, L"Invalid 'state': %s", state.c_str());
    return MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus ZuUpdateAgentHandle::changeState(const std::wstring& payload, bool& enable, std::int32_t& option)
{
    if (parsingChangeState(payload, enable, option) == MODULE_STATUS_UNSUCCESSFUL) {
        logging::error(UM_HERE, L"Error parsing the change state request '%s'",
                     payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (!enable)
        option = 0;
    if (setProperty(kAutoCheckProperty, std::to_wstring(option), kDefaultPackage) == MODULE_STATUS_UNSUCCESSFUL) {
        logging::error(UM_HERE, L"Error applying the change of state");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::parsingAppIDList(const std::wstring& payload, std::wstring& list)
{
    list.clear();
    JSONParser parser;
    std::vector<std::wstring> products;
    if (!parser.parse(payload) || !parser.getStringArray(L"products", products)) {
        logging::error(UM_HERE, L"Failed to parse Json: %s", payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (products.empty()) {
        logging::error(UM_HERE, L"Empty products");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    for (const std::wstring& product : products) {
        list += product;
        list += kAppIdSeparator;
    }
    list = trimmed(list);
    if (list == kAppIdSeparator) {
        logging::error(UM_HERE, L"Empty products");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::install(const std::wstring& appIdList, const std::wstring& package)
{
    if (const ModuleStatus status = getUpdateMgr(); status.failed())
        return status;
    const win::ScopedBstr packageText = bstrOf(package);
    const win::ScopedBstr listText = bstrOf(appIdList);
    const HRESULT result = agent_->Install(packageText.get(), listText.get());
    if (result == S_FALSE) {
        logging::information(UM_HERE, L"Another instance of update manager has already beening running");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (FAILED(result)) {
        logging::information(UM_HERE, L"Failed to call Install error is 0x%x",
               static_cast<unsigned>(result));
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::personalize(const std::wstring& payload)
{
    std::wstring list;
    if (parsingAppIDList(payload, list) == MODULE_STATUS_UNSUCCESSFUL) {
        logging::error(UM_HERE, L"Error parsing the App ID list \"%s\"", payload.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (install(list, kDefaultPackage) == MODULE_STATUS_UNSUCCESSFUL) {
        logging::error(UM_HERE, L"Error installing.");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus ZuUpdateAgentHandle::startUpdate(std::wstring package)
{
    logging::normal(UM_HERE, L"Start update");
    if (const ModuleStatus status = getUpdateMgr(); status.failed())
        return status;
    package = trimmed(package);
    if (package.empty())
        package = kDefaultPackage;
    const win::ScopedBstr packageText = bstrOf(package);
    const HRESULT result = agent_->StartUpdate(packageText.get());
    if (FAILED(result)) {
        logging::information(UM_HERE, L"Failed to Start update error is 0x%x",
               static_cast<unsigned>(result));
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

} // namespace Orvik
