#pragma once
// The update service module: answers the six update requests on the bus,
// follows the update results setting and asks to be unloaded when idle.

#include "module/BaseModule.h"
#include "win/CallbackGate.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Orvik {

class JSONParser;
class SettingsManager;
class ZuUpdateAgentHandle;

class UpdateModuleImp : public BaseModule {
public:
    explicit UpdateModuleImp(std::shared_ptr<Basalt::IOCContainer> container);
    ~UpdateModuleImp() override;

    ModuleStatus initialize() override;
    ModuleStatus start() override;
    ModuleStatus uninitialize() override;

    ModuleStatus CallbackRefreshState(const MessagePtr& request);
    ModuleStatus CallbackChangeState(const MessagePtr& request);
    ModuleStatus CallbackPersonalize(const MessagePtr& request);
    ModuleStatus CallbackRunUpdate(const MessagePtr& request);
    ModuleStatus CallbackUpdateProgress(const MessagePtr& request);
    ModuleStatus CallbackRefreshUpdateProgress(const MessagePtr& request);

    ModuleStatus PublishUpdateSettingState(std::uint32_t option);
    ModuleStatus onPropertyUpdateResults(const std::wstring& propertyName);
    ModuleStatus HandleUnload(ModuleStatus status);

    // What a refresh would publish now, and whether an update blocks unloading.
    std::uint64_t latestTimestamp() const;
    std::wstring latestProgress() const;
    bool updateInProgress() const { return updateInProgress_.load(); }

private:
    // Subscribes `name` so that each delivery runs `handler` and then HandleUnload.
    ModuleStatus subscribeRequest(const wchar_t* name, MessageCallback handler);
    // The frame the four agent handlers share: COM, a fresh agent handle, then
    // `step` (ZuUpdateAgentHandle&) -> ModuleStatus on that handle. Its records
    // name the handler `handlerName`.
    template <typename AgentStep>
    ModuleStatus runAgentRequest(const char* handlerName, AgentStep&& step);
    // The sender name the module's own publications carry.
    std::wstring senderName() const;
    // Logs a failure under the member `caller`.
    ModuleStatus publishText(const wchar_t* name, const std::wstring& payload, const char* caller);
    void setLatest(std::uint64_t timestamp, std::wstring progress);
    // Reads the "timestamp" member; logs and answers MODULE_STATUS_INVALID_PARAMETER when it is unusable.
    // The record names the member `caller`.
    static ModuleStatus readTimestamp(const JSONParser& payload, std::uint64_t& timestamp, const char* caller);

    mutable std::mutex latestLock_;
    std::uint64_t latestTimestamp_ = 0;
    std::wstring latestProgress_;
    std::shared_ptr<SettingsManager> settingsManager_;
    // The settings watch outlives this object (it lives as long as the
    // settings client's bus): its callback reaches the module through here.
    win::CallbackGate settingsGate_;
    std::atomic<bool> updateInProgress_{false};
    // The six requests may still be subscribed (initialised, not yet fully uninitialised).
    std::atomic<bool> requestsSubscribed_{false};
};

} // namespace Orvik
