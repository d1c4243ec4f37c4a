#pragma once
// The settings client: every property operation is a request to the settings
// service over the bus, and every watch a bus subscription.

#include "settings/SettingsManager.h"

#include <memory>

namespace Orvik {

class MessageBus;

class SettingsManagerClient : public SettingsManager {
public:
    // A client with a bus client of its own; empty when it cannot be made
    // (the reason is logged). Never throws.
    static std::unique_ptr<SettingsManagerClient> getInstance() noexcept;

    // An empty bus means a default bus client of the client's own, which binds
    // the bus service library; that throws ModuleException when it cannot.
    explicit SettingsManagerClient(std::shared_ptr<MessageBus> bus);
    ~SettingsManagerClient() override;

    SettingsManagerClient(const SettingsManagerClient&) = delete;
    SettingsManagerClient& operator=(const SettingsManagerClient&) = delete;

    bool setProperty(const std::wstring& name, double value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, unsigned int value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, unsigned long long value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, unsigned long value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, long long value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, int value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, bool value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, const wchar_t* value, const TimeLimit& timeLimit) override;
    bool setProperty(const std::wstring& name, const std::wstring& value, const TimeLimit& timeLimit) override;
    PropertyResults setProperties(const PropertyValues& properties, const TimeLimit& timeLimit) override;

    bool setVolatileProperty(const std::wstring& name, double value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, unsigned int value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, unsigned long long value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, unsigned long value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, long long value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, int value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, bool value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, const wchar_t* value, const TimeLimit& timeLimit) override;
    bool setVolatileProperty(const std::wstring& name, const std::wstring& value, const TimeLimit& timeLimit) override;
    PropertyResults setVolatileProperties(const PropertyValues& properties, const TimeLimit& timeLimit) override;

    bool getProperty(const std::wstring& name, double& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, unsigned int& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, unsigned long long& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, unsigned long& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, long long& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, int& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, bool& value, const TimeLimit& timeLimit) override;
    bool getProperty(const std::wstring& name, std::wstring& value, const TimeLimit& timeLimit) override;
    PropertyResults getProperties(const Names& names, PropertyValues& values, const TimeLimit& timeLimit) override;
    bool getPropertiesByPrefix(const Names& prefixes, PropertyValues& values, const TimeLimit& timeLimit) override;
    bool getPropertiesByPrefix(const std::wstring& prefix, PropertyValues& values, const TimeLimit& timeLimit) override;

    bool removeProperty(const std::wstring& name, const TimeLimit& timeLimit) override;
    PropertyResults removeProperties(const Names& names, const TimeLimit& timeLimit) override;
    PropertyResults removePropertiesByPrefix(const Names& prefixes, const TimeLimit& timeLimit) override;
    PropertyResults removePropertiesByPrefix(const std::wstring& prefix, const TimeLimit& timeLimit) override;

    bool watchPropertySet(const PropertyCallback& callback, const std::wstring& name) override;
    bool watchPropertySet(const PropertyCallback& callback) override;
    bool watchPrefixSet(const PropertyValueCallback& callback, const std::wstring& prefix) override;
    bool unwatchPrefixSet(const std::wstring& prefix) override;
    bool watchPrefixDelete(const PropertyCallback& callback, const std::wstring& prefix) override;
    bool unwatchPrefixDelete(const std::wstring& prefix) override;
    bool watchPropertyRemoved(const PropertyCallback& callback, const std::wstring& name) override;
    bool watchPropertyRemoved(const PropertyCallback& callback) override;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace Orvik
