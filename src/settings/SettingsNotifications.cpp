#include "settings/SettingsNotifications.h"

#include "Logging/Logger.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "settings/SettingsClientImpl.h"
#include "settings/SettingsProtocol.h"

#include <memory>
#include <string_view>

namespace Orvik {
namespace internal {
namespace {

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
    if (const ModuleStatus status = readNotification(message, IMPL_FUNCTION(L"onPropertyNotify"), payload, name))
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
    if (const ModuleStatus status = readNotification(message, kFunction, payload, name))
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
    if (const ModuleStatus status = readNotification(message, IMPL_FUNCTION(L"onPropertyNotifyDelete"), payload, name))
        return status;
    callback(name);
    return MODULE_STATUS_SUCCESS;
}

} // namespace internal

bool SettingsManagerClient::Impl::watchProperty(const wchar_t* notification, const PropertyCallback& callback,
                                                const std::wstring* name)
{
    std::shared_ptr<const std::wstring> expected;
    if (name != nullptr)
        expected = std::make_shared<const std::wstring>(*name);
    return bus_->subscribe(notification, [callback, expected](const MessagePtr& message) {
        return internal::onPropertyNotify(message, callback, expected.get());
    }) == MODULE_STATUS_SUCCESS;
}

bool SettingsManagerClient::Impl::watchPrefixSet(const PropertyValueCallback& callback, const std::wstring& prefix)
{
    if (prefix.empty())
        return true;
    const std::wstring pattern = internal::prefixPattern(internal::kNotifySetPrefix, prefix);
    return bus_->subscribeFilter(pattern, pattern, [callback](const MessagePtr& message) {
        return internal::onPropertyNotifySet(message, callback);
    }) == MODULE_STATUS_SUCCESS;
}

bool SettingsManagerClient::Impl::watchPrefixDelete(const PropertyCallback& callback, const std::wstring& prefix)
{
    if (prefix.empty())
        return true;
    const std::wstring pattern = internal::prefixPattern(internal::kNotifyDeletePrefix, prefix);
    return bus_->subscribeFilter(pattern, pattern, [callback](const MessagePtr& message) {
        return internal::onPropertyNotifyDelete(message, callback);
    }) == MODULE_STATUS_SUCCESS;
}

bool SettingsManagerClient::Impl::unwatchPrefix(const wchar_t* notification, const std::wstring& prefix)
{
    if (prefix.empty())
        return true;
    return bus_->unsubscribe(internal::prefixPattern(notification, prefix)) == MODULE_STATUS_SUCCESS;
}

} // namespace Orvik
