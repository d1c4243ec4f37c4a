// The settings client's requests: one property at a time or several in one
// list request, each checked against its reply.
#include "settings/SettingsClientImpl.h"

#include "Logging/Logger.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/Reply.h"
#include "settings/SettingsProtocol.h"
#include "settings/SettingsReplies.h"

#include <string>
#include <utility>
#include <vector>

namespace Orvik {

using namespace internal;

namespace {

// One { "name" } element per name, { "name", "isPrefix": true } by prefix.
std::vector<JSONFormatter> entries(const SettingsManager::Names& names, bool byPrefix)
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

} // namespace

SettingsManagerClient::Impl::Impl(std::shared_ptr<MessageBus> bus)
    : bus_(bus ? std::move(bus) : std::make_shared<MessageBusClient>())
{
}

bool SettingsManagerClient::Impl::setProperty(const std::wstring& name, const std::wstring& value, bool isVolatile,
                                              const TimeLimit& limit)
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

SettingsManager::PropertyResults SettingsManagerClient::Impl::setProperties(const PropertyValues& properties,
                                                                            bool isVolatile, const TimeLimit& limit)
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

bool SettingsManagerClient::Impl::getProperty(const std::wstring& name, std::wstring& value, const TimeLimit& limit)
{
    JSONFormatter payload;
    payload.setString(kName, name);
    JSONFormatter response;
    if (!singleRequest(kGetPropertyMessage, payload, limit, response, CLIENT_FUNCTION(L"getProperty"),
                       L"Failed to make get property request. Error code: %ls(%lu)"))
        return false;
    return verifyPropertyName(response, name) && getPropertyValue(response, value);
}

SettingsManager::PropertyResults SettingsManagerClient::Impl::getProperties(const Names& names, PropertyValues& values,
                                                                            const TimeLimit& limit)
{
    constexpr const wchar_t* kFunction = CLIENT_FUNCTION(L"getProperties");
    PropertyResults results = allFalse(names);
    JSONFormatter response;
    std::vector<JSONFormatter> responses;
    if (listRequest(kGetPropertiesMessage, entries(names, false), limit, response, kFunction,
                    L"Failed to make get properties request. Error code: %ls(%lu)") != ListReply::Read ||
        !response.getObjectArray(kResponses, responses))
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

bool SettingsManagerClient::Impl::getPropertiesByPrefix(const Names& prefixes, PropertyValues& values,
                                                        const TimeLimit& limit)
{
    constexpr const wchar_t* kFunction = CLIENT_FUNCTION(L"getPropertiesByPrefix");
    JSONFormatter response;
    std::vector<JSONFormatter> responses;
    if (listRequest(kGetPropertiesMessage, entries(prefixes, true), limit, response, kFunction,
                    L"Failed to make get properties request. Error code: %ls(%lu)") != ListReply::Read ||
        !response.getObjectArray(kResponses, responses))
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

bool SettingsManagerClient::Impl::removeProperty(const std::wstring& name, const TimeLimit& limit)
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

SettingsManager::PropertyResults SettingsManagerClient::Impl::removeProperties(const Names& names, bool byPrefix,
                                                                               const TimeLimit& limit)
{
    const wchar_t* const function =
        byPrefix ? CLIENT_FUNCTION(L"removePropertiesByPrefix") : CLIENT_FUNCTION(L"removeProperties");
    PropertyResults results = allFalse(names);
    JSONFormatter response;
    switch (listRequest(kRemovePropertiesMessage, entries(names, byPrefix), limit, response, function,
                        byPrefix ? L"Failed to make remove properties by prefix request. Error code: %ls(%lu)"
                                 : L"Failed to make remove properties request. Error code: %ls(%lu)")) {
    case ListReply::NotSent:
        return results;
    case ListReply::Unreadable:
        // Carries the status of the request, which was made.
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__,
               L"Failed to parse remove properties response. Error code: %ls(%lu)",
               getStatusName(MODULE_STATUS_SUCCESS), static_cast<unsigned long>(MODULE_STATUS_SUCCESS));
        return results;
    case ListReply::Read:
        break;
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

ModuleStatus SettingsManagerClient::Impl::send(const wchar_t* messageName, const JSONFormatter& payload,
                                               const TimeLimit& limit, ReplyPtr& reply)
{
    const MessagePtr message = createMessage(messageName, kSender, payload.toString());
    if (!message)
        return MODULE_STATUS_NO_MEMORY;
    const ModuleStatus status = bus_->request(message, reply, limit);
    if (status == MODULE_STATUS_SUCCESS && !reply)
        return MODULE_STATUS_UNSUCCESSFUL;
    return status;
}

bool SettingsManagerClient::Impl::singleRequest(const wchar_t* messageName, const JSONFormatter& payload,
                                                const TimeLimit& limit, JSONFormatter& response,
                                                const wchar_t* function, const wchar_t* failureText)
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

SettingsManagerClient::Impl::ListReply SettingsManagerClient::Impl::listRequest(
    const wchar_t* messageName, const std::vector<JSONFormatter>& elements, const TimeLimit& limit,
    JSONFormatter& response, const wchar_t* function, const wchar_t* failureText)
{
    JSONFormatter payload;
    payload.setObjectArray(kProperties, elements);
    ReplyPtr reply;
    const ModuleStatus status = send(messageName, payload, limit, reply);
    if (status != MODULE_STATUS_SUCCESS) {
        UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, failureText, getStatusName(status),
               static_cast<unsigned long>(status));
        return ListReply::NotSent;
    }
    return getSettingPropertyResponseList(reply->wait(), reply, response) ? ListReply::Read : ListReply::Unreadable;
}

bool SettingsManagerClient::Impl::sendSetPropertiesRequest(const std::vector<JSONFormatter>& elements,
                                                           const TimeLimit& limit, JSONFormatter& response)
{
    return listRequest(kSetPropertiesMessage, elements, limit, response, IMPL_FUNCTION(L"sendSetPropertiesRequest"),
                       L"Failed to make set properties request. Error code: %ls(%lu)") == ListReply::Read;
}

} // namespace Orvik
