#include "update/UpdateModuleImp.h"

#include "Logging/Logger.h"
#include "json/JSONParser.h"
#include "message/Message.h"
#include "settings/SettingsManager.h"
#include "update/ZuUpdateAgentHandle.h"
#include "win/ComApartment.h"

#include <windows.h>

#include <chrono>
#include <utility>

namespace Orvik {
namespace {

UM_LOG_SOURCE(L"Orvik::UpdateModuleImp");

constexpr wchar_t kRefreshState[] = L"Core.Update.RefreshState";
constexpr wchar_t kChangeState[] = L"Core.Update.ChangeState";
constexpr wchar_t kPersonalize[] = L"Core.Update.Personalize";
constexpr wchar_t kRunUpdate[] = L"Core.Update.RunUpdate";
constexpr wchar_t kUpdateProgress[] = L"Core.Update.UpdateProgress";
constexpr wchar_t kRefreshUpdateProgress[] = L"Core.Update.RefreshUpdateProgress";
constexpr wchar_t kState[] = L"Core.Update.State";
constexpr wchar_t kUpdateResults[] = L"Core.Update.UpdateResults";
constexpr wchar_t kProgressSender[] = L"UpdateMsgrBridge";
constexpr wchar_t kTimestamp[] = L"timestamp";
constexpr wchar_t kStatus[] = L"status";
constexpr wchar_t kNoAction[] = L"no_action";
constexpr std::chrono::milliseconds kSettingsTimeLimit{5000};
// The order the subscriptions are dropped in.
constexpr const wchar_t* kRequestAliases[] = {kChangeState, kRefreshState, kRefreshUpdateProgress,
                                              kPersonalize, kRunUpdate,    kUpdateProgress};

// Milliseconds since 1970-01-01 UTC from the system clock's 100 ns ticks.
std::uint64_t currentTimeMilliseconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr std::uint64_t kTicksFrom1601To1970 = 116444736000000000ull;
    return (ticks - kTicksFrom1601To1970) / 10000;
}

// {"timestamp":<t>,"status":"no_action"}
std::wstring noActionProgress(std::uint64_t timestamp)
{
    JSONParser progress;
    progress.setUInt64(kTimestamp, timestamp);
    progress.setString(kStatus, kNoAction);
    return progress.toString();
}

} // namespace

UpdateModuleImp::UpdateModuleImp(std::shared_ptr<Basalt::IOCContainer> container)
    : BaseModule(std::move(container))
{
}

UpdateModuleImp::~UpdateModuleImp()
{
    // A settings notification already running finishes first; later ones
    // find the gate closed and do nothing.
    settingsGate_.close();
    // The handlers use this object. A host that destroys the module without
    // uninitialising it first would otherwise leave the bus free to run one
    // on a half-destroyed module: drop the subscriptions here, which also
    // waits for handlers already running on other threads.
    // Only what uninitialisation left behind: the aliases are gone otherwise.
    const std::shared_ptr<MessageBus> bus = messageBus();
    if (bus && requestsSubscribed_.exchange(false)) {
        for (const wchar_t* alias : kRequestAliases) {
            if (const ModuleStatus status = bus->unsubscribe(alias); status.failed())
                logging::warning(UM_HERE, L"Unsubscription to '%s' failed. Status: 0x%08X", alias, status);
        }
    }
}

ModuleStatus UpdateModuleImp::initialize()
{
    requestsSubscribed_.store(true);
    const std::pair<const wchar_t*, MessageCallback> requests[] = {
        {kRefreshState, [this](const MessagePtr& request) { return CallbackRefreshState(request); }},
        {kChangeState, [this](const MessagePtr& request) { return CallbackChangeState(request); }},
        {kPersonalize, [this](const MessagePtr& request) { return CallbackPersonalize(request); }},
        {kRunUpdate, [this](const MessagePtr& request) { return CallbackRunUpdate(request); }},
        {kUpdateProgress, [this](const MessagePtr& request) { return CallbackUpdateProgress(request); }},
        {kRefreshUpdateProgress,
         [this](const MessagePtr& request) { return CallbackRefreshUpdateProgress(request); }},
    };
    for (const auto& [name, handler] : requests) {
        if (const ModuleStatus status = subscribeRequest(name, handler); status.failed())
            return status;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus UpdateModuleImp::subscribeRequest(const wchar_t* name, MessageCallback handler)
{
    const ModuleStatus status = subscribe(name, [this, handler = std::move(handler)](const MessagePtr& request) {
        return HandleUnload(handler(request));
    });
    if (status.failed())
        return logging::fail(status, UM_HERE_AS("initialize"), L"Subscription to '%s' failed. Status: 0x%08X", name,
                             status);
    logging::normal(UM_HERE_AS("initialize"), L"Subscribed to '%s' successfully", name);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus UpdateModuleImp::start()
{
    std::shared_ptr<SettingsManager> resolved;
    try {
        resolved = container()->resolve<SettingsManager>();
    } catch (...) {
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error getting the settings Mgr");
    }
    if (!resolved)
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error getting the settings Mgr");
    // A host that starts the module again must not swap the pointer under a
    // watch callback of the first start that is reading it; the container
    // hands out the same client anyway.
    if (!settingsManager_)
        settingsManager_ = std::move(resolved);
    const bool watching = settingsManager_->watchPropertySet(
        [this, pass = settingsGate_.pass()](const std::wstring& propertyName) {
            // Its failures are logged where they happen.
            pass.run([&] { static_cast<void>(onPropertyUpdateResults(propertyName)); });
        },
        kUpdateResults);
    if (!watching)
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error susbscribing for setting.");
    if (onPropertyUpdateResults(kUpdateResults).failed()) {
        setLatest(0, noActionProgress(0));
        logging::normal(UM_HERE, L"It was not possible to get the initial Update Results. Setting initial default value");
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus UpdateModuleImp::uninitialize()
{
    // A host may uninitialise a module whose initialisation failed or never
    // happened: there is no bus and nothing was subscribed.
    if (!messageBus())
        return logging::fail(MODULE_STATUS_INVALID_STATE, UM_HERE, L"The module has no message bus: nothing to unsubscribe.");
    ModuleStatus result = MODULE_STATUS_SUCCESS;
    for (const wchar_t* alias : kRequestAliases) {
        const ModuleStatus status = unsubscribe(alias);
        if (status.failed()) {
            result = logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Unsubscription to '%s' failed. Status: 0x%08X",
                                   alias, status);
            continue;
        }
        logging::normal(UM_HERE, L"Unsubscribed to '%s' successfully", alias);
    }
    if (result == MODULE_STATUS_SUCCESS)
        requestsSubscribed_.store(false);
    return result;
}

template <typename AgentStep>
ModuleStatus UpdateModuleImp::runAgentRequest(const char* handlerName, AgentStep&& step)
{
    logging::normal(UM_HERE_AS(handlerName), L"Processing: %hs", handlerName);

    win::ComApartment apartment;
    if (!apartment.succeeded())
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE_AS(handlerName), L"Error initializing CoInitializeEx");
    // Declared after the apartment: the agent is released before COM is left.
    std::shared_ptr<ZuUpdateAgentHandle> agent;
    try {
        agent = container()->resolve<ZuUpdateAgentHandle>();
    } catch (...) {
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE_AS(handlerName),
                             L"Error: Unable to create ZuUpdateAgent interface");
    }
    if (!agent)
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE_AS(handlerName),
                             L"Error: Unable to create ZuUpdateAgent interface");
    return std::forward<AgentStep>(step)(*agent);
}

ModuleStatus UpdateModuleImp::CallbackRefreshState(const MessagePtr&)
{
    return runAgentRequest(__func__, [this](ZuUpdateAgentHandle& agent) {
        std::int32_t value = static_cast<std::int32_t>(0xFFFFFFFF);
        if (const ModuleStatus status = agent.getUpdateSetting(value); status.failed())
            return status;
        return PublishUpdateSettingState(static_cast<std::uint32_t>(value));
    });
}

ModuleStatus UpdateModuleImp::CallbackChangeState(const MessagePtr& request)
{
    const char* const handler = __func__;
    return runAgentRequest(handler, [&request, handler](ZuUpdateAgentHandle& agent) {
        bool enable = false;
        std::int32_t option = -1;
        const ModuleStatus status = agent.changeState(request->getPayload(), enable, option);
        if (status.failed())
            logging::error(UM_HERE_AS(handler), L"Error: State change was not possible");
        return status;
    });
}

ModuleStatus UpdateModuleImp::CallbackPersonalize(const MessagePtr& request)
{
    const char* const handler = __func__;
    return runAgentRequest(handler, [&request, handler](ZuUpdateAgentHandle& agent) {
        const ModuleStatus status = agent.personalize(request->getPayload());
        if (status.failed())
            logging::error(UM_HERE_AS(handler), L"Error personalizing");
        else
            logging::normal(UM_HERE_AS(handler), L"Success calling Personalize");
        return status;
    });
}

ModuleStatus UpdateModuleImp::CallbackRunUpdate(const MessagePtr&)
{
    const char* const handler = __func__;
    return runAgentRequest(handler, [handler](ZuUpdateAgentHandle& agent) {
        const ModuleStatus status = agent.startUpdate(std::wstring());
        if (status.failed())
            logging::error(UM_HERE_AS(handler), L"Error Starting Update");
        else
            logging::normal(UM_HERE_AS(handler), L"Successful call of 'Run Update'");
        return status;
    });
}

ModuleStatus UpdateModuleImp::PublishUpdateSettingState(std::uint32_t option)
{
    logging::normal(UM_HERE, L"Publishing: %s ", kState);
    const wchar_t* state = L"off";
    bool error = false;
    if (option >= 1 && option <= 3) {
        state = L"on";
    } else if (option != 0) {
        logging::error(UM_HERE, L"Update Setting State is an unexpected option %lu", option);
        error = true;
    }
    JSONParser payload;
    payload.setString(L"state", state);
    payload.setUInt(L"option", option);
    payload.setBool(L"error", error);
    const std::wstring text = payload.toString();
    logging::normal(UM_HERE, L"Message to publish: '%s'", text.c_str());
    return publishText(kState, text, __func__);
}

ModuleStatus UpdateModuleImp::publishText(const wchar_t* name, const std::wstring& payload, const char* caller)
{
    const ModuleStatus status = publish(createMessage(name, senderName(), payload));
    if (status.failed())
        logging::error(UM_HERE_AS(caller), L"Failed publishing (%s): %lu", name, status);
    return status;
}

ModuleStatus UpdateModuleImp::CallbackUpdateProgress(const MessagePtr& request)
{
    const std::wstring& sender = request->getSender();
    if (sender != kProgressSender) {
        // We subscribe the name we republish on a refresh, so our own answers
        // come back to us. The broker hands over a copy (object identity is gone)
        // and the header names no publisher, but the sender text is ours (the
        // host gives each module its own name) and travels unchanged. An echo
        // says nothing about an update, so it changes nothing.
        if (sender != senderName()) {
            // Any other report, even one we ignore, means an update may be running.
            updateInProgress_.exchange(true);
        }
        logging::information(UM_HERE, L"Upgrade progress message received from %s. This message will not be processed.",
                             sender.c_str());
        return MODULE_STATUS_SUCCESS;
    }
    // A bridge report we cannot read still says an update may be running.
    JSONParser progress;
    if (!progress.parse(request->getPayload())) {
        updateInProgress_.exchange(true);
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error: parsing message for Update Progress");
    }
    std::uint64_t timestamp = 0;
    if (const ModuleStatus status = readTimestamp(progress, timestamp, __func__); status.failed()) {
        updateInProgress_.exchange(true);
        return status;
    }
    std::wstring status;
    const bool running = progress.getString(kStatus, status) && (status == L"started" || status == L"running");
    // Reports may arrive out of order on several threads: only the newest one
    // decides, and the flag is set under the same lock so it matches the stored report.
    std::lock_guard<std::mutex> guard(latestLock_);
    if (timestamp > latestTimestamp_) {
        latestTimestamp_ = timestamp;
        latestProgress_ = request->getPayload();
        updateInProgress_.exchange(running);
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus UpdateModuleImp::CallbackRefreshUpdateProgress(const MessagePtr&)
{
    std::wstring progressText;
    {
        std::lock_guard<std::mutex> guard(latestLock_);
        if (latestTimestamp_ == 0) {
            // Nothing timestamped yet: stamp the stored default with the current time.
            JSONParser progress;
            if (!progress.parse(latestProgress_))
                return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE,
                                     L"Error: parsing message for Refresh Update Progress");
            progress.setUInt64(kTimestamp, currentTimeMilliseconds());
            latestProgress_ = progress.toString();
        }
        progressText = latestProgress_;
    }
    return publishText(kUpdateProgress, progressText, __func__);
}

ModuleStatus UpdateModuleImp::onPropertyUpdateResults(const std::wstring& propertyName)
{
    logging::normal(UM_HERE, L"Processing property: %s", propertyName.c_str());
    std::wstring value;
    if (!settingsManager_ || !settingsManager_->getProperty(propertyName, value, kSettingsTimeLimit))
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error: failed to retrieve property '%s' value.",
                             propertyName.c_str());
    JSONParser results;
    if (!results.parse(value))
        return logging::fail(MODULE_STATUS_UNSUCCESSFUL, UM_HERE, L"Error: parsing property '%s' value.",
                             propertyName.c_str());
    std::uint64_t timestamp = 0;
    if (const ModuleStatus status = readTimestamp(results, timestamp, __func__); status.failed())
        return status;
    std::lock_guard<std::mutex> guard(latestLock_);
    if (timestamp >= latestTimestamp_) {
        latestTimestamp_ = timestamp;
        latestProgress_ = noActionProgress(timestamp);
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus UpdateModuleImp::HandleUnload(ModuleStatus status)
{
    if (updateInProgress_.load())
        return status;
    const ModuleStatus result = unload();
    logging::information(UM_HERE, L"Unloading module status: %lu", result);
    if (result.failed())
        return logging::fail(result, UM_HERE, L"Unloading module error: %s", getStatusName(result));
    return status;
}

std::wstring UpdateModuleImp::senderName() const
{
    // An empty sender would become the library's file name on the way out.
    std::wstring name = moduleName();
    return name.empty() ? internal::defaultSenderName() : name;
}

ModuleStatus UpdateModuleImp::readTimestamp(const JSONParser& payload, std::uint64_t& timestamp,
                                            const char* caller)
{
    if (payload.getUInt64(kTimestamp, timestamp))
        return MODULE_STATUS_SUCCESS;
    return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE_AS(caller), L"Error getting the right value for %s",
                         kTimestamp);
}

void UpdateModuleImp::setLatest(std::uint64_t timestamp, std::wstring progress)
{
    std::lock_guard<std::mutex> guard(latestLock_);
    latestTimestamp_ = timestamp;
    latestProgress_ = std::move(progress);
}

std::uint64_t UpdateModuleImp::latestTimestamp() const
{
    std::lock_guard<std::mutex> guard(latestLock_);
    return latestTimestamp_;
}

std::wstring UpdateModuleImp::latestProgress() const
{
    std::lock_guard<std::mutex> guard(latestLock_);
    return latestProgress_;
}

} // namespace Orvik
