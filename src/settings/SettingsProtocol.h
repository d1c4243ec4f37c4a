#pragma once
// What the settings client and the settings service agree on: the message
// names, the payload fields, and the names the client's log records carry.
// Private to this folder.

namespace Orvik {
namespace internal {

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

} // namespace internal
} // namespace Orvik

#define CLIENT_FUNCTION(name) L"Orvik::SettingsManagerClient::" name
#define IMPL_FUNCTION(name) L"Orvik::SettingsManagerClient::Impl::" name
