#include "module/BaseModule.h"

#include "Logging/Logger.h"

namespace Orvik {
namespace {
constexpr wchar_t kLogFile[] = L"BaseModule";
#define BASE_FUNCTION(name) L"Orvik::BaseModule::" name
}

// Every bus operation of the module goes to the bus handed to baseInitialize;
// before that (or after it failed) there is none, and the operation is refused.
template <typename Operation>
ModuleStatus BaseModule::forward(const wchar_t* function, Operation&& operation) const
{
    if (!messageBus_) {
        UM_LOG_ERROR(kLogFile, function, __LINE__, L"No message bus: the module is not initialized.");
        return MODULE_STATUS_INVALID_STATE;
    }
    return operation(*messageBus_);
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
    constexpr wchar_t kFunction[] = L"Orvik::BaseModule::baseInitialize";
    // Handlers of the first bus may be running and read these fields: a
    // module is bound to one bus for its whole life.
    if (messageBus_) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Module is already initialized.");
        return MODULE_STATUS_INVALID_STATE;
    }
    if (&moduleName != &moduleName_)
        moduleName_ = moduleName;
    if (&secondText != &secondText_)
        secondText_ = secondText;
    if (&properties != &properties_)
        properties_ = properties;

    if (!moduleManager) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Invalid module manager object passed to base initialize.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    moduleManager_ = moduleManager;

    if (!messageBus) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Invalid message bus object passed to base initialize.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    messageBus_ = messageBus;
    container_->registerInstance<MessageBus>(Basalt::defaultRegistrationName(), messageBus_);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus BaseModule::unload()
{
    constexpr wchar_t kFunction[] = L"Orvik::BaseModule::unload";
    if (!moduleManager_) {
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to unload module. No module manager.");
        return MODULE_STATUS_INVALID_STATE;
    }
    const ModuleStatus result = moduleManager_->unloadModule(moduleName_.c_str());
    if (result != MODULE_STATUS_SUCCESS)
        UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Failed to unload module. Error code: %lu.", result);
    return result;
}

ModuleStatus BaseModule::publish(const MessagePtr& message)
{
    return forward(BASE_FUNCTION(L"publish"), [&](MessageBus& bus) { return bus.publish(message); });
}

ModuleStatus BaseModule::publishEx(const MessagePtr& message)
{
    return forward(BASE_FUNCTION(L"publishEx"), [&](MessageBus& bus) { return bus.publishEx(message); });
}

ModuleStatus BaseModule::requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                                      const TimeLimit& timeLimit)
{
    return forward(BASE_FUNCTION(L"requestAsync"), [&](MessageBus& bus) { return bus.requestAsync(message, callback, timeLimit); });
}

ModuleStatus BaseModule::request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return forward(BASE_FUNCTION(L"request"), [&](MessageBus& bus) { return bus.request(message, reply, timeLimit); });
}

ModuleStatus BaseModule::requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                        const TimeLimit& timeLimit)
{
    return forward(BASE_FUNCTION(L"requestAsyncEx"), [&](MessageBus& bus) { return bus.requestAsyncEx(message, callback, timeLimit); });
}

ModuleStatus BaseModule::requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return forward(BASE_FUNCTION(L"requestEx"), [&](MessageBus& bus) { return bus.requestEx(message, reply, timeLimit); });
}

ModuleStatus BaseModule::subscribe(const std::wstring& name, const std::wstring& alias,
                                   const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribe"), [&](MessageBus& bus) { return bus.subscribe(name, alias, callback); });
}

ModuleStatus BaseModule::subscribe(const std::wstring& name, const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribe"), [&](MessageBus& bus) { return bus.subscribe(name, callback); });
}

ModuleStatus BaseModule::subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                              const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribeSameSession"), [&](MessageBus& bus) { return bus.subscribeSameSession(name, alias, callback); });
}

ModuleStatus BaseModule::subscribeSameSession(const std::wstring& name, const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribeSameSession"), [&](MessageBus& bus) { return bus.subscribeSameSession(name, callback); });
}

ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                         const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribeFilter"), [&](MessageBus& bus) { return bus.subscribeFilter(pattern, alias, callback); });
}

ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribeFilter"), [&](MessageBus& bus) { return bus.subscribeFilter(pattern, callback); });
}

ModuleStatus BaseModule::subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                                    const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribeFilterSameSession"), [&](MessageBus& bus) { return bus.subscribeFilterSameSession(pattern, alias, callback); });
}

ModuleStatus BaseModule::subscribeFilterSameSession(const std::wstring& pattern, const MessageCallback& callback)
{
    return forward(BASE_FUNCTION(L"subscribeFilterSameSession"), [&](MessageBus& bus) { return bus.subscribeFilterSameSession(pattern, callback); });
}

ModuleStatus BaseModule::unsubscribe(const std::wstring& alias)
{
    return forward(BASE_FUNCTION(L"unsubscribe"), [&](MessageBus& bus) { return bus.unsubscribe(alias); });
}

DirectDispatch* BaseModule::directDispatcher() noexcept
{
    return messageBus_ ? messageBus_->directDispatcher() : nullptr;
}

} // namespace Orvik
