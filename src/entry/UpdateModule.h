#pragma once
// Creation and destruction of the one module object behind a module handle.

#include "status/ModuleStatus.h"

namespace Orvik {

class Module;

// Builds the module's component container and the update module.
ModuleStatus createModule(Module** module);
// Deletes a module made by createModule.
void destroyModule(Module* module);

} // namespace Orvik
