#pragma once

#include "status/ModuleStatus.h"

#include <cstdint>

namespace Orvik {

// The host's module-manager callback: (context, module name, 0) -> status.
using ModuleManagerCallback = std::uint32_t (*)(void* context, const wchar_t* moduleName, std::uint32_t request);

namespace internal {

// Turns the host's module-manager callback into the object the base module asks.
class ModuleManagerShim {
public:
    ModuleManagerShim(void* hostContext, ModuleManagerCallback hostCallback)
        : hostContext_(hostContext), hostCallback_(hostCallback)
    {
    }
    virtual ~ModuleManagerShim() = default;

    // Asks the host to unload the named module; the host's answer is returned unchanged.
    virtual ModuleStatus unloadModule(const wchar_t* moduleName);

private:
    void* hostContext_;
    ModuleManagerCallback hostCallback_;
};

} // namespace internal
} // namespace Orvik
