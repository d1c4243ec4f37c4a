#pragma once
// One request served the way a host that loads the module on demand serves
// it: LoadLibraryW of the module, CreateObject, NewModule, InitializeModuleV2
// on the host's own bus, StartModule, the request, UninitializeModule,
// DestroyModule and FreeLibrary, with the time each phase took.

#include "HostBus.h"
#include "Stopwatch.h"
#include "entry/ModuleFunctions.h"
#include "win/ProcAddress.h"

#include <windows.h>

#include <string>
#include <vector>

namespace sandbox {

enum CyclePhase { kLoad, kCreate, kInitialize, kStart, kRequest, kTeardown, kUnload, kPhaseCount };
inline constexpr const char* kCyclePhaseNames[kPhaseCount] = {
    "LoadLibraryW", "CreateObject + NewModule", "InitializeModuleV2", "StartModule",
    "the request (until its answer is published)", "UninitializeModule + DestroyModule", "FreeLibrary"};

extern "C" inline std::uint32_t acceptUnloadRequest(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}

struct CycleResult {
    bool served = false;                  // every step answered 0 and the answer was published
    std::vector<std::wstring> published;  // what the module published for the request
    double phases[kPhaseCount] = {};
};

// Serves `request` (sent by `sender` with `payload`) from a cold load of `modulePath`.
inline CycleResult serveOnDemand(const std::wstring& modulePath, const wchar_t* request,
                                 const wchar_t* sender = L"Host", const wchar_t* payload = L"{}")
{
    CycleResult result;
    HostBus& bus = HostBus::instance();
    double mark = millisecondsNow();
    auto lap = [&](CyclePhase phase) {
        const double now = millisecondsNow();
        result.phases[phase] = now - mark;
        mark = now;
    };
    HMODULE library = LoadLibraryW(modulePath.c_str());
    lap(kLoad);
    if (library == nullptr)
        return result;
    auto create = Orvik::win::procAddress<const Orvik::ModuleEntryTable* (*)()>(library, "CreateObject");
    const Orvik::ModuleEntryTable* t = create != nullptr ? create() : nullptr;
    Orvik::ModuleHandle handle = nullptr;
    if (t != nullptr && t->newModule(&handle, L"UpdateModule") == 0) {
        lap(kCreate);
        if (t->initializeModuleV2(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnloadRequest,
                                  bus.handle(), bus.table()) == 0) {
            lap(kInitialize);
            const bool started = t->startModule(handle) == 0;
            lap(kStart);
            bus.takePublished();
            const bool delivered = bus.deliver(request, sender, payload) == 1;
            result.published = bus.takePublished();
            lap(kRequest);
            result.served = started && delivered;
            if (t->uninitializeModule(handle) != 0)
                result.served = false;
        }
        if (t->destroyModule(handle) != 0)
            result.served = false;
        lap(kTeardown);
    }
    FreeLibrary(library);
    lap(kUnload);
    return result;
}

// The agent's server as COM would load it: its machine registration.
inline std::wstring registeredServer(const wchar_t* classId)
{
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof(path);
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + classId + L"\\InprocServer32";
    return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) ==
                   ERROR_SUCCESS
               ? std::wstring(path)
               : std::wstring();
}

// The class the module creates its update agent from.
inline constexpr wchar_t kAgentClassId[] = L"{6E1F3C52-8B7A-4D2E-9F31-2C4B5A6D7E81}";

} // namespace sandbox
