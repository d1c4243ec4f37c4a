#pragma once
// Finds, vets, loads and binds one framework library: a sibling library of the
// module host that exports CreateObject, ReleaseObject, GetVersionStr and
// GetVersionNum. Construction does all the work and either yields a bound
// library or throws ModuleException; destruction frees the library.

#include "status/ModuleStatus.h"
#include "win/HeldFile.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Basalt {
class CRegKey;
class FileVersionInfo;
} // namespace Basalt

namespace Orvik {

class DllLoader;
class PathHelpers;
class PathSearch;

// A library's file name and the folders that may hold it, in search order;
// the folders may contain path macros such as "$(App.Folder)".
struct LibraryInfo {
    std::wstring name;
    std::vector<std::wstring> folders;
};

// The four entry points of a framework library, in the order they are imported.
struct LibraryFunctions {
    using CreateObjectFunction = const void* (*)(std::uint32_t interfaceVersion);
    using ReleaseObjectFunction = void (*)();
    using GetVersionStrFunction = const char* (*)();
    using GetVersionNumFunction = std::uint32_t (*)();

    CreateObjectFunction createObject = nullptr;
    ReleaseObjectFunction releaseObject = nullptr;
    GetVersionStrFunction getVersionStr = nullptr;
    GetVersionNumFunction getVersionNum = nullptr;
};

// Whether the search can use a folder once its macros are expanded: rooted,
// and with no macro left in it. Others are left out of the search.
bool isSearchableFolder(const std::wstring& folder);

// The block-list verdict the loader gives folder\name, for reports: the
// same check with the loader's default version reader and registry key.
bool isBlockedLibrary(const std::wstring& folder, const std::wstring& name);

class SharedLibrary {
public:
    // Every collaborator may be empty: the loader, expander and searcher are
    // then the real ones, and the block-list check makes its own version reader
    // and scrambled registry key each time it runs.
    SharedLibrary(const LibraryInfo& library, std::shared_ptr<DllLoader> loader = {},
                  std::shared_ptr<PathHelpers> macros = {}, std::shared_ptr<PathSearch> search = {},
                  std::shared_ptr<Basalt::FileVersionInfo> versionInfo = {},
                  std::shared_ptr<Basalt::CRegKey> registryKey = {});
    virtual ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Valid as long as this object lives.
    virtual const LibraryFunctions* getLibraryFunctions() const;

    // Whether the registry's block list names this version of the file at
    // folder\name. The four framework libraries are never blocked.
    bool isBlocked(const std::wstring& folder, const std::wstring& name) const;

private:
    // The same for a held file named `name`, its version read through the handle.
    bool isBlocked(const win::HeldFile& file, const std::wstring& name) const;
    ModuleStatus loadLibrary();
    ModuleStatus importFunctions();
    ModuleStatus unloadLibrary() noexcept;

    const std::wstring name_;
    std::vector<std::wstring> folders_;
    std::shared_ptr<DllLoader> loader_;
    std::shared_ptr<PathHelpers> macros_;
    std::shared_ptr<PathSearch> search_;
    std::shared_ptr<Basalt::FileVersionInfo> versionInfo_;
    std::shared_ptr<Basalt::CRegKey> registryKey_;
    HMODULE module_ = nullptr;  // freed through loader_, see unloadLibrary
    LibraryFunctions functions_;
};

} // namespace Orvik
