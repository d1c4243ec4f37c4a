#include "module/ModuleManagerShim.h"

namespace Orvik {
namespace internal {

ModuleStatus ModuleManagerShim::unloadModule(const wchar_t* moduleName)
{
    // A shim without a callback cannot reach the host; refuse rather than crash.
    if (hostCallback_ == nullptr)
        return MODULE_STATUS_INVALID_STATE;
    return hostCallback_(hostContext_, moduleName, 0);
}

} // namespace internal
} // namespace Orvik
