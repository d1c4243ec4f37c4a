#include "entry/ModuleFunctions.h"

#include "entry/FixedLogLines.h"
#include "Logging/Logger.h"
#include "module/BaseModule.h"
#include "module/ModuleBusBinding.h"
#include "entry/UpdateModule.h"

#include <windows.h>

#include <cstdio>
#include <new>

namespace Orvik {
namespace {

// The entry table's records name the bare entry.
UM_LOG_SOURCE(L"");

// Every entry's work runs inside this barrier: no exception reaches the host,
// and the status becomes the number the host reads here. The host's contract
// says the barrier itself writes no log record (whatever threw has logged its
// reason); the debugger is still told which entry caught it.
template <typename Work>
std::uint32_t runInsideBarrier(const char* entry, Work&& work) noexcept
{
    try {
        const ModuleStatus status = work();
        return status.value();
    } catch (...) {
        char text[160];
        std::snprintf(text, sizeof text, "UpdateModule: %s caught an exception and answers 0x%08X\n", entry,
                      MODULE_STATUS_UNKNOWN_EXCEPTION.value());
        ::OutputDebugStringA(text);
    }
    return MODULE_STATUS_UNKNOWN_EXCEPTION.value();
}

bool handleIsUsable(ModuleHandle handle, const wchar_t* entryName, int line)
{
    if (handle != nullptr && handle->module != nullptr)
        return true;
    logging::error(UM_AT(entryName, line), L"Invalid handle.");
    return false;
}

std::wstring textOrEmpty(const wchar_t* text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// The common body of both initialisation entries once the bus client exists.
ModuleStatus initializeWithBus(Module& module, const wchar_t* moduleName, const wchar_t* secondText,
                               std::uint32_t count, const wchar_t* const* names, const wchar_t* const* values,
                               void* managerContext, ModuleManagerCallback managerCallback,
                               const std::function<std::shared_ptr<MessageBus>()>& makeBus,
                               const wchar_t* failureFunction, int failureLine)
{
    if (auto* base = dynamic_cast<BaseModule*>(&module)) {
        const PropertyMap properties = internal::makePropertyMap(count, names, values);
        auto manager = std::make_shared<internal::ModuleManagerShim>(managerContext, managerCallback);
        std::shared_ptr<MessageBus> bus = makeBus();
        const ModuleStatus status =
            base->baseInitialize(textOrEmpty(moduleName), textOrEmpty(secondText), properties, manager, bus);
        if (status.failed())
            return logging::fail(status, UM_AT(failureFunction, failureLine),
                                 L"Failed to initialize base module. Error code %lu.", status);
    }
    return module.initialize();
}

std::uint32_t NewModule(ModuleHandle* handleAddress, const wchar_t* moduleName)
{
    if (handleAddress == nullptr) {
        logging::error(UM_AT(L"NewModule", logline::kNewModuleNoHandleAddress), L"Invalid handle address.");
        return MODULE_STATUS_INVALID_PARAMETER.value();
    }
    if (moduleName != nullptr && moduleName[0] != L'\0')
        SetLoggerIdentity(nullptr, moduleName, nullptr, nullptr, 0);

    return runInsideBarrier(__func__, [&]() -> ModuleStatus {
        Module* module = nullptr;
        const ModuleStatus status = createModule(&module);
        if (status.failed())
            return status;
        // The record owns the module from here; if it cannot be made, destroy the module.
        std::unique_ptr<Module> owner(module);
        *handleAddress = new ModuleHandleRecord{&destroyModule, owner.release()};
        return MODULE_STATUS_SUCCESS;
    });
}

std::uint32_t DestroyModule(ModuleHandle handle)
{
    if (handle == nullptr) {
        logging::error(UM_AT(L"DestroyModule", logline::kDestroyModuleNoHandle), L"Invalid handle.");
        return MODULE_STATUS_INVALID_PARAMETER.value();
    }
    return runInsideBarrier(__func__, [&]() -> ModuleStatus {
        std::unique_ptr<ModuleHandleRecord> record(handle);
        if (record->module != nullptr && record->destroy)
            record->destroy(record->module);
        return MODULE_STATUS_SUCCESS;
    });
}

std::uint32_t InitializeModule(ModuleHandle handle, const wchar_t* moduleName, const wchar_t* secondText,
                               std::uint32_t count, const wchar_t* const* names, const wchar_t* const* values,
                               void* managerContext, ModuleManagerCallback managerCallback)
{
    if (!handleIsUsable(handle, L"InitializeModule", logline::kInitializeModuleNoHandle))
        return MODULE_STATUS_INVALID_PARAMETER.value();
    return runInsideBarrier(__func__, [&]() -> ModuleStatus {
        return initializeWithBus(*handle->module, moduleName, secondText, count, names, values, managerContext,
                                 managerCallback, &internal::createDefaultBusClient,
                                 L"InitializeModule::initializeBaseModule", logline::kInitializeModuleBaseFailed);
    });
}

std::uint32_t StartModule(ModuleHandle handle)
{
    if (!handleIsUsable(handle, L"StartModule", logline::kStartModuleNoHandle))
        return MODULE_STATUS_INVALID_PARAMETER.value();
    return runInsideBarrier(__func__, [&] { return handle->module->start(); });
}

std::uint32_t StopModule(ModuleHandle handle)
{
    if (!handleIsUsable(handle, L"StopModule", logline::kStopModuleNoHandle))
        return MODULE_STATUS_INVALID_PARAMETER.value();
    return runInsideBarrier(__func__, [&] { return handle->module->stop(); });
}

std::uint32_t UninitializeModule(ModuleHandle handle)
{
    if (!handleIsUsable(handle, L"UninitializeModule", logline::kUninitializeModuleNoHandle))
        return MODULE_STATUS_INVALID_PARAMETER.value();
    return runInsideBarrier(__func__, [&] {
        const ModuleStatus status = handle->module->uninitialize();
        // Whatever the module's own answer, the host may initialise it again.
        if (auto* base = dynamic_cast<BaseModule*>(handle->module))
            base->endInitialization();
        return status;
    });
}

std::uint32_t DirectMessage(ModuleHandle handle, const void* header, const wchar_t* name, const wchar_t* sender,
                            const wchar_t* payload)
{
    if (!handleIsUsable(handle, L"DirectMessage", logline::kDirectMessageNoHandle))
        return MODULE_STATUS_INVALID_PARAMETER.value();
    return runInsideBarrier(__func__, [&]() -> ModuleStatus {
        auto* base = dynamic_cast<BaseModule*>(handle->module);
        if (base == nullptr)
            return MODULE_STATUS_SUCCESS;
        return internal::deliverDirectMessage(*base, header, name, sender, payload);
    });
}

std::uint32_t InitializeModuleV2(ModuleHandle handle, const wchar_t* moduleName, const wchar_t* secondText,
                                 std::uint32_t count, const wchar_t* const* names, const wchar_t* const* values,
                                 void* managerContext, ModuleManagerCallback managerCallback, void* busHandle,
                                 const MessageBusFunctions* busFunctions)
{
    if (!handleIsUsable(handle, L"InitializeModuleV2", logline::kInitializeModuleV2NoHandle))
        return MODULE_STATUS_INVALID_PARAMETER.value();
    return runInsideBarrier(__func__, [&]() -> ModuleStatus {
        return initializeWithBus(
            *handle->module, moduleName, secondText, count, names, values, managerContext, managerCallback,
            [&] { return internal::createHostBusClient(busHandle, busFunctions); },
            L"InitializeModuleV2::initializeBaseModule", logline::kInitializeModuleV2BaseFailed);
    });
}

constexpr ModuleEntryTable kEntryTable = {
    &NewModule,         &DestroyModule, &InitializeModule,   &StartModule,
    &StopModule,        &UninitializeModule, &DirectMessage, &InitializeModuleV2,
};

} // namespace

namespace internal {

PropertyMap makePropertyMap(std::uint32_t count, const wchar_t* const* names, const wchar_t* const* values)
{
    PropertyMap properties;
    if (names == nullptr || values == nullptr)
        return properties;
    for (std::uint32_t i = 0; i < count; ++i) {
        // emplace keeps the first value of a repeated name.
        if (names[i] != nullptr)
            properties.emplace(names[i], values[i] != nullptr ? values[i] : L"");
    }
    return properties;
}

} // namespace internal

const ModuleEntryTable& moduleEntryTable()
{
    return kEntryTable;
}

} // namespace Orvik

extern "C" {

const Orvik::ModuleEntryTable* CreateObject()
{
    return &Orvik::moduleEntryTable();
}

void ReleaseObject() {}

std::uint32_t GetVersionNum()
{
    return Orvik::kModuleVersionNumber;
}

const char* GetVersionStr()
{
    return Orvik::kModuleVersionText;
}

} // extern "C"
