#pragma once

#include "status/ModuleStatus.h"

namespace Orvik {

// What the entry table drives: one module instance.
class Module {
public:
    virtual ~Module() = default;
    virtual ModuleStatus initialize() = 0;
    virtual ModuleStatus start() = 0;
    virtual ModuleStatus stop() = 0;
    virtual ModuleStatus uninitialize() = 0;
};

} // namespace Orvik
