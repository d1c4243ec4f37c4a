// A stand-in for the Tessel host: loads the module library by path, drives one
// module through the entry table and says in plain words what happened.

#include "SandboxBus.h"
#include "message/MessageHeader.h"
#include "module/ModuleFunctions.h"

#include <windows.h>

#include <cstdio>
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

// The host's module-manager callback: the module asks here to be unloaded.
std::uint32_t onModuleManagerRequest(void* context, const wchar_t* moduleName, std::uint32_t request)
{
    auto* unloadRequests = static_cast<int*>(context);
    ++*unloadRequests;
    std::wprintf(L"  host: module \"%ls\" asked to be unloaded (request %lu); accepted\n",
                 moduleName ? moduleName : L"(null)", static_cast<unsigned long>(request));
    return 0;
}

// Frees the library when the host is done with it.
struct LoadedLibrary {
    HMODULE module;
    ~LoadedLibrary()
    {
        if (module != nullptr)
            FreeLibrary(module);
    }
};

std::wstring ownFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder;
}

// A second module, this time with the sandbox bus broker as its message bus.
void runOnTheSandboxBus(const ModuleEntryTable* entries, int& unloadRequests)
{
    std::wprintf(L"\nConnecting a module to the sandbox message bus:\n");
    sandbox::SandboxBus bus(ownFolder());
    if (!bus.loaded()) {
        std::wprintf(L"  BusBroker.dll was not found beside the host (error %lu); skipped\n", GetLastError());
        return;
    }
    std::wprintf(L"  bus broker %hs loaded; CreateObject(2001000) gave its function table\n", bus.version());
    sandbox::BusWatcher watcher;  // outlives the connections that deliver to it
    std::unique_ptr<sandbox::BusConnection> hostSide = bus.connect();
    std::unique_ptr<sandbox::BusConnection> moduleSide = bus.connect();
    if (!hostSide || !moduleSide) {
        std::wprintf(L"  the broker refused a connection; skipped\n");
        return;
    }
    const std::uint32_t watchId = bus.table()->subscribeFilter(hostSide->handle(), &watcher,
                                                               &sandbox::BusWatcher::onMessage, L"Core\\.Update\\..*");
    std::wprintf(L"  host connection watches \"Core\\.Update\\..*\"; a second connection goes to the module\n\n");

    Orvik::ModuleHandle handle = nullptr;
    report(L"NewModule(\"UpdateModule\")", entries->newModule(&handle, L"UpdateModule"));
    if (handle == nullptr)
        return;
    report(L"InitializeModuleV2(bus = sandbox broker)",
           entries->initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, &unloadRequests,
                                       &onModuleManagerRequest, moduleSide->handle(), bus.table()));
    report(L"StartModule", entries->startModule(handle));

    std::wprintf(L"\nThe host publishes \"Core.Update.RefreshState\" on the bus:\n");
    report(L"publish(\"Core.Update.RefreshState\")",
           bus.publish(*hostSide, L"Core.Update.RefreshState", L"SandboxHost", L"{}"));
    if (watcher.waitFor(L"Core.Update.RefreshState", 2000))
        std::wprintf(L"  the broker delivered it on its own thread (the host's watcher saw it)\n");
    if (watcher.waitFor(L"Core.Update.State", 2000)) {
        for (const auto& message : watcher.seen())
            if (message.name == L"Core.Update.State")
                std::wprintf(L"  the module answered: \"%ls\" from %ls: %ls\n", message.name.c_str(),
                             message.sender.c_str(), message.payload.c_str());
    } else {
        std::wprintf(L"  no \"Core.Update.State\" came back within 2 s: this build's module has no update\n"
                     L"  request handlers subscribed yet, so the message had no subscriber in the module\n");
    }

    std::wprintf(L"\nThe host hands the module a message directly:\n");
    Orvik::MessageHeader header = Orvik::kMessageHeaderTemplate;
    report(L"DirectMessage(\"Core.Update.RefreshState\")",
           entries->directMessage(handle, &header, L"Core.Update.RefreshState", L"SandboxHost", L"{}"));
    report(L"DirectMessage(name = null)", entries->directMessage(handle, &header, nullptr, L"SandboxHost", L"{}"));

    std::wprintf(L"\nShutting the bus-connected module down:\n");
    report(L"StopModule", entries->stopModule(handle));
    report(L"UninitializeModule", entries->uninitializeModule(handle));
    report(L"DestroyModule (its bus client drops its subscriptions)", entries->destroyModule(handle));
    bus.table()->unsubscribe(hostSide->handle(), watchId);
    std::wprintf(L"  %zu message(s) reached the host's watcher in all\n", watcher.seen().size());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring path = argc > 1 ? argv[1] : L"UpdateModule.dll";
    std::wprintf(L"Sandbox host: loading %ls\n", path.c_str());
    LoadedLibrary library{LoadLibraryW(path.c_str())};
    if (library.module == nullptr) {
        std::wprintf(L"  could not load the module library (error %lu)\n", GetLastError());
        return 1;
    }
    auto createObject = reinterpret_cast<const ModuleEntryTable* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(library.module, "CreateObject")));
    auto versionText = reinterpret_cast<const char* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(library.module, "GetVersionStr")));
    if (createObject == nullptr || versionText == nullptr) {
        std::wprintf(L"  the library does not export the framework entry points\n");
        return 1;
    }
    std::wprintf(L"  module library version %hs\n", versionText());
    const ModuleEntryTable* entries = createObject();
    std::wprintf(L"  CreateObject gave the module entry table\n\n");

    int unloadRequests = 0;
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

    std::wprintf(L"\nDestroying the module:\n");
    report(L"DestroyModule", entries->destroyModule(handle));

    runOnTheSandboxBus(entries, unloadRequests);
    std::wprintf(L"\nDone: the module answered every call with a status; %d unload request(s).\n",
                 unloadRequests);
    return 0;
}
