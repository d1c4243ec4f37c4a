#pragma once
// The module entry table the host drives, and the library's exports.

#include "module/ModuleManagerShim.h"
#include "status/ModuleStatus.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace Orvik {

class Module;
struct MessageBusFunctions;

// What a module handle designates: the module and the function that destroys it.
struct ModuleHandleRecord {
    std::function<void(Module*)> destroy;
    Module* module = nullptr;
};
using ModuleHandle = ModuleHandleRecord*;

using NewModuleEntry = std::uint32_t (*)(ModuleHandle* handleAddress, const wchar_t* moduleName);
using DestroyModuleEntry = std::uint32_t (*)(ModuleHandle handle);
using InitializeModuleEntry = std::uint32_t (*)(ModuleHandle handle, const wchar_t* moduleName,
                                                const wchar_t* secondText, std::uint32_t propertyCount,
                                                const wchar_t* const* propertyNames,
                                                const wchar_t* const* propertyValues, void* managerContext,
                                                ModuleManagerCallback managerCallback);
using ModuleOperationEntry = std::uint32_t (*)(ModuleHandle handle);
using DirectMessageEntry = std::uint32_t (*)(ModuleHandle handle, const void* header, const wchar_t* name,
                                             const wchar_t* sender, const wchar_t* payload);
using InitializeModuleV2Entry = std::uint32_t (*)(ModuleHandle handle, const wchar_t* moduleName,
                                                  const wchar_t* secondText, std::uint32_t propertyCount,
                                                  const wchar_t* const* propertyNames,
                                                  const wchar_t* const* propertyValues, void* managerContext,
                                                  ModuleManagerCallback managerCallback, void* busHandle,
                                                  const MessageBusFunctions* busFunctions);

// Slot order as the host indexes it.
struct ModuleEntryTable {
    NewModuleEntry newModule;
    DestroyModuleEntry destroyModule;
    InitializeModuleEntry initializeModule;
    ModuleOperationEntry startModule;
    ModuleOperationEntry stopModule;
    ModuleOperationEntry uninitializeModule;
    DirectMessageEntry directMessage;
    InitializeModuleV2Entry initializeModuleV2;
};
static_assert(sizeof(ModuleEntryTable) == 8 * sizeof(void*), "the host indexes eight pointer slots");

const ModuleEntryTable& moduleEntryTable();

namespace internal {
// The host's property arrays as a map; a repeated name keeps its first value.
std::unordered_map<std::wstring, std::wstring> makePropertyMap(std::uint32_t count, const wchar_t* const* names,
                                                               const wchar_t* const* values);
} // namespace internal

constexpr std::uint32_t kModuleVersionNumber = 2001000;
constexpr char kModuleVersionText[] = "2.1.0";

} // namespace Orvik

extern "C" {
const Orvik::ModuleEntryTable* CreateObject();
void ReleaseObject();
std::uint32_t GetVersionNum();
const char* GetVersionStr();
}
