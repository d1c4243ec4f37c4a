#include "module/BaseModule.h"

#include "Logging/Logger.h"

#include <utility>

namespace Orvik {
namespace {
UM_LOG_SOURCE(L"Orvik::BaseModule");
}

// Every bus operation of the module goes to the bus handed to baseInitialize;
// before that (or after it failed) there is none, and the operation is refused.
template <typename Operation>
ModuleStatus BaseModule::forward(const char* caller, Operation&& operation) const
{
    // The call runs on a copy: a new initialisation may replace the bus meanwhile.
    const std::shared_ptr<MessageBus> bus = messageBus();
    if (!bus)
        return logging::fail(MODULE_STATUS_INVALID_STATE, UM_HERE_AS(caller),
                             L"No message bus: the module is not initialized.");
    return operation(*bus);
}

BaseModule::BaseModule(std::shared_ptr<Basalt::IOCContainer> container)
    : container_(container ? std::move(container) : std::make_shared<Basalt::IOCContainer>())
{
}

BaseModule::~BaseModule() = default;

ModuleStatus BaseModule::baseInitialize(const std::wstring& moduleName, const std::wstring& secondText,
                                        const PropertyMap& properties,
                                        const std::shared_ptr<internal::ModuleManagerShim>& moduleManager,
                                        const std::shared_ptr<MessageBus>& messageBus)
{
    // The bus this replaces goes after the lock is let go: its release waits
    // for its callbacks in flight, and those read the fields.
    std::shared_ptr<MessageBus> previousBus;
    {
        win::ExclusiveGuard guard(fieldsLock_);
        // Handlers of the current bus may be running: a module takes another
        // bus only after it was uninitialised.
        if (initialized_) {
            guard.unlock();
            return logging::fail(MODULE_STATUS_INVALID_STATE, UM_HERE, L"Module is already initialized.");
        }
        if (&moduleName != &moduleName_)
            moduleName_ = moduleName;
        if (&secondText != &secondText_)
            secondText_ = secondText;
        if (&properties != &properties_)
            properties_ = properties;

        // A missing bus still leaves the module manager stored.
        if (moduleManager)
            moduleManager_ = moduleManager;
        if (moduleManager && messageBus) {
            previousBus = std::exchange(messageBus_, messageBus);
            initialized_ = true;
        }
    }
    if (!moduleManager)
        return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                             L"Invalid module manager object passed to base initialize.");
    if (!messageBus)
        return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                             L"Invalid message bus object passed to base initialize.");
    container_->registerInstance<MessageBus>(Basalt::defaultRegistrationName(), messageBus);
    return MODULE_STATUS_SUCCESS;
}

void BaseModule::endInitialization()
{
    win::ExclusiveGuard guard(fieldsLock_);
    initialized_ = false;
}

std::wstring BaseModule::moduleName() const
{
    win::SharedGuard guard(fieldsLock_);
    return moduleName_;
}

std::wstring BaseModule::secondText() const
{
    win::SharedGuard guard(fieldsLock_);
    return secondText_;
}

PropertyMap BaseModule::properties() const
{
    win::SharedGuard guard(fieldsLock_);
    return properties_;
}

std::shared_ptr<internal::ModuleManagerShim> BaseModule::moduleManager() const
{
    win::SharedGuard guard(fieldsLock_);
    return moduleManager_;
}

std::shared_ptr<MessageBus> BaseModule::messageBus() const
{
    win::SharedGuard guard(fieldsLock_);
    return messageBus_;
}

ModuleStatus BaseModule::unload()
{
    const std::shared_ptr<internal::ModuleManagerShim> manager = moduleManager();
    if (!manager)
        return logging::fail(MODULE_STATUS_INVALID_STATE, UM_HERE, L"Failed to unload module. No module manager.");
    const ModuleStatus result = manager->unloadModule(moduleName().c_str());
    if (result.failed())
        logging::error(UM_HERE, L"Failed to unload module. Error code: %lu.", result);
    return result;
}

ModuleStatus BaseModule::publish(const MessagePtr& message)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.publish(message); });
}

ModuleStatus BaseModule::publishEx(const MessagePtr& message)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.publishEx(message); });
}

ModuleStatus BaseModule::requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                                      const TimeLimit& timeLimit)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.requestAsync(message, callback, timeLimit); });
}

ModuleStatus BaseModule::request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.request(message, reply, timeLimit); });
}

ModuleStatus BaseModule::requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                        const TimeLimit& timeLimit)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.requestAsyncEx(message, callback, timeLimit); });
}

ModuleStatus BaseModule::requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.requestEx(message, reply, timeLimit); });
}

ModuleStatus BaseModule::subscribe(const std::wstring& name, const std::wstring& alias,
                                   const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribe(name, alias, callback); });
}

ModuleStatus BaseModule::subscribe(const std::wstring& name, const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribe(name, callback); });
}

ModuleStatus BaseModule::subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                              const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribeSameSession(name, alias, callback); });
}

ModuleStatus BaseModule::subscribeSameSession(const std::wstring& name, const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribeSameSession(name, callback); });
}

ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                         const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribeFilter(pattern, alias, callback); });
}

ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribeFilter(pattern, callback); });
}

ModuleStatus BaseModule::subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                                    const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribeFilterSameSession(pattern, alias, callback); });
}

ModuleStatus BaseModule::subscribeFilterSameSession(const std::wstring& pattern, const MessageCallback& callback)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.subscribeFilterSameSession(pattern, callback); });
}

ModuleStatus BaseModule::unsubscribe(const std::wstring& alias)
{
    return forward(__func__, [&](MessageBus& bus) { return bus.unsubscribe(alias); });
}

DirectDispatch* BaseModule::directDispatcher() noexcept
{
    // The dispatcher belongs to the bus, which stays held until the module
    // is initialised again or destroyed.
    win::SharedGuard guard(fieldsLock_);
    return messageBus_ ? messageBus_->directDispatcher() : nullptr;
}

} // namespace Orvik
