// A stand-in for the Tessel host: loads the module library by path, drives one
// module through the entry table and says in plain words what happened.

#include "SandboxBus.h"
#include "SettingsService.h"
#include "Stopwatch.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "message/MessageHeader.h"
#include "entry/ModuleFunctions.h"
#include "win/ProcAddress.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

using Orvik::ModuleEntryTable;

const wchar_t* verdict(std::uint32_t status)
{
    switch (status) {
    case 0x00000000: return L"success";
    case 0x80000002: return L"the step failed";
    case 0x80000008: return L"refused: invalid parameter";
    case 0x8000000F: return L"refused: the module caught an exception";
    case 0x800000FF: return L"refused: invalid state";
    default: return L"failure";
    }
}

void report(const wchar_t* step, std::uint32_t status)
{
    std::wprintf(L"  %-44ls -> 0x%08lX (%ls)\n", step, static_cast<unsigned long>(status), verdict(status));
}

// The host's module-manager callback for the first, bus-less module.
std::uint32_t onModuleManagerRequest(void* context, const wchar_t* moduleName, std::uint32_t request)
{
    auto* unloadRequests = static_cast<std::atomic<int>*>(context);
    ++*unloadRequests;
    std::wprintf(L"  host: module \"%ls\" asked to be unloaded (request %lu); accepted\n",
                 moduleName ? moduleName : L"(null)", static_cast<unsigned long>(request));
    return 0;
}

using sandbox::millisecondsNow;

std::wstring ownFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder;
}

// Where the sandbox agent writes down what it was asked to do.
class AgentCallLog {
public:
    AgentCallLog()
    {
        wchar_t folder[MAX_PATH];
        wchar_t file[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"zua", 0, file);
        path_ = file;
        SetEnvironmentVariableW(L"ZU_AGENT_CALL_LOG", path_.c_str());
    }
    ~AgentCallLog()
    {
        SetEnvironmentVariableW(L"ZU_AGENT_CALL_LOG", nullptr);
        DeleteFileW(path_.c_str());
    }
    // Prints the calls made since the last time and forgets them.
    void printNew()
    {
        if (FILE* file = _wfopen(path_.c_str(), L"rb")) {
            char line[1024];
            while (std::fgets(line, sizeof line, file))
                std::wprintf(L"  agent: %hs", line);
            std::fclose(file);
        }
        if (FILE* file = _wfopen(path_.c_str(), L"wb"))
            std::fclose(file);
    }

private:
    std::wstring path_;
};

// The module as the Tessel host keeps it: loaded when a request comes, and
// uninitialised, destroyed and unloaded (FreeLibrary) once it has asked to be
// unloaded and none of its requests is in flight.
class OnDemandModule {
public:
    using Initialize = std::function<std::uint32_t(const ModuleEntryTable&, Orvik::ModuleHandle, void* context,
                                                   Orvik::ModuleManagerCallback)>;

    OnDemandModule(std::wstring path, Initialize initialize, std::atomic<int>& unloadRequests)
        : path_(std::move(path)), initialize_(std::move(initialize)), unloadRequests_(unloadRequests)
    {
    }
    ~OnDemandModule() { unload(L"the host shuts down"); }

    // Loads, creates, initialises and starts the module unless it is loaded.
    bool ensureLoaded()
    {
        if (handle_ != nullptr)
            return true;
        loadStarted_ = millisecondsNow();
        library_.reset(LoadLibraryW(path_.c_str()));
        auto create = Orvik::win::procAddress<const ModuleEntryTable* (*)()>(library_.get(), "CreateObject");
        entries_ = create != nullptr ? create() : nullptr;
        if (entries_ == nullptr || entries_->newModule(&handle_, L"UpdateModule") != 0) {
            std::wprintf(L"  host: could not load and create the module (error %lu)\n", GetLastError());
            handle_ = nullptr;
            library_.reset();
            return false;
        }
        asked_ = false;
        const std::uint32_t initialized = initialize_(*entries_, handle_, this, &OnDemandModule::onUnloadRequest);
        const std::uint32_t started = entries_->startModule(handle_);
        ++loads_;
        std::wprintf(L"  host: load %d of UpdateModule.dll: NewModule, %ls, StartModule -> 0x%08lX, 0x%08lX (%.1f ms)\n",
                     loads_, initializeName_, static_cast<unsigned long>(initialized),
                     static_cast<unsigned long>(started), millisecondsNow() - loadStarted_);
        return initialized == 0 && started == 0;
    }

    // Unloads the module when it asked for it. Its requests are over by then:
    // UninitializeModule drops its subscriptions, and the broker returns from
    // that only when no callback of them is running.
    void unloadIfAsked()
    {
        if (asked_.exchange(false))
            unload(L"it asked to be unloaded");
    }

    void unload(const wchar_t* why)
    {
        if (handle_ == nullptr)
            return;
        const std::uint32_t uninitialized = entries_->uninitializeModule(handle_);
        const std::uint32_t destroyed = entries_->destroyModule(handle_);
        handle_ = nullptr;
        entries_ = nullptr;
        library_.reset();
        std::wprintf(L"  host: %ls: UninitializeModule, DestroyModule -> 0x%08lX, 0x%08lX, FreeLibrary; "
                     L"it was loaded for %.1f ms\n",
                     why, static_cast<unsigned long>(uninitialized), static_cast<unsigned long>(destroyed),
                     millisecondsNow() - loadStarted_);
    }

    const ModuleEntryTable* entries() const { return entries_; }
    Orvik::ModuleHandle handle() const { return handle_; }
    int loads() const { return loads_; }
    void describeInitialization(const wchar_t* name) { initializeName_ = name; }

private:
    // Called on a bus thread while the request is still being handled: only
    // noted here, carried out by the host's own thread.
    static std::uint32_t onUnloadRequest(void* context, const wchar_t* moduleName, std::uint32_t request)
    {
        auto* self = static_cast<OnDemandModule*>(context);
        ++self->unloadRequests_;
        self->asked_ = true;
        std::wprintf(L"  host: module \"%ls\" asked to be unloaded (request %lu); accepted\n",
                     moduleName ? moduleName : L"(null)", static_cast<unsigned long>(request));
        return 0;
    }

    std::wstring path_;
    Initialize initialize_;
    std::atomic<int>& unloadRequests_;
    const wchar_t* initializeName_ = L"InitializeModule";
    Orvik::win::UniqueLibrary library_;
    const ModuleEntryTable* entries_ = nullptr;
    Orvik::ModuleHandle handle_ = nullptr;
    std::atomic<bool> asked_{false};
    int loads_ = 0;
    double loadStarted_ = 0;
};

// The module on the sandbox bus broker, serving the update requests with the
// signed sandbox update agent behind it, loaded on demand.
class UpdateScenario {
public:
    UpdateScenario(std::wstring modulePath, std::atomic<int>& unloadRequests)
        : modulePath_(std::move(modulePath)), unloadRequests_(unloadRequests), bus_(ownFolder())
    {
    }

    // `moduleBindsBus`: the host hands over no bus (InitializeModule) and the
    // module loads and binds BusBroker.dll itself; else the host hands it its
    // own connection (InitializeModuleV2).
    void run(bool moduleBindsBus)
    {
        std::wprintf(moduleBindsBus ? L"\nA module that binds the sandbox message bus itself:\n"
                                    : L"\nConnecting a module to the sandbox message bus:\n");
        if (!bus_.loaded()) {
            std::wprintf(L"  BusBroker.dll was not found beside the host (error %lu)\n", GetLastError());
            ok_ = false;
            return;
        }
        std::wprintf(L"  bus broker %hs loaded; CreateObject(2001000) gave its function table\n", bus_.version());
        hostSide_ = bus_.connect();
        moduleSide_ = bus_.connect();
        settingsSide_ = bus_.connect();
        if (!hostSide_ || !moduleSide_ || !settingsSide_) {
            std::wprintf(L"  the broker refused a connection\n");
            ok_ = false;
            return;
        }
        const std::uint32_t watchId = bus_.table()->subscribeFilter(
            hostSide_->handle(), &watcher_, &sandbox::BusWatcher::onMessage, L"Core\\.Update\\.(State|UpdateProgress)");
        std::wprintf(L"  the host watches the module's answers on its own connection\n");
        startSettingsService();

        void* moduleBus = moduleSide_->handle();
        const Orvik::MessageBusFunctions* table = bus_.table();
        module_ = std::make_unique<OnDemandModule>(
            modulePath_,
            [moduleBindsBus, moduleBus, table](const ModuleEntryTable& t, Orvik::ModuleHandle handle, void* context,
                                               Orvik::ModuleManagerCallback callback) {
                return moduleBindsBus
                           ? t.initializeModule(handle, L"UpdateModule", L"", 0, nullptr, nullptr, context, callback)
                           : t.initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, context,
                                                  callback, moduleBus, table);
            },
            unloadRequests_);
        module_->describeInitialization(moduleBindsBus ? L"InitializeModule (it finds, verifies and binds BusBroker.dll)"
                                                       : L"InitializeModuleV2 (bus = sandbox broker)");
        std::wprintf(L"  the host loads the module for each request and unloads it when it asks\n");

        step(L"A settings page asks for the latest update results");
        request(L"Core.Update.RefreshUpdateProgress", L"");
        awaitAnswer(L"Core.Update.UpdateProgress", LR"({"timestamp":1765100000000,"status":"no_action"})");

        step(L"The update results change in the settings service");
        constexpr wchar_t kNewerResults[] = LR"({"timestamp":1765150000000,"status":"success"})";
        std::wprintf(L"  settings service: Core.Update.UpdateResults = %ls\n", kNewerResults);
        settings_->change(kUpdateResults, kNewerResults);
        Sleep(400);
        request(L"Core.Update.RefreshUpdateProgress", L"");
        awaitAnswer(L"Core.Update.UpdateProgress", LR"({"timestamp":1765150000000,"status":"no_action"})");

        step(L"A settings page asks for the automatic-update state");
        request(L"Core.Update.RefreshState", L"");
        awaitAnswer(L"Core.Update.State", nullptr);

        step(L"The user switches automatic update off, then asks again");
        request(L"Core.Update.ChangeState", LR"({"state":"off"})");
        request(L"Core.Update.RefreshState", L"");
        awaitAnswer(L"Core.Update.State", LR"({"state":"off","option":0,"error":false})");

        step(L"The user switches it on with option 2");
        request(L"Core.Update.ChangeState", LR"({"state":"On","option":2})");
        request(L"Core.Update.RefreshState", L"");
        awaitAnswer(L"Core.Update.State", LR"({"state":"on","option":2,"error":false})");

        step(L"A malformed change request is refused without touching the agent");
        request(L"Core.Update.ChangeState", LR"({"state":"sometimes"})");

        step(L"Two products are installed");
        request(L"Core.Update.Personalize", LR"({"products":["Acme.Editor","Acme.Viewer"]})");

        step(L"An update is started; the update bridge reports progress");
        request(L"Core.Update.RunUpdate", L"");
        const int before = unloadRequests_;
        const int loadsBefore = module_->loads();
        request(L"Core.Update.UpdateProgress", LR"({"timestamp":1765200000000,"status":"started"})",
                L"UpdateMsgrBridge");
        request(L"Core.Update.UpdateProgress", LR"({"timestamp":1765200030000,"status":"running","percent":40})",
                L"UpdateMsgrBridge");
        request(L"Core.Update.UpdateProgress", LR"({"timestamp":1765200060000,"status":"done"})", L"Impostor");
        step(L"A settings page asks for the progress while the update runs");
        request(L"Core.Update.RefreshUpdateProgress", L"");
        awaitAnswer(L"Core.Update.UpdateProgress",
                    LR"({"timestamp":1765200030000,"status":"running","percent":40})");
        expect(unloadRequests_ == before && module_->loads() == loadsBefore + 1,
               L"no unload request, and no reload, while the update runs");
        constexpr wchar_t kDone[] = LR"({"timestamp":1765200090000,"status":"done","installed":2})";
        request(L"Core.Update.UpdateProgress", kDone, L"UpdateMsgrBridge");
        expect(unloadRequests_ == before + 1, L"one unload request once the bridge reports the update done");

        // What outlives the module is the results property: the bridge records
        // the outcome there, and the next module to load answers from it.
        step(L"The update bridge records the results; a settings page asks for the latest progress");
        constexpr wchar_t kResults[] = LR"({"timestamp":1765200090000,"status":"success","installed":2})";
        std::wprintf(L"  settings service: Core.Update.UpdateResults = %ls\n", kResults);
        settings_->change(kUpdateResults, kResults);
        Sleep(400);
        request(L"Core.Update.RefreshUpdateProgress", L"");
        awaitAnswer(L"Core.Update.UpdateProgress", LR"({"timestamp":1765200090000,"status":"no_action"})");

        step(L"The host hands the module a request directly");
        Orvik::MessageHeader header = Orvik::kMessageHeaderTemplate;
        module_->ensureLoaded();
        report(L"DirectMessage(\"Core.Update.RefreshState\")",
               module_->entries()->directMessage(module_->handle(), &header, L"Core.Update.RefreshState",
                                                 L"SandboxHost", L""));
        awaitAnswer(L"Core.Update.State", LR"({"state":"on","option":2,"error":false})");
        module_->unloadIfAsked();
        module_->ensureLoaded();
        report(L"DirectMessage(name = null)",
               module_->entries()->directMessage(module_->handle(), &header, nullptr, L"SandboxHost", L""));

        std::wprintf(L"\nShutting the module down:\n");
        report(L"StopModule", module_->entries()->stopModule(module_->handle()));
        module_->unload(L"the scenario is over");
        std::wprintf(L"  the module was loaded %d times for this scenario\n", module_->loads());
        module_.reset();
        bus_.table()->unsubscribe(hostSide_->handle(), watchId);
        settings_.reset();
    }

private:
    static constexpr wchar_t kUpdateResults[] = L"Core.Update.UpdateResults";

    // The settings service on a connection of its own, keeping its properties
    // in settings-store.json beside the host.
    void startSettingsService()
    {
        settings_ = std::make_unique<sandbox::SettingsService>(
            std::make_shared<Orvik::MessageBusClient>(
                std::make_shared<Orvik::MessageBusShimImpl>(settingsSide_->handle(), bus_.table()), nullptr),
            ownFolder() + L"settings-store.json");
        constexpr wchar_t kResults[] = LR"({"timestamp":1765100000000,"status":"success"})";
        settings_->put(kUpdateResults, kResults);
        std::wprintf(L"  the settings service answers on a third connection; it holds\n"
                     L"    Core.Update.UpdateResults = %ls\n\n",
                     kResults);
    }

    void step(const wchar_t* what) { std::wprintf(L"\n%ls:\n", what); }

    // Publishes a request from the host, the module loaded to handle it, and
    // unloads the module afterwards if it asked.
    void request(const wchar_t* name, const wchar_t* payload, const wchar_t* sender = L"Settings.UI")
    {
        if (!module_->ensureLoaded())
            expect(false, L"the module to load, initialise and start");
        std::wprintf(L"  %ls -> %ls %ls\n", sender, name, payload);
        bus_.publish(*hostSide_, name, sender, payload);
        // The broker delivers on its own threads; requests are handled one at a time here.
        Sleep(400);
        agentCalls_.printNew();
        module_->unloadIfAsked();
    }

    // Waits for the module's next publication of `name`; checks it when `expected` is given.
    void awaitAnswer(const std::wstring& name, const wchar_t* expected)
    {
        sandbox::BusWatcher::Seen answer;
        const std::size_t index = answers_[name]++;
        if (!watcher_.waitForNth(name, L"UpdateModule", index, 5000, answer)) {
            expect(false, (L"an answer " + name + L" within 5 s").c_str());
            return;
        }
        std::wprintf(L"  module -> %ls %ls\n", answer.name.c_str(), answer.payload.c_str());
        if (expected != nullptr)
            expect(answer.payload == expected, (L"the answer " + std::wstring(expected)).c_str());
    }

    void expect(bool holds, const wchar_t* what)
    {
        if (!holds) {
            std::wprintf(L"  MISBEHAVIOUR: expected %ls\n", what);
            ok_ = false;
        }
    }

public:
    bool succeeded() const { return ok_; }

private:
    bool ok_ = true;

    std::wstring modulePath_;
    std::atomic<int>& unloadRequests_;
    sandbox::SandboxBus bus_;
    sandbox::BusWatcher watcher_; // outlives the connections that deliver to it
    std::unique_ptr<sandbox::BusConnection> hostSide_;
    std::unique_ptr<sandbox::BusConnection> moduleSide_;
    std::unique_ptr<sandbox::BusConnection> settingsSide_;
    std::unique_ptr<sandbox::SettingsService> settings_; // gone before its connection
    std::unique_ptr<OnDemandModule> module_;              // gone before the broker
    AgentCallLog agentCalls_;
    std::map<std::wstring, std::size_t> answers_;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring path = argc > 1 ? argv[1] : L"UpdateModule.dll";
    std::atomic<int> unloadRequests{0};
    {
        std::wprintf(L"Sandbox host: loading %ls\n", path.c_str());
        const Orvik::win::UniqueLibrary library(LoadLibraryW(path.c_str()));
        if (!library) {
            std::wprintf(L"  could not load the module library (error %lu)\n", GetLastError());
            return 1;
        }
        auto createObject = Orvik::win::procAddress<const ModuleEntryTable* (*)()>(library.get(), "CreateObject");
        auto versionText = Orvik::win::procAddress<const char* (*)()>(library.get(), "GetVersionStr");
        if (createObject == nullptr || versionText == nullptr) {
            std::wprintf(L"  the library does not export the framework entry points\n");
            return 1;
        }
        std::wprintf(L"  module library version %hs\n", versionText());
        const ModuleEntryTable* entries = createObject();
        std::wprintf(L"  CreateObject gave the module entry table\n\n");

        Orvik::ModuleHandle handle = nullptr;
        std::wprintf(L"Creating a module:\n");
        report(L"NewModule(\"UpdateModule\")", entries->newModule(&handle, L"UpdateModule"));
        if (handle == nullptr)
            return 1;

        std::wprintf(L"\nInitialising it without a message bus (a host fault on purpose):\n");
        const std::uint32_t init = entries->initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr,
                                                               &unloadRequests, &onModuleManagerRequest, nullptr,
                                                               nullptr);
        report(L"InitializeModuleV2(bus handle = null)", init);
        if (init != 0)
            std::wprintf(L"  the module refused to run without a bus, as it should\n");

        std::wprintf(L"\nChecking that bad handles are refused, not crashed on:\n");
        report(L"StartModule(null handle)", entries->startModule(nullptr));

        std::wprintf(L"\nDestroying the module and unloading the library:\n");
        report(L"DestroyModule", entries->destroyModule(handle));
    }

    for (const bool moduleBindsBus : {false, true}) {
        UpdateScenario scenario(path, unloadRequests);
        scenario.run(moduleBindsBus);
        if (!scenario.succeeded()) {
            std::wprintf(L"\nThe module misbehaved (see MISBEHAVIOUR above).\n");
            return 2;
        }
    }
    std::wprintf(L"\nDone: the module answered every call as expected; %d unload request(s).\n",
                 unloadRequests.load());
    return 0;
}
