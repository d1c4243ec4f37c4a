#pragma once
// How the settings client reads the service's replies: the reply checks of
// single and list requests and the fields of a response or response element.
// Each failing check logs its one message under the settings client's names.

#include "message/MessageBus.h"
#include "settings/SettingsManager.h"

#include <cstdint>
#include <string>

namespace Orvik {

class JSONFormatter;

namespace internal {

// Every name mapped to false: what an operation on several answers until
// the service confirms a name.
SettingsManager::PropertyResults allFalse(const SettingsManager::Names& names);

// The reply of a request for one property, parsed into `response` when it
// was received; false (logged) when it timed out, failed or does not parse.
bool getSettingPropertyResponse(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response);
// The same for a request on several properties, with its own messages.
bool getSettingPropertyResponseList(std::int32_t replyStatus, const ReplyPtr& reply, JSONFormatter& response);

// Whether a single reply names the property that was asked for.
bool verifyPropertyName(const JSONFormatter& response, const std::wstring& expected);
// The "status" of a set or remove reply; false (with `refusedText`) when the service refused.
bool readStatus(const JSONFormatter& response, const wchar_t* function, const wchar_t* refusedText);
// The "value" of a reply or response element whose "status" is true.
bool getPropertyValue(const JSONFormatter& response, std::wstring& value);

// The "name" of a response element; logs `missingText` when it has none.
bool responseName(const JSONFormatter& element, const wchar_t* function, const wchar_t* missingText,
                  std::wstring& name);
// Whether `name` was asked for; logs `unexpectedFormat` (with the name) when not.
bool wasRequested(const SettingsManager::PropertyResults& results, const std::wstring& name,
                  const wchar_t* function, const wchar_t* unexpectedFormat);
// The "status" of a response element for a change; logs a missing one, and a
// false one with `refusedFormat` (with the name).
bool elementStatus(const JSONFormatter& element, const wchar_t* function, const std::wstring& name,
                   const wchar_t* refusedFormat);

} // namespace internal
} // namespace Orvik
