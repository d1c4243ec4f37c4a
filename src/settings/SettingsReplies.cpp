#include "settings/SettingsReplies.h"

#include "Logging/Logger.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "message/Reply.h"
#include "settings/SettingsProtocol.h"

#include <utility>

namespace Orvik {
namespace internal {

using PropertyResults = SettingsManager::PropertyResults;
using Names = SettingsManager::Names;

PropertyResults allFalse(const Names& names)
{
    PropertyResults results;
    for (const std::wstring& name : names)
        results.emplace(name, false);
    return results;
}

namespace {

bool checkReply(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response, bool list)
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

} // namespace

bool getSettingPropertyResponse(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response)
{
    return checkReply(replyStatus, reply, response, false);
}

bool getSettingPropertyResponseList(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response)
{
    return checkReply(replyStatus, reply, response, true);
}

bool verifyPropertyName(const JSONFormatter& response, const std::wstring& expected)
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

bool readStatus(const JSONFormatter& response, const wchar_t* function, const wchar_t* refusedText)
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

bool getPropertyValue(const JSONFormatter& response, std::wstring& value)
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

bool responseName(const JSONFormatter& element, const wchar_t* function, const wchar_t* missingText,
                  std::wstring& name)
{
    if (element.getString(kName, name))
        return true;
    UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, L"%ls", missingText);
    return false;
}

bool wasRequested(const PropertyResults& results, const std::wstring& name, const wchar_t* function,
                  const wchar_t* unexpectedFormat)
{
    if (results.find(name) != results.end())
        return true;
    UM_LOG(LOG_LEVEL_WARNING, kLogFile, function, __LINE__, unexpectedFormat, name.c_str());
    return false;
}

bool elementStatus(const JSONFormatter& element, const wchar_t* function, const std::wstring& name,
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

} // namespace internal
} // namespace Orvik
