#include "module/ModuleBusBinding.h"

#include "Logging/Logger.h"
#include "module/BaseModule.h"
#include "module/ModuleException.h"

// Interim: the message bus client is not part of the library yet, so every
// bus-dependent entry refuses with a clear reason.

namespace Orvik {
namespace internal {
namespace {
constexpr char kNoBus[] = "Message bus client is not available in this build";
}

std::shared_ptr<MessageBus> createDefaultBusClient()
{
    UM_LOG_ERROR(L"ModuleFunctions", L"Orvik::internal::createDefaultBusClient", __LINE__,
                 L"%hs. Throwing ModuleException.", kNoBus);
    throw ModuleException(kNoBus);
}

std::shared_ptr<MessageBus> createHostBusClient(void* busHandle, const MessageBusFunctions* functions)
{
    UM_LOG_ERROR(L"ModuleFunctions", L"Orvik::internal::createHostBusClient", __LINE__,
                 L"%hs. Throwing ModuleException.", kNoBus);
    throw ModuleException(kNoBus);
}

ModuleStatus deliverDirectMessage(BaseModule&, const void*, const wchar_t*, const wchar_t*, const wchar_t*)
{
    return MODULE_STATUS_NOT_IMPLEMENTED;
}

} // namespace internal
} // namespace Orvik
