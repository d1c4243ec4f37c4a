#pragma once
// The shim a default-constructed bus client uses: one that binds the bus
// service library itself.

#include "message/MessageBusShim.h"

#include <memory>

namespace Orvik {
namespace internal {

// Throws ModuleException (after logging why) when no bus can be bound.
std::shared_ptr<MessageBusShim> createDefaultMessageBusShim();

} // namespace internal
} // namespace Orvik
