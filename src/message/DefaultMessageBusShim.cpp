#include "message/DefaultMessageBusShim.h"

#include "Logging/Logger.h"
#include "status/ModuleException.h"

namespace Orvik {
namespace internal {

// Binding the bus service library on our own needs the library loader, which
// this build does not have yet: refuse plainly rather than pretend.
std::shared_ptr<MessageBusShim> createDefaultMessageBusShim()
{
    UM_LOG_ERROR(L"MessageBusClient", L"Orvik::MessageBusClient::MessageBusClient", __LINE__,
                 L"Message bus library loader is not available. Throwing ModuleException.");
    throw ModuleException("Message bus library loader is not available");
}

} // namespace internal
} // namespace Orvik
