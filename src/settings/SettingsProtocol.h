#pragma once
// What the settings client and the settings service agree on: the message
// names, the payload fields, and the names the client's log records carry.
// Private to this folder.

#include "Logging/Logger.h"

namespace Orvik {
namespace internal {

// Every record of the client names one file, and the front's or the working
// part's scope before the function.
constexpr wchar_t kLogFile[] = L"SettingsManagerClient";
constexpr wchar_t kFrontScope[] = L"Orvik::SettingsManagerClient";
constexpr wchar_t kImplScope[] = L"Orvik::SettingsManagerClient::Impl";

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

// The operation a record reports for: one of the front's, which the working
// part serves under the same name, or one of the working part's own.
constexpr logging::LogFunction frontOperation(const char* member) noexcept
{
    return {kFrontScope, member};
}
constexpr logging::LogFunction implOperation(const char* member) noexcept
{
    return {kImplScope, member};
}

// A site for a record made here (UM_HERE) on behalf of `operation`: this
// file and line, the operation's name.
constexpr logging::LogSite reportFor(const logging::LogFunction& operation, logging::LogSite here) noexcept
{
    here.function = operation;
    return here;
}

} // namespace internal
} // namespace Orvik
