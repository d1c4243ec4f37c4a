#pragma once
// The settings client's working part, private to this folder: the requests
// and their replies (SettingsRequests.cpp), the watches (SettingsNotifications.cpp)
// and the typed conversions of the front (SettingsManagerClient.cpp).

#include "message/MessageBus.h"
#include "settings/SettingsManagerClient.h"

#include <memory>
#include <string>
#include <vector>

namespace Orvik {

class JSONFormatter;

class SettingsManagerClient::Impl {
public:
    explicit Impl(std::shared_ptr<MessageBus> bus);

    bool setProperty(const std::wstring& name, const std::wstring& value, bool isVolatile, const TimeLimit& limit);
    PropertyResults setProperties(const PropertyValues& properties, bool isVolatile, const TimeLimit& limit);
    bool getProperty(const std::wstring& name, std::wstring& value, const TimeLimit& limit);
    template <typename T>
    bool tryConvert(const std::wstring& name, T& value, const TimeLimit& limit);
    PropertyResults getProperties(const Names& names, PropertyValues& values, const TimeLimit& limit);
    bool getPropertiesByPrefix(const Names& prefixes, PropertyValues& values, const TimeLimit& limit);
    bool removeProperty(const std::wstring& name, const TimeLimit& limit);
    PropertyResults removeProperties(const Names& names, bool byPrefix, const TimeLimit& limit);

    bool watchProperty(const wchar_t* notification, const PropertyCallback& callback, const std::wstring* name);
    bool watchPrefixSet(const PropertyValueCallback& callback, const std::wstring& prefix);
    bool watchPrefixDelete(const PropertyCallback& callback, const std::wstring& prefix);
    bool unwatchPrefix(const wchar_t* notification, const std::wstring& prefix);

private:
    // How far a request on several properties got.
    enum class ListReply { NotSent, Unreadable, Read };

    // Makes the request; the reply is there to be waited for when it answers 0.
    ModuleStatus send(const wchar_t* messageName, const JSONFormatter& payload, const TimeLimit& limit,
                      ReplyPtr& reply);
    bool singleRequest(const wchar_t* messageName, const JSONFormatter& payload, const TimeLimit& limit,
                       JSONFormatter& response, const wchar_t* function, const wchar_t* failureText);
    // Every request on several properties: sends { "properties": elements },
    // logs a refused request with `failureText` under `function`, and checks
    // the reply into `response`.
    ListReply listRequest(const wchar_t* messageName, const std::vector<JSONFormatter>& elements,
                          const TimeLimit& limit, JSONFormatter& response, const wchar_t* function,
                          const wchar_t* failureText);
    bool sendSetPropertiesRequest(const std::vector<JSONFormatter>& elements, const TimeLimit& limit,
                                  JSONFormatter& response);

    std::shared_ptr<MessageBus> bus_;
};

} // namespace Orvik
