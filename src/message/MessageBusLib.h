#pragma once
// Binds the module to the bus service when the host has handed over no bus:
// loads BusBroker.dll (from the host's folder, else the framework's install
// folder), takes its bus functions, opens a bus handle and serves the bus
// client through a MessageBusShimImpl over them. Destruction drops the inner
// shim (which cancels outstanding requests), closes the handle and releases
// the library, in that order.

#include "dll/SharedLibrary.h"
#include "message/MessageBusFunctions.h"
#include "message/MessageBusShim.h"

#include <memory>

namespace Orvik {

// Where the bus service library is looked for.
const LibraryInfo& messageBusLibraryInfo();

class MessageBusLib : public MessageBusShim {
public:
    // Either may be empty: the library is then loaded from the descriptor
    // above, and the inner shim made over the opened handle. Throws
    // ModuleException when the library cannot be loaded, gives no bus
    // functions or refuses to open a handle.
    explicit MessageBusLib(std::shared_ptr<SharedLibrary> library = {}, std::shared_ptr<MessageBusShim> inner = {});
    ~MessageBusLib() override;
    MessageBusLib(const MessageBusLib&) = delete;
    MessageBusLib& operator=(const MessageBusLib&) = delete;

    ModuleStatus publish(const MessagePtr& message, bool extended) override;
    ModuleStatus request(const MessagePtr& message, std::uint64_t replyIndex, void* context,
                         std::int64_t timeLimitMs, bool extended) override;
    void cancelRequests() override;
    std::uint32_t subscribe(const std::wstring& name, void* context) override;
    std::uint32_t subscribeFilter(const std::wstring& pattern, void* context) override;
    ModuleStatus unsubscribe(std::uint32_t subscriptionId) override;

private:
    std::shared_ptr<SharedLibrary> library_;
    std::shared_ptr<MessageBusShim> inner_;
    void* busHandle_ = nullptr;
    const MessageBusFunctions* functions_ = nullptr;
};

} // namespace Orvik
