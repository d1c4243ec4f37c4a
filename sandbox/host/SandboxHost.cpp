// A stand-in for the Tessel host: loads the module library by path, drives one
// module through the entry table and says in plain words what happened.

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
    std::wprintf(L"\nDone: the module answered every call with a status; %d unload request(s).\n",
                 unloadRequests);
    return 0;
}
