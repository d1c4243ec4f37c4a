// The settings client's front: the typed setters and getters, each a guarded
// call into the working part, and the client's creation.
#include "settings/SettingsManagerClient.h"

#include "Logging/Logger.h"
#include "settings/SettingsClientImpl.h"
#include "settings/SettingsProtocol.h"
#include "settings/SettingsReplies.h"
#include "settings/SettingsValueText.h"
#include "status/ModuleException.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace Orvik {

using namespace internal;

namespace {

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

template <typename T>
bool SettingsManagerClient::Impl::tryConvert(const std::wstring& name, T& value, const TimeLimit& limit)
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
