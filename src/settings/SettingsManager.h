#pragma once
// The settings service as the module sees it.

#include <chrono>
#include <functional>
#include <string>

namespace Orvik {

class SettingsManager {
public:
    // Called with the name of a watched property that changed.
    using PropertyCallback = std::function<void(const std::wstring& propertyName)>;

    virtual ~SettingsManager() = default;

    // Reads a property's value text; false when it could not be read in time.
    virtual bool getProperty(const std::wstring& name, std::wstring& value,
                             const std::chrono::milliseconds& timeLimit) = 0;
    // Calls `callback` whenever the named property is set; false when refused.
    virtual bool watchPropertySet(const PropertyCallback& callback, const std::wstring& name) = 0;
};

} // namespace Orvik
