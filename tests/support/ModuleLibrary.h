#pragma once
// Loads the built UpdateModule.dll the way a host does and hands out its exports.

#include "entry/ModuleFunctions.h"
#include "win/ProcAddress.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace testsupport {

// The build folder: the test programs live in its tests/ sub-folder.
inline std::wstring buildFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/"));       // .../tests
    folder.resize(folder.find_last_of(L"\\/") + 1);   // .../
    return folder;
}

class ModuleLibrary {
public:
    explicit ModuleLibrary(const std::wstring& path = buildFolder() + L"UpdateModule.dll")
        : module_(LoadLibraryW(path.c_str()))
    {
    }

    HMODULE handle() const { return module_.get(); }

    template <typename Function>
    Function get(const char* name) const
    {
        return Orvik::win::procAddress<Function>(module_.get(), name);
    }

    const Orvik::ModuleEntryTable* entries() const
    {
        auto create = get<const Orvik::ModuleEntryTable* (*)()>("CreateObject");
        return create != nullptr ? create() : nullptr;
    }

private:
    Orvik::win::UniqueLibrary module_;
};

} // namespace testsupport
