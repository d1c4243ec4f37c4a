#pragma once
// The settings service as the module sees it.

namespace Orvik {

class SettingsManager {
public:
    virtual ~SettingsManager() = default;
};

} // namespace Orvik
