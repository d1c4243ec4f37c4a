#include "module/BaseModule.h"

#include "Logging/Logger.h"

namespace Orvik {
namespace {
constexpr wchar_t kLogFile[] = L"BaseModule";
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

ModuleStatus BaseModule::publish(const MessagePtr& message) { return messageBus_->publish(message); }
ModuleStatus BaseModule::publishEx(const MessagePtr& message) { return messageBus_->publishEx(message); }

ModuleStatus BaseModule::requestAsync(const MessagePtr& message, const ReplyCallback& callback,
                                      const TimeLimit& timeLimit)
{
    return messageBus_->requestAsync(message, callback, timeLimit);
}

ModuleStatus BaseModule::request(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return messageBus_->request(message, reply, timeLimit);
}

ModuleStatus BaseModule::requestAsyncEx(const MessagePtr& message, const ReplyCallback& callback,
                                        const TimeLimit& timeLimit)
{
    return messageBus_->requestAsyncEx(message, callback, timeLimit);
}

ModuleStatus BaseModule::requestEx(const MessagePtr& message, ReplyPtr& reply, const TimeLimit& timeLimit)
{
    return messageBus_->requestEx(message, reply, timeLimit);
}

ModuleStatus BaseModule::subscribe(const std::wstring& name, const std::wstring& alias,
                                   const MessageCallback& callback)
{
    return messageBus_->subscribe(name, alias, callback);
}

ModuleStatus BaseModule::subscribe(const std::wstring& name, const MessageCallback& callback)
{
    return messageBus_->subscribe(name, callback);
}

ModuleStatus BaseModule::subscribeSameSession(const std::wstring& name, const std::wstring& alias,
                                              const MessageCallback& callback)
{
    return messageBus_->subscribeSameSession(name, alias, callback);
}

ModuleStatus BaseModule::subscribeSameSession(const std::wstring& name, const MessageCallback& callback)
{
    return messageBus_->subscribeSameSession(name, callback);
}

ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                         const MessageCallback& callback)
{
    return messageBus_->subscribeFilter(pattern, alias, callback);
}

ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const MessageCallback& callback)
{
    return messageBus_->subscribeFilter(pattern, callback);
}

ModuleStatus BaseModule::subscribeFilterSameSession(const std::wstring& pattern, const std::wstring& alias,
                                                    const MessageCallback& callback)
{
    return messageBus_->subscribeFilterSameSession(pattern, alias, callback);
}

ModuleStatus BaseModule::subscribeFilterSameSession(const std::wstring& pattern, const MessageCallback& callback)
{
    return messageBus_->subscribeFilterSameSession(pattern, callback);
}

ModuleStatus BaseModule::unsubscribe(const std::wstring& alias) { return messageBus_->unsubscribe(alias); }

} // namespace Orvik
