#pragma once
// The settings service as the module sees it: named properties with text
// values, read and written over the bus, and change notifications.

#include <chrono>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Orvik {

class SettingsManager {
public:
    // Called with the name of a watched property that changed or went away.
    using PropertyCallback = std::function<void(const std::wstring& propertyName)>;
    // Called with the name and new value of a property under a watched prefix.
    using PropertyValueCallback = std::function<void(const std::wstring& propertyName, const std::wstring& value)>;
    using TimeLimit = std::chrono::milliseconds;
    using PropertyValues = std::unordered_map<std::wstring, std::wstring>;
    using PropertyResults = std::unordered_map<std::wstring, bool>;
    using Names = std::vector<std::wstring>;

    virtual ~SettingsManager() = default;

    virtual bool setProperty(const std::wstring& name, double value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned int value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned long long value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned long value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, long long value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, int value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, bool value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, const wchar_t* value, const TimeLimit& timeLimit) = 0;
    virtual bool setProperty(const std::wstring& name, const std::wstring& value, const TimeLimit& timeLimit) = 0;
    virtual PropertyResults setProperties(const PropertyValues& properties, const TimeLimit& timeLimit) = 0;

    // Volatile properties are kept by the service only until it restarts.
    virtual bool setVolatileProperty(const std::wstring& name, double value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned int value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned long long value,
                                     const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned long value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, long long value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, int value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, bool value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, const wchar_t* value, const TimeLimit& timeLimit) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, const std::wstring& value,
                                     const TimeLimit& timeLimit) = 0;
    virtual PropertyResults setVolatileProperties(const PropertyValues& properties, const TimeLimit& timeLimit) = 0;

    // Getters write the out value only when they answer true.
    virtual bool getProperty(const std::wstring& name, double& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned int& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned long long& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned long& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, long long& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, int& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, bool& value, const TimeLimit& timeLimit) = 0;
    virtual bool getProperty(const std::wstring& name, std::wstring& value, const TimeLimit& timeLimit) = 0;
    virtual PropertyResults getProperties(const Names& names, PropertyValues& values, const TimeLimit& timeLimit) = 0;
    virtual bool getPropertiesByPrefix(const Names& prefixes, PropertyValues& values, const TimeLimit& timeLimit) = 0;
    virtual bool getPropertiesByPrefix(const std::wstring& prefix, PropertyValues& values,
                                       const TimeLimit& timeLimit) = 0;

    virtual bool removeProperty(const std::wstring& name, const TimeLimit& timeLimit) = 0;
    virtual PropertyResults removeProperties(const Names& names, const TimeLimit& timeLimit) = 0;
    virtual PropertyResults removePropertiesByPrefix(const Names& prefixes, const TimeLimit& timeLimit) = 0;
    virtual PropertyResults removePropertiesByPrefix(const std::wstring& prefix, const TimeLimit& timeLimit) = 0;

    // Watches last as long as the client's bus; only the prefix forms can be undone.
    virtual bool watchPropertySet(const PropertyCallback& callback, const std::wstring& name) = 0;
    virtual bool watchPropertySet(const PropertyCallback& callback) = 0;
    virtual bool watchPrefixSet(const PropertyValueCallback& callback, const std::wstring& prefix) = 0;
    virtual bool unwatchPrefixSet(const std::wstring& prefix) = 0;
    virtual bool watchPrefixDelete(const PropertyCallback& callback, const std::wstring& prefix) = 0;
    virtual bool unwatchPrefixDelete(const std::wstring& prefix) = 0;
    virtual bool watchPropertyRemoved(const PropertyCallback& callback, const std::wstring& name) = 0;
    virtual bool watchPropertyRemoved(const PropertyCallback& callback) = 0;
};

} // namespace Orvik
