#pragma once
// The pieces of the entry functions that need the message bus client.

#include "message/MessageBus.h"
#include "status/ModuleStatus.h"

#include <memory>

namespace Orvik {

class BaseModule;
struct MessageBusFunctions;

namespace internal {

// InitializeModule: a bus client that loads the bus service library itself.
std::shared_ptr<MessageBus> createDefaultBusClient();

// InitializeModuleV2: a bus client over the host's bus handle and function table.
// Throws ModuleException when either is missing.
std::shared_ptr<MessageBus> createHostBusClient(void* busHandle, const MessageBusFunctions* functions);

// DirectMessage: builds the message from the host's texts and header and hands
// it to the module's bus client.
ModuleStatus deliverDirectMessage(BaseModule& module, const void* header, const wchar_t* name,
                                  const wchar_t* sender, const wchar_t* payload);

} // namespace internal
} // namespace Orvik
