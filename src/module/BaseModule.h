#pragma once
// The framework's base for concrete modules: keeps what the host hands over,
// exposes the message bus on the module itself and routes direct messages.

#include "ioc/IOCContainer.h"
#include "message/MessageBus.h"
#include "module/Module.h"
#include "module/ModuleManagerShim.h"
#include "win/SrwLock.h"

#include <memory>
#include <string>
#include <unordered_map>

namespace Orvik {

using PropertyMap = std::unordered_map<std::wstring, std::wstring>;

class BaseModule : public Module, public MessageBus {
public:
    explicit BaseModule(std::shared_ptr<Basalt::IOCContainer> container);
    ~BaseModule() override;

    ModuleStatus initialize() override { return MODULE_STATUS_SUCCESS; }
    ModuleStatus start() override { return MODULE_STATUS_SUCCESS; }
    ModuleStatus stop() override { return MODULE_STATUS_SUCCESS; }
    ModuleStatus uninitialize() override { return MODULE_STATUS_SUCCESS; }

    virtual ModuleStatus baseInitialize(const std::wstring& moduleName, const std::wstring& secondText,
                                        const PropertyMap& properties,
                                        const std::shared_ptr<internal::ModuleManagerShim>& moduleManager,
                                        const std::shared_ptr<MessageBus>& messageBus);

    // Ends the initialisation begun by baseInitialize: the module may be
    // initialised again, with another bus. The bus stays held until then, so
    // handlers still finishing on it keep working.
    void endInitialization();

    // A message the host delivered directly goes to the local subscribers.
    ModuleStatus directMessage(const MessagePtr& message);
    // Asks the host to unload this module.
    ModuleStatus unload();

    // The bus operations forward to the bus handed to baseInitialize and
    // answer MODULE_STATUS_INVALID_STATE while there is none.
    ModuleStatus publish(const MessagePtr& message) override;
    ModuleStatus publishEx(const MessagePtr& message) override;
    ModuleStatus requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                              const TimeLimit& timeLimit) override;
    ModuleStatus request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit) override;
    ModuleStatus requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                const TimeLimit& timeLimit) override;
    ModuleStatus requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit) override;
    ModuleStatus subscribe(const std::wstring& name, const std::wstring& alias,
                           const MessageCallback& callback) override;
    ModuleStatus subscribe(const std::wstring& name, const MessageCallback& callback) override;
    ModuleStatus subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                      const MessageCallback& callback) override;
    ModuleStatus subscribeSameSession(const std::wstring& name, const MessageCallback& callback) override;
    ModuleStatus subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                 const MessageCallback& callback) override;
    ModuleStatus subscribeFilter(const std::wstring& pattern, const MessageCallback& callback) override;
    ModuleStatus subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                            const MessageCallback& callback) override;
    ModuleStatus subscribeFilterSameSession(const std::wstring& pattern, const MessageCallback& callback) override;
    ModuleStatus unsubscribe(const std::wstring& alias) override;
    DirectDispatch* directDispatcher() noexcept override;

    // Copies: a new initialisation may replace the fields while handlers of
    // the previous bus still read them.
    const std::shared_ptr<Basalt::IOCContainer>& container() const { return container_; }
    std::wstring moduleName() const;
    std::wstring secondText() const;
    PropertyMap properties() const;
    std::shared_ptr<internal::ModuleManagerShim> moduleManager() const;
    std::shared_ptr<MessageBus> messageBus() const;

private:
    // A refusal is logged under the member `caller`.
    template <typename Operation>
    ModuleStatus forward(const char* caller, Operation&& operation) const;

    // Released in reverse order of declaration: the bus first, the container last.
    std::shared_ptr<Basalt::IOCContainer> container_;
    // Guards the fields below: written by (re)initialisation, read by handlers.
    mutable win::SrwLock fieldsLock_;
    bool initialized_ = false;
    std::wstring moduleName_;
    std::wstring secondText_;
    PropertyMap properties_;
    std::shared_ptr<internal::ModuleManagerShim> moduleManager_;
    std::shared_ptr<MessageBus> messageBus_;
};

} // namespace Orvik
