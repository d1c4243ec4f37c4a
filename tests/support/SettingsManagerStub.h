#pragma once
// A settings manager that refuses everything; fakes override what a test needs.

#include "settings/SettingsManager.h"

namespace testsupport {

class SettingsManagerStub : public Orvik::SettingsManager {
public:
    bool setProperty(const std::wstring&, double, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, unsigned int, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, unsigned long long, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, unsigned long, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, long long, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, int, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, bool, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, const wchar_t*, const TimeLimit&) override { return false; }
    bool setProperty(const std::wstring&, const std::wstring&, const TimeLimit&) override { return false; }
    PropertyResults setProperties(const PropertyValues&, const TimeLimit&) override { return {}; }
    bool setVolatileProperty(const std::wstring&, double, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, unsigned int, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, unsigned long long, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, unsigned long, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, long long, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, int, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, bool, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, const wchar_t*, const TimeLimit&) override { return false; }
    bool setVolatileProperty(const std::wstring&, const std::wstring&, const TimeLimit&) override { return false; }
    PropertyResults setVolatileProperties(const PropertyValues&, const TimeLimit&) override { return {}; }
    bool getProperty(const std::wstring&, double&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, unsigned int&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, unsigned long long&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, unsigned long&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, long long&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, int&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, bool&, const TimeLimit&) override { return false; }
    bool getProperty(const std::wstring&, std::wstring&, const TimeLimit&) override { return false; }
    PropertyResults getProperties(const Names&, PropertyValues&, const TimeLimit&) override { return {}; }
    bool getPropertiesByPrefix(const Names&, PropertyValues&, const TimeLimit&) override { return false; }
    bool getPropertiesByPrefix(const std::wstring&, PropertyValues&, const TimeLimit&) override { return false; }
    bool removeProperty(const std::wstring&, const TimeLimit&) override { return false; }
    PropertyResults removeProperties(const Names&, const TimeLimit&) override { return {}; }
    PropertyResults removePropertiesByPrefix(const Names&, const TimeLimit&) override { return {}; }
    PropertyResults removePropertiesByPrefix(const std::wstring&, const TimeLimit&) override { return {}; }
    bool watchPropertySet(const PropertyCallback&, const std::wstring&) override { return false; }
    bool watchPropertySet(const PropertyCallback&) override { return false; }
    bool watchPrefixSet(const PropertyValueCallback&, const std::wstring&) override { return false; }
    bool unwatchPrefixSet(const std::wstring&) override { return false; }
    bool watchPrefixDelete(const PropertyCallback&, const std::wstring&) override { return false; }
    bool unwatchPrefixDelete(const std::wstring&) override { return false; }
    bool watchPropertyRemoved(const PropertyCallback&, const std::wstring&) override { return false; }
    bool watchPropertyRemoved(const PropertyCallback&) override { return false; }
};

} // namespace testsupport
