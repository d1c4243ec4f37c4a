#include "message/MessageBusLib.h"

#include "Logging/Logger.h"
#include "message/MessageBusShimImpl.h"
#include "performance/PerfTimer.h"
#include "status/ModuleException.h"

namespace Orvik {
namespace {

UM_LOG_SOURCE(L"Orvik::MessageBusLib");

// Built before any entry point runs, so every bus client sees the same one.
const LibraryInfo g_messageBusLibrary{L"BusBroker.dll", {L"$(App.Folder)", L"$(Tessel.InstallDir)"}};

} // namespace

const LibraryInfo& messageBusLibraryInfo()
{
    return g_messageBusLibrary;
}

MessageBusLib::MessageBusLib(std::shared_ptr<SharedLibrary> library, std::shared_ptr<MessageBusShim> inner)
    : library_(std::move(library)), inner_(std::move(inner))
{
    const internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");
    if (!library_)
        library_ = std::make_shared<SharedLibrary>(g_messageBusLibrary);

    functions_ = static_cast<const MessageBusFunctions*>(
        library_->getLibraryFunctions()->createObject(kMessageBusInterfaceVersion));
    if (functions_ == nullptr) {
        logging::error(UM_HERE, L"Failed to get message bus functions object. Throwing ModuleException.");
        throw ModuleException("Failed to get message bus functions object");
    }
    const ModuleStatus status = functions_->open(&busHandle_);
    if (status.failed()) {
        logging::error(UM_HERE, L"Failed to get message bus handle. Error code: %ls(%lu). Throwing ModuleException.",
                     getStatusName(status), status);
        throw ModuleException("Failed to get message bus handle");
    }
    // From here the handle is ours: close it again if the inner shim cannot be made.
    try {
        if (!inner_)
            inner_ = std::make_shared<MessageBusShimImpl>(busHandle_, functions_);
    } catch (...) {
        logging::error(UM_HERE, L"Failed to create the message bus shim. Releasing the message bus.");
        functions_->close(busHandle_);
        throw;
    }
}

MessageBusLib::~MessageBusLib()
{
    // The inner shim cancels this module's requests as it goes.
    inner_.reset();
    ModuleStatus status = MODULE_STATUS_SUCCESS;
    try {
        status = functions_->close(busHandle_);
    } catch (...) {
        // Reported below with the status it stands for.
        status = MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
    if (status.failed())
        logging::warning(UM_HERE, L"Failed to release message bus. Error code %ls(%lu).", getStatusName(status), status);
    library_.reset();
}

ModuleStatus MessageBusLib::publish(const MessagePtr& message, bool extended)
{
    return inner_->publish(message, extended);
}

ModuleStatus MessageBusLib::request(const MessagePtr& message, std::uint64_t replyIndex, void* context,
                                    std::int64_t timeLimitMs, bool extended)
{
    return inner_->request(message, replyIndex, context, timeLimitMs, extended);
}

void MessageBusLib::cancelRequests()
{
    inner_->cancelRequests();
}

std::uint32_t MessageBusLib::subscribe(const std::wstring& name, void* context)
{
    return inner_->subscribe(name, context);
}

std::uint32_t MessageBusLib::subscribeFilter(const std::wstring& pattern, void* context)
{
    return inner_->subscribeFilter(pattern, context);
}

ModuleStatus MessageBusLib::unsubscribe(std::uint32_t subscriptionId)
{
    return inner_->unsubscribe(subscriptionId);
}

} // namespace Orvik
