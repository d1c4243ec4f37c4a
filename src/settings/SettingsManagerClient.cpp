#include "settings/SettingsManagerClient.h"

#include "Logging/Logger.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/Reply.h"
#include "settings/SettingsNotifications.h"
#include "settings/SettingsValueText.h"
#include "status/ModuleException.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace Orvik {
namespace {

constexpr wchar_t kLogFile[] = L"SettingsManagerClient";
constexpr wchar_t kSender[] = L"SettingsManagerClient";

constexpr wchar_t kSetPropertyMessage[] = L"SETTINGS_MANAGER_SET_PROPERTY";
constexpr wchar_t kGetPropertyMessage[] = L"SETTINGS_MANAGER_GET_PROPERTY";
constexpr wchar_t kRemovePropertyMessage[] = L"SETTINGS_MANAGER_REMOVE_PROPERTY";
constexpr wchar_t kSetPropertiesMessage[] = L"SettingsManager.SetProperties.Request";
constexpr wchar_t kGetPropertiesMessage[] = L"SettingsManager.GetProperties.Request";
constexpr wchar_t kRemovePropertiesMessage[] = L"SettingsManager.RemoveProperties.Request";
constexpr wchar_t kPropertySetMessage[] = L"SETTINGS_MANAGER_PROPERTY_SET";
constexpr wchar_t kPropertyRemovedMessage[] = L"SETTINGS_MANAGER_PROPERTY_REMOVED";
constexpr wchar_t kNotifySetPrefix[] = L"SettingsManager.Notify.Set.";
constexpr wchar_t kNotifyDeletePrefix[] = L"SettingsManager.Notify.Delete.";

constexpr wchar_t kName[] = L"name";
constexpr wchar_t kValue[] = L"value";
constexpr wchar_t kVolatile[] = L"volatile";
constexpr wchar_t kIsPrefix[] = L"isPrefix";
constexpr wchar_t kProperties[] = L"properties";
constexpr wchar_t kResponses[] = L"responses";
constexpr wchar_t kStatus[] = L"status";

#define CLIENT_FUNCTION(name) L"Orvik::SettingsManagerClient::" name
#define IMPL_FUNCTION(name) L"Orvik::SettingsManagerClient::Impl::" name

using TimeLimit = SettingsManager::TimeLimit;
using PropertyValues = SettingsManager::PropertyValues;
using PropertyResults = SettingsManager::PropertyResults;
using Names = SettingsManager::Names;

PropertyResults allFalse(const Names& names)
{
    PropertyResults results;
    for (const std::wstring& name : names)
        results.emplace(name, false);
    return results;
}

// Runs one client operation; a failure that escapes it (allocation) is
// logged and becomes the operation's failure value.
template <typename Result, typename Operation>
Result guarded(const wchar_t* function, Result failure, Operation&& operation) noexcept
{
    try {
        return operation();
    } catch (const std::exception& error) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"Settings operation failed: %hs", error.what());
    } catch (...) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"Settings operation failed.");
    }
    return failure;
}

} // namespace

class SettingsManagerClient::Impl {
public:
    explicit Impl(std::shared_ptr<MessageBus> bus)
        : bus_(bus ? std::move(bus) : std::make_shared<MessageBusClient>())
    {
    }

    bool setProperty(const std::wstring& name, const std::wstring& value, bool isVolatile, const TimeLimit& limit)
    {
        constexpr const wchar_t* kFunction = IMPL_FUNCTION(L"setProperty");
        JSONFormatter payload;
        payload.setString(kName, name);
        payload.setString(kValue, value);
        payload.setBool(kVolatile, isVolatile);
        JSONFormatter response;
        if (!singleRequest(kSetPropertyMessage, payload, limit, response, kFunction,
                           L"Failed to make set property request. Error code: %ls(%lu)"))
            return false;
        return verifyPropertyName(response, name) &&
               readStatus(response, kFunction, L"Settings Manager failed to set property value.");
    }

    PropertyResults setProperties(const PropertyValues& properties, bool isVolatile, const TimeLimit& limit)
    {
        constexpr const wchar_t* kFunction = IMPL_FUNCTION(L"setProperties");
        PropertyResults results;
        std::vector<JSONFormatter> elements;
        for (const auto& [name, value] : properties) {
            results.emplace(name, false);
            JSONFormatter element;
            element.setString(kName, name);
            element.setString(kValue, value);
            element.setBool(kVolatile, isVolatile);
            elements.push_back(std::move(element));
        }
        JSONFormatter response;
        if (!sendSetPropertiesRequest(elements, limit, response)) {
            UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to set properties. Unable to make request.");
            return results;
        }
        std::vector<JSONFormatter> responses;
        if (!response.getObjectArray(kResponses, responses)) {
            UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to set properties. Unable to parse responses.");
            return results;
        }
        for (const JSONFormatter& element : responses) {
            std::wstring name;
            if (!responseName(element, kFunction, L"Failed to read settings property response name.", name) ||
                !wasRequested(results, name, kFunction, L"Received unexpected setting property response. Name: %ls."))
                continue;
            if (elementStatus(element, kFunction, name, L"Settings Manager failed to set property value. Property Name: %ls"))
                results[name] = true;
        }
        return results;
    }

    bool getProperty(const std::wstring& name, std::wstring& value, const TimeLimit& limit)
    {
        JSONFormatter payload;
        payload.setString(kName, name);
        JSONFormatter response;
        if (!singleRequest(kGetPropertyMessage, payload, limit, response, CLIENT_FUNCTION(L"getProperty"),
                           L"Failed to make get property request. Error code: %ls(%lu)"))
            return false;
        return verifyPropertyName(response, name) && getPropertyValue(response, value);
    }

    template <typename T>
    bool tryConvert(const std::wstring& name, T& value, const TimeLimit& limit)
    {
        constexpr const wchar_t* kFunction = IMPL_FUNCTION(L"tryConvert");
        std::wstring text;
        if (!getProperty(name, text, limit))
            return false;
        try {
            value = internal::convertText<T>(text);
            return true;
        } catch (const std::invalid_argument&) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"Conversion failed due to invalid arguments.");
        } catch (const std::out_of_range&) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__,
                   L"Conversion failed, out of range for destination type.");
        } catch (...) {
        }
        return false;
    }

    PropertyResults getProperties(const Names& names, PropertyValues& values, const TimeLimit& limit)
    {
        constexpr const wchar_t* kFunction = CLIENT_FUNCTION(L"getProperties");
        PropertyResults results = allFalse(names);
        std::vector<JSONFormatter> responses;
        if (!listRequest(kGetPropertiesMessage, entries(names, false), limit, responses, kFunction,
                         L"Failed to make get properties request. Error code: %ls(%lu)"))
            return results;
        for (const JSONFormatter& element : responses) {
            std::wstring name;
            if (!responseName(element, kFunction, L"Failed to read settings property response name.", name) ||
                !wasRequested(results, name, kFunction, L"Received an unexpected setting property. Name: %ls."))
                continue;
            bool status = false;
            if (element.getBool(kStatus, status) && !status)
                continue;
            std::wstring value;
            if (getPropertyValue(element, value)) {
                results[name] = true;
                values[name] = std::move(value);
            }
        }
        return results;
    }

    bool getPropertiesByPrefix(const Names& prefixes, PropertyValues& values, const TimeLimit& limit)
    {
        constexpr const wchar_t* kFunction = CLIENT_FUNCTION(L"getPropertiesByPrefix");
        std::vector<JSONFormatter> responses;
        if (!listRequest(kGetPropertiesMessage, entries(prefixes, true), limit, responses, kFunction,
                         L"Failed to make get properties request. Error code: %ls(%lu)"))
            return false;
        for (const JSONFormatter& element : responses) {
            std::wstring name;
            if (!responseName(element, kFunction, L"Failed to read settings property response name. Skipping", name))
                continue;
            std::wstring value;
            if (getPropertyValue(element, value))
                values[name] = std::move(value);
        }
        return true;
    }

    bool removeProperty(const std::wstring& name, const TimeLimit& limit)
    {
        constexpr const wchar_t* kFunction = CLIENT_FUNCTION(L"removeProperty");
        JSONFormatter payload;
        payload.setString(kName, name);
        JSONFormatter response;
        if (!singleRequest(kRemovePropertyMessage, payload, limit, response, kFunction,
                           L"Failed to make remove property request. Error code: %ls(%lu)"))
            return false;
        return verifyPropertyName(response, name) &&
               readStatus(response, kFunction, L"Settings Manager failed to remove property.");
    }

    PropertyResults removeProperties(const Names& names, bool byPrefix, const TimeLimit& limit)
    {
        const wchar_t* const function =
            byPrefix ? CLIENT_FUNCTION(L"removePropertiesByPrefix") : CLIENT_FUNCTION(L"removeProperties");
        PropertyResults results = allFalse(names);
        ReplyPtr reply;
        const ModuleStatus status = send(kRemovePropertiesMessage, listPayload(entries(names, byPrefix)), limit, reply);
        if (status != MODULE_STATUS_SUCCESS) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   byPrefix ? L"Failed to make remove properties by prefix request. Error code: %ls(%lu)"
                            : L"Failed to make remove properties request. Error code: %ls(%lu)",
                   getStatusName(status), static_cast<unsigned long>(status));
            return results;
        }
        JSONFormatter response;
        if (!getSettingPropertyResponseList(reply->wait(), reply, response)) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   L"Failed to parse remove properties response. Error code: %ls(%lu)", getStatusName(status),
                   static_cast<unsigned long>(status));
            return results;
        }
        std::vector<JSONFormatter> responses;
        if (!response.getObjectArray(kResponses, responses)) {
            UM_LOG_ERROR(kLogFile, function, __LINE__, L"Failed to parse statuses from remove properties response.");
            return results;
        }
        for (const JSONFormatter& element : responses) {
            std::wstring name;
            if (!responseName(element, function, L"Failed to read settings property response name.", name) ||
                (!byPrefix && !wasRequested(results, name, function, L"Received unexpected setting property. Name: %ls.")))
                continue;
            if (elementStatus(element, function, name, L"Settings Manager failed to remove property. Property Name: %ls"))
                results[name] = true;
        }
        return results;
    }

    bool watchProperty(const wchar_t* notification, const SettingsManager::PropertyCallback& callback,
                       const std::wstring* name)
    {
        std::shared_ptr<const std::wstring> expected;
        if (name != nullptr)
            expected = std::make_shared<const std::wstring>(*name);
        return bus_->subscribe(notification, [callback, expected](const MessagePtr& message) {
            return internal::onPropertyNotify(message, callback, expected.get());
        }) == MODULE_STATUS_SUCCESS;
    }

    bool watchPrefixSet(const SettingsManager::PropertyValueCallback& callback, const std::wstring& prefix)
    {
        if (prefix.empty())
            return true;
        const std::wstring pattern = internal::prefixPattern(kNotifySetPrefix, prefix);
        return bus_->subscribeFilter(pattern, pattern, [callback](const MessagePtr& message) {
            return internal::onPropertyNotifySet(message, callback);
        }) == MODULE_STATUS_SUCCESS;
    }

    bool watchPrefixDelete(const SettingsManager::PropertyCallback& callback, const std::wstring& prefix)
    {
        if (prefix.empty())
            return true;
        const std::wstring pattern = internal::prefixPattern(kNotifyDeletePrefix, prefix);
        return bus_->subscribeFilter(pattern, pattern, [callback](const MessagePtr& message) {
            return internal::onPropertyNotifyDelete(message, callback);
        }) == MODULE_STATUS_SUCCESS;
    }

    bool unwatchPrefix(const wchar_t* notification, const std::wstring& prefix)
    {
        if (prefix.empty())
            return true;
        return bus_->unsubscribe(internal::prefixPattern(notification, prefix)) == MODULE_STATUS_SUCCESS;
    }

private:
    // The "name" of a response element; logs `missingText` when it has none.
    static bool responseName(const JSONFormatter& element, const wchar_t* function, const wchar_t* missingText,
                             std::wstring& name)
    {
        if (element.getString(kName, name))
            return true;
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"%ls", missingText);
        return false;
    }

    // Whether `name` was asked for; logs `unexpectedFormat` (with the name) when not.
    static bool wasRequested(const PropertyResults& results, const std::wstring& name, const wchar_t* function,
                             const wchar_t* unexpectedFormat)
    {
        if (results.find(name) != results.end())
            return true;
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, unexpectedFormat, name.c_str());
        return false;
    }

    // The "status" of a response element for a change; logs a missing one, and a
    // false one with `refusedFormat` (with the name).
    static bool elementStatus(const JSONFormatter& element, const wchar_t* function, const std::wstring& name,
                              const wchar_t* refusedFormat)
    {
        bool status = false;
        if (!element.getBool(kStatus, status)) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   L"Failed to read settings manager response status. Property Name: %ls", name.c_str());
            return false;
        }
        if (!status)
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, refusedFormat, name.c_str());
        return status;
    }

    static std::vector<JSONFormatter> entries(const Names& names, bool byPrefix)
    {
        std::vector<JSONFormatter> elements;
        elements.reserve(names.size());
        for (const std::wstring& name : names) {
            JSONFormatter element;
            element.setString(kName, name);
            if (byPrefix)
                element.setBool(kIsPrefix, true);
            elements.push_back(std::move(element));
        }
        return elements;
    }

    static JSONFormatter listPayload(const std::vector<JSONFormatter>& elements)
    {
        JSONFormatter payload;
        payload.setObjectArray(kProperties, elements);
        return payload;
    }

    // Makes the request; the reply is there to be waited for when it answers 0.
    ModuleStatus send(const wchar_t* messageName, const JSONFormatter& payload, const TimeLimit& limit,
                      ReplyPtr& reply)
    {
        const MessagePtr message = createMessage(messageName, kSender, payload.toString());
        if (!message)
            return MODULE_STATUS_NO_MEMORY;
        const ModuleStatus status = bus_->request(message, reply, limit);
        if (status == MODULE_STATUS_SUCCESS && !reply)
            return MODULE_STATUS_UNSUCCESSFUL;
        return status;
    }

    bool singleRequest(const wchar_t* messageName, const JSONFormatter& payload, const TimeLimit& limit,
                       JSONFormatter& response, const wchar_t* function, const wchar_t* failureText)
    {
        ReplyPtr reply;
        const ModuleStatus status = send(messageName, payload, limit, reply);
        if (status != MODULE_STATUS_SUCCESS) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, failureText, getStatusName(status),
                   static_cast<unsigned long>(status));
            return false;
        }
        return getSettingPropertyResponse(reply->wait(), reply, response);
    }

    bool sendSetPropertiesRequest(const std::vector<JSONFormatter>& elements, const TimeLimit& limit,
                                  JSONFormatter& response)
    {
        ReplyPtr reply;
        const ModuleStatus status = send(kSetPropertiesMessage, listPayload(elements), limit, reply);
        if (status != MODULE_STATUS_SUCCESS) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, IMPL_FUNCTION(L"sendSetPropertiesRequest"), __LINE__,
                   L"Failed to make set properties request. Error code: %ls(%lu)", getStatusName(status),
                   static_cast<unsigned long>(status));
            return false;
        }
        return getSettingPropertyResponseList(reply->wait(), reply, response);
    }

    // A request for several whose reply checked out and holds "responses".
    bool listRequest(const wchar_t* messageName, const std::vector<JSONFormatter>& elements, const TimeLimit& limit,
                     std::vector<JSONFormatter>& responses, const wchar_t* function, const wchar_t* failureText)
    {
        ReplyPtr reply;
        const ModuleStatus status = send(messageName, listPayload(elements), limit, reply);
        if (status != MODULE_STATUS_SUCCESS) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, failureText, getStatusName(status),
                   static_cast<unsigned long>(status));
            return false;
        }
        JSONFormatter response;
        return getSettingPropertyResponseList(reply->wait(), reply, response) &&
               response.getObjectArray(kResponses, responses);
    }

    static bool checkReply(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response, bool list)
    {
        const wchar_t* const function =
            list ? IMPL_FUNCTION(L"getSettingPropertyResponseList") : IMPL_FUNCTION(L"getSettingPropertyResponse");
        switch (replyStatus) {
        case kReplyStatusReceived:
            break;
        case kReplyStatusTimedOut:
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   list ? L"Property list request timed out. Returning." : L"Property request timed out. Returning.");
            return false;
        case kReplyStatusFailed:
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   list ? L"Property list request failed with DATA_ERROR. Returning."
                        : L"Property request failed with DATA_ERROR. Returning.");
            return false;
        default:
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   list ? L"Property list request failed on wait() with unknown error."
                        : L"Property request failed on wait() with unknown error.");
            return false;
        }
        const MessagePtr message = reply->getMessage();
        if (!message || !response.parse(message->getPayload())) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
                   L"Failed to parse settings manager response message. Returning.");
            return false;
        }
        return true;
    }

    static bool getSettingPropertyResponse(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response)
    {
        return checkReply(replyStatus, reply, response, false);
    }

    static bool getSettingPropertyResponseList(std::int32_t replyStatus, const ReplyPtr& reply,
                                               JSONFormatter& response)
    {
        return checkReply(replyStatus, reply, response, true);
    }

    static bool verifyPropertyName(const JSONFormatter& response, const std::wstring& expected)
    {
        constexpr const wchar_t* kFunction = IMPL_FUNCTION(L"verifyPropertyName");
        std::wstring name;
        if (!response.getString(kName, name)) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__,
                   L"Failed to read settings manager response property name.");
            return false;
        }
        if (name != expected) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__,
                   L"Response property name (%ls) does not match expected property name (%ls).", name.c_str(),
                   expected.c_str());
            return false;
        }
        return true;
    }

    // The "status" of a set or remove reply; false (with `refusedText`) when the service refused.
    static bool readStatus(const JSONFormatter& response, const wchar_t* function, const wchar_t* refusedText)
    {
        bool status = false;
        if (!response.getBool(kStatus, status)) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"Failed to read settings manager response status.");
            return false;
        }
        if (!status) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"%ls", refusedText);
            return false;
        }
        return true;
    }

    static bool getPropertyValue(const JSONFormatter& response, std::wstring& value)
    {
        constexpr const wchar_t* kFunction = IMPL_FUNCTION(L"getPropertyValue");
        bool status = false;
        if (!response.getBool(kStatus, status)) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"Failed to read settings manager response status.");
            return false;
        }
        if (!status)
            return false;
        std::wstring text;
        if (!response.getString(kValue, text)) {
            UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"Failed to read settings manager response value.");
            return false;
        }
        value = std::move(text);
        return true;
    }

    std::shared_ptr<MessageBus> bus_;
};

std::unique_ptr<SettingsManagerClient> SettingsManagerClient::getInstance() noexcept
{
    constexpr const wchar_t* kFunction = CLIENT_FUNCTION(L"getInstance");
    try {
        return std::make_unique<SettingsManagerClient>(nullptr);
    } catch (const ModuleException& error) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__,
                     L"Failed to create settings manager client. Caught ModuleException - what: %hs.", error.what());
    } catch (const std::bad_alloc&) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__,
                     L"Failed to create settings manager client. Caught bad_alloc - Failed to alllocate resources.");
    } catch (const std::exception& error) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__,
                     L"Faield to create setting smanager client. Caught standard exception - what: %hs.",
                     error.what());
    } catch (...) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__,
                     L"Failed to create settings manager client. Caught unexpected exception.");
    }
    return nullptr;
}

SettingsManagerClient::SettingsManagerClient(std::shared_ptr<MessageBus> bus)
    : impl_(std::make_unique<Impl>(std::move(bus)))
{
}

SettingsManagerClient::~SettingsManagerClient() = default;

// --- setters ---------------------------------------------------------------

#define SET_PROPERTY(Method, Volatile, Type, Text)                                                        \
    bool SettingsManagerClient::Method(const std::wstring& name, Type value, const TimeLimit& timeLimit) \
    {                                                                                                     \
        return guarded(CLIENT_FUNCTION(L## #Method), false,                                               \
                       [&] { return impl_->setProperty(name, Text, Volatile, timeLimit); });              \
    }

SET_PROPERTY(setProperty, false, double, internal::plainText(value))
SET_PROPERTY(setProperty, false, unsigned int, std::to_wstring(value))
SET_PROPERTY(setProperty, false, unsigned long long, std::to_wstring(value))
SET_PROPERTY(setProperty, false, unsigned long, std::to_wstring(value))
SET_PROPERTY(setProperty, false, long long, std::to_wstring(value))
SET_PROPERTY(setProperty, false, int, std::to_wstring(value))
SET_PROPERTY(setProperty, false, bool, internal::boolText(value))
SET_PROPERTY(setProperty, false, const wchar_t*, std::wstring(value != nullptr ? value : L""))
SET_PROPERTY(setProperty, false, const std::wstring&, value)
SET_PROPERTY(setVolatileProperty, true, double, internal::volatileText(value))
SET_PROPERTY(setVolatileProperty, true, unsigned int, std::to_wstring(value))
SET_PROPERTY(setVolatileProperty, true, unsigned long long, std::to_wstring(value))
SET_PROPERTY(setVolatileProperty, true, unsigned long, std::to_wstring(value))
SET_PROPERTY(setVolatileProperty, true, long long, std::to_wstring(value))
SET_PROPERTY(setVolatileProperty, true, int, std::to_wstring(value))
SET_PROPERTY(setVolatileProperty, true, bool, internal::boolText(value))
SET_PROPERTY(setVolatileProperty, true, const wchar_t*, std::wstring(value != nullptr ? value : L""))
SET_PROPERTY(setVolatileProperty, true, const std::wstring&, value)

#undef SET_PROPERTY

SettingsManager::PropertyResults SettingsManagerClient::setProperties(const PropertyValues& properties,
                                                                      const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"setProperties"), PropertyResults{},
                   [&] { return impl_->setProperties(properties, false, timeLimit); });
}

SettingsManager::PropertyResults SettingsManagerClient::setVolatileProperties(const PropertyValues& properties,
                                                                              const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"setVolatileProperties"), PropertyResults{},
                   [&] { return impl_->setProperties(properties, true, timeLimit); });
}

// --- getters ---------------------------------------------------------------

#define GET_PROPERTY(Type)                                                                                 \
    bool SettingsManagerClient::getProperty(const std::wstring& name, Type& value, const TimeLimit& timeLimit) \
    {                                                                                                      \
        return guarded(CLIENT_FUNCTION(L"getProperty"), false,                                             \
                       [&] { return impl_->tryConvert(name, value, timeLimit); });                         \
    }

GET_PROPERTY(double)
GET_PROPERTY(unsigned int)
GET_PROPERTY(unsigned long long)
GET_PROPERTY(unsigned long)
GET_PROPERTY(long long)
GET_PROPERTY(int)
GET_PROPERTY(bool)

#undef GET_PROPERTY

bool SettingsManagerClient::getProperty(const std::wstring& name, std::wstring& value, const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"getProperty"), false,
                   [&] { return impl_->getProperty(name, value, timeLimit); });
}

SettingsManager::PropertyResults SettingsManagerClient::getProperties(const Names& names, PropertyValues& values,
                                                                      const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"getProperties"), allFalse(names),
                   [&] { return impl_->getProperties(names, values, timeLimit); });
}

bool SettingsManagerClient::getPropertiesByPrefix(const Names& prefixes, PropertyValues& values,
                                                  const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"getPropertiesByPrefix"), false,
                   [&] { return impl_->getPropertiesByPrefix(prefixes, values, timeLimit); });
}

bool SettingsManagerClient::getPropertiesByPrefix(const std::wstring& prefix, PropertyValues& values,
                                                  const TimeLimit& timeLimit)
{
    return getPropertiesByPrefix(Names{prefix}, values, timeLimit);
}

// --- removal ---------------------------------------------------------------

bool SettingsManagerClient::removeProperty(const std::wstring& name, const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"removeProperty"), false,
                   [&] { return impl_->removeProperty(name, timeLimit); });
}

SettingsManager::PropertyResults SettingsManagerClient::removeProperties(const Names& names,
                                                                         const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"removeProperties"), allFalse(names),
                   [&] { return impl_->removeProperties(names, false, timeLimit); });
}

SettingsManager::PropertyResults SettingsManagerClient::removePropertiesByPrefix(const Names& prefixes,
                                                                                 const TimeLimit& timeLimit)
{
    return guarded(CLIENT_FUNCTION(L"removePropertiesByPrefix"), allFalse(prefixes),
                   [&] { return impl_->removeProperties(prefixes, true, timeLimit); });
}

SettingsManager::PropertyResults SettingsManagerClient::removePropertiesByPrefix(const std::wstring& prefix,
                                                                                 const TimeLimit& timeLimit)
{
    return removePropertiesByPrefix(Names{prefix}, timeLimit);
}

// --- watches ---------------------------------------------------------------

bool SettingsManagerClient::watchPropertySet(const PropertyCallback& callback, const std::wstring& name)
{
    return guarded(CLIENT_FUNCTION(L"watchPropertySet"), false,
                   [&] { return impl_->watchProperty(kPropertySetMessage, callback, &name); });
}

bool SettingsManagerClient::watchPropertySet(const PropertyCallback& callback)
{
    return guarded(CLIENT_FUNCTION(L"watchPropertySet"), false,
                   [&] { return impl_->watchProperty(kPropertySetMessage, callback, nullptr); });
}

bool SettingsManagerClient::watchPrefixSet(const PropertyValueCallback& callback, const std::wstring& prefix)
{
    return guarded(CLIENT_FUNCTION(L"watchPrefixSet"), false,
                   [&] { return impl_->watchPrefixSet(callback, prefix); });
}

bool SettingsManagerClient::unwatchPrefixSet(const std::wstring& prefix)
{
    return guarded(CLIENT_FUNCTION(L"unwatchPrefixSet"), false,
                   [&] { return impl_->unwatchPrefix(kNotifySetPrefix, prefix); });
}

bool SettingsManagerClient::watchPrefixDelete(const PropertyCallback& callback, const std::wstring& prefix)
{
    return guarded(CLIENT_FUNCTION(L"watchPrefixDelete"), false,
                   [&] { return impl_->watchPrefixDelete(callback, prefix); });
}

bool SettingsManagerClient::unwatchPrefixDelete(const std::wstring& prefix)
{
    return guarded(CLIENT_FUNCTION(L"unwatchPrefixDelete"), false,
                   [&] { return impl_->unwatchPrefix(kNotifyDeletePrefix, prefix); });
}

bool SettingsManagerClient::watchPropertyRemoved(const PropertyCallback& callback, const std::wstring& name)
{
    return guarded(CLIENT_FUNCTION(L"watchPropertyRemoved"), false,
                   [&] { return impl_->watchProperty(kPropertyRemovedMessage, callback, &name); });
}

bool SettingsManagerClient::watchPropertyRemoved(const PropertyCallback& callback)
{
    return guarded(CLIENT_FUNCTION(L"watchPropertyRemoved"), false,
                   [&] { return impl_->watchProperty(kPropertyRemovedMessage, callback, nullptr); });
}

} // namespace Orvik
