#pragma once
// What the settings client's watches subscribe to and how their handlers read
// a notification. The handlers hold only the caller's callback and name
// test, never the client: they may be delivered after the client is gone.

#include "message/MessageBus.h"
#include "settings/SettingsManager.h"

#include <string>

namespace Orvik {
namespace internal {

// The pattern a prefix watch subscribes: the notification name, then the
// prefix matched literally, then anything.
std::wstring prefixPattern(const wchar_t* notification, const std::wstring& prefix);

// "name" of a set or removal notification to `callback`, when `expectedName`
// is null or equal. 0, or MODULE_STATUS_DATA_ERROR for an unreadable payload.
ModuleStatus onPropertyNotify(const MessagePtr& message, const SettingsManager::PropertyCallback& callback,
                              const std::wstring* expectedName);
// "name" and "value" of a per-property set notification.
ModuleStatus onPropertyNotifySet(const MessagePtr& message, const SettingsManager::PropertyValueCallback& callback);
// "name" of a per-property delete notification.
ModuleStatus onPropertyNotifyDelete(const MessagePtr& message, const SettingsManager::PropertyCallback& callback);

} // namespace internal
} // namespace Orvik
