#include "settings/SettingsReplies.h"

#include "Logging/Logger.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "message/Reply.h"
#include "settings/SettingsProtocol.h"

#include <utility>

namespace Orvik {
namespace internal {
namespace {

UM_LOG_SOURCE_NAMED(kLogFile, kImplScope);

} // namespace

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

// Reports for `member`, the single or the list form.
bool checkReply(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response, bool list,
                const char* member)
{
    switch (replyStatus) {
    case kReplyStatusReceived:
        break;
    case kReplyStatusTimedOut:
        logging::warning(UM_HERE_AS(member), list ? L"Property list request timed out. Returning."
                                                  : L"Property request timed out. Returning.");
        return false;
    case kReplyStatusFailed:
        logging::warning(UM_HERE_AS(member), list ? L"Property list request failed with DATA_ERROR. Returning."
                                                  : L"Property request failed with DATA_ERROR. Returning.");
        return false;
    default:
        logging::warning(UM_HERE_AS(member), list ? L"Property list request failed on wait() with unknown error."
                                                  : L"Property request failed on wait() with unknown error.");
        return false;
    }
    const MessagePtr message = reply->getMessage();
    if (!message || !response.parse(message->getPayload())) {
        logging::warning(UM_HERE_AS(member), L"Failed to parse settings manager response message. Returning.");
        return false;
    }
    return true;
}

} // namespace

bool getSettingPropertyResponse(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response)
{
    return checkReply(replyStatus, reply, response, false, __func__);
}

bool getSettingPropertyResponseList(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response)
{
    return checkReply(replyStatus, reply, response, true, __func__);
}

bool verifyPropertyName(const JSONFormatter& response, const std::wstring& expected)
{
    std::wstring name;
    if (!response.getString(kName, name)) {
        logging::warning(UM_HERE, L"Failed to read settings manager response property name.");
        return false;
    }
    if (name != expected) {
        logging::warning(UM_HERE, L"Response property name (%ls) does not match expected property name (%ls).",
                         name.c_str(), expected.c_str());
        return false;
    }
    return true;
}

bool readStatus(const JSONFormatter& response, const logging::LogFunction& operation, const wchar_t* refusedText)
{
    bool status = false;
    if (!response.getBool(kStatus, status)) {
        logging::warning(reportFor(operation, UM_HERE), L"Failed to read settings manager response status.");
        return false;
    }
    if (!status) {
        logging::warning(reportFor(operation, UM_HERE), L"%ls", refusedText);
        return false;
    }
    return true;
}

bool getPropertyValue(const JSONFormatter& response, std::wstring& value)
{
    bool status = false;
    if (!response.getBool(kStatus, status)) {
        logging::warning(UM_HERE, L"Failed to read settings manager response status.");
        return false;
    }
    if (!status)
        return false;
    std::wstring text;
    if (!response.getString(kValue, text)) {
        logging::warning(UM_HERE, L"Failed to read settings manager response value.");
        return false;
    }
    value = std::move(text);
    return true;
}

bool responseName(const JSONFormatter& element, const logging::LogFunction& operation, const wchar_t* missingText,
                  std::wstring& name)
{
    if (element.getString(kName, name))
        return true;
    logging::warning(reportFor(operation, UM_HERE), L"%ls", missingText);
    return false;
}

bool wasRequested(const PropertyResults& results, const std::wstring& name, const logging::LogFunction& operation,
                  const wchar_t* unexpectedFormat)
{
    if (results.find(name) != results.end())
        return true;
    logging::warning(reportFor(operation, UM_HERE), unexpectedFormat, name.c_str());
    return false;
}

bool elementStatus(const JSONFormatter& element, const logging::LogFunction& operation, const std::wstring& name,
                   const wchar_t* refusedFormat)
{
    bool status = false;
    if (!element.getBool(kStatus, status)) {
        logging::warning(reportFor(operation, UM_HERE),
                         L"Failed to read settings manager response status. Property Name: %ls", name.c_str());
        return false;
    }
    if (!status)
        logging::warning(reportFor(operation, UM_HERE), refusedFormat, name.c_str());
    return status;
}

} // namespace internal
} // namespace Orvik
