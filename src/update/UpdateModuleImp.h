#pragma once
// The update service module.

#include "module/BaseModule.h"

namespace Orvik {

class UpdateModuleImp : public BaseModule {
public:
    explicit UpdateModuleImp(std::shared_ptr<Basalt::IOCContainer> container);
};

} // namespace Orvik
