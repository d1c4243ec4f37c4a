#include "update/UpdateModuleImp.h"

namespace Orvik {

UpdateModuleImp::UpdateModuleImp(std::shared_ptr<Basalt::IOCContainer> container)
    : BaseModule(std::move(container))
{
}

} // namespace Orvik
