#include "settings/SettingsNotifications.h"

#include "Logging/Logger.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"

#include <string_view>

namespace Orvik {
namespace internal {
namespace {

constexpr wchar_t kLogFile[] = L"SettingsManagerClient";
constexpr wchar_t kName[] = L"name";
constexpr wchar_t kValue[] = L"value";

#define IMPL_FUNCTION(name) L"Orvik::SettingsManagerClient::Impl::" name

// A prefix is matched as written: its characters must not act as pattern
// syntax ("a.b" must not watch "aXb", and "a(b" must not be a broken pattern).
std::wstring literalPattern(const std::wstring& text)
{
    static constexpr wchar_t kSpecial[] = L"\\^$.|?*+()[]{}";
    std::wstring escaped;
    escaped.reserve(text.size() * 2);
    for (const wchar_t c : text) {
        if (std::wstring_view(kSpecial).find(c) != std::wstring_view::npos)
            escaped.push_back(L'\\');
        escaped.push_back(c);
    }
    return escaped;
}

} // namespace

std::wstring prefixPattern(const wchar_t* notification, const std::wstring& prefix)
{
    return L"^" + std::wstring(notification) + literalPattern(prefix) + L".*";
}

namespace {

// Parses a notification and reads its "name"; logs under `function` and
// answers MODULE_STATUS_DATA_ERROR when either fails.
ModuleStatus readNotification(const MessagePtr& message, const wchar_t* function, JSONFormatter& payload,
                              std::wstring& name)
{
    if (!message || !payload.parse(message->getPayload())) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"Failed to parse setting property data.");
        return MODULE_STATUS_DATA_ERROR;
    }
    if (!payload.getString(kName, name)) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"Failed to read setting property name.");
        return MODULE_STATUS_DATA_ERROR;
    }
    return MODULE_STATUS_SUCCESS;
}

} // namespace

ModuleStatus onPropertyNotify(const MessagePtr& message, const SettingsManager::PropertyCallback& callback,
                              const std::wstring* expectedName)
{
    if (!callback)
        return MODULE_STATUS_SUCCESS;
    JSONFormatter payload;
    std::wstring name;
    if (const ModuleStatus status = readNotification(message, IMPL_FUNCTION(L"onPropertyNotify"), payload, name); status.failed())
        return status;
    if (expectedName == nullptr || *expectedName == name)
        callback(name);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus onPropertyNotifySet(const MessagePtr& message, const SettingsManager::PropertyValueCallback& callback)
{
    constexpr const wchar_t* kFunction = IMPL_FUNCTION(L"onPropertyNotifySet");
    if (!callback)
        return MODULE_STATUS_SUCCESS;
    JSONFormatter payload;
    std::wstring name;
    if (const ModuleStatus status = readNotification(message, kFunction, payload, name); status.failed())
        return status;
    std::wstring value;
    if (!payload.getString(kValue, value)) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"Failed to read setting value.");
        return MODULE_STATUS_DATA_ERROR;
    }
    callback(name, value);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus onPropertyNotifyDelete(const MessagePtr& message, const SettingsManager::PropertyCallback& callback)
{
    if (!callback)
        return MODULE_STATUS_SUCCESS;
    JSONFormatter payload;
    std::wstring name;
    if (const ModuleStatus status = readNotification(message, IMPL_FUNCTION(L"onPropertyNotifyDelete"), payload, name); status.failed())
        return status;
    callback(name);
    return MODULE_STATUS_SUCCESS;
}

} // namespace internal
} // namespace Orvik
