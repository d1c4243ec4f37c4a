#include "dll/SharedLibrary.h"

#include "dll/DllLoader.h"
#include "dll/PathSearch.h"
#include "Logging/Logger.h"
#include "paths/PathHelpers.h"
#include "registry/CRegKey.h"
#include "status/ModuleException.h"
#include "wrappers/FileVersionInfo.h"

#include <algorithm>
#include <array>
#include <cwctype>

namespace Orvik {
namespace {

UM_LOG_SOURCE(L"Orvik::SharedLibrary");
constexpr wchar_t kBlockListKey[] = L"SOFTWARE\\Corvane\\Tesl\\List\\";

std::wstring lowerCase(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The framework's own libraries are never blocked.
bool isFrameworkLibrary(const std::wstring& lowerName)
{
    static const std::array<std::wstring, 4> kNames = {L"syswatch.dll", L"propstore.dll", L"modhost.dll",
                                                       L"busbroker.dll"};
    return std::find(kNames.begin(), kNames.end(), lowerName) != kNames.end();
}

// A folder still holding a macro after expansion, or not rooted, would be
// looked up relative to the current directory: it can hold nothing we load.
bool isUsableFolder(const std::wstring& folder)
{
    if (folder.find(L"$(") != std::wstring::npos)
        return false;
    const bool driveRoot = folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/');
    const bool uncRoot = folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\';
    return driveRoot || uncRoot;
}

// The block-list check of a held file named `name`; empty collaborators are made for the call.
bool blockedVersion(const win::HeldFile& file, const std::wstring& name,
                    std::shared_ptr<Basalt::FileVersionInfo> versionInfo, std::shared_ptr<Basalt::CRegKey> key);

} // namespace

SharedLibrary::SharedLibrary(const LibraryInfo& library, std::shared_ptr<DllLoader> loader,
                             std::shared_ptr<PathHelpers> macros, std::shared_ptr<PathSearch> search,
                             std::shared_ptr<Basalt::FileVersionInfo> versionInfo,
                             std::shared_ptr<Basalt::CRegKey> registryKey)
    : name_(library.name),
      folders_(library.folders),
      loader_(loader ? std::move(loader) : std::make_shared<DllLoader>()),
      macros_(macros ? std::move(macros) : std::make_shared<PathHelpers>()),
      search_(search ? std::move(search) : std::make_shared<PathSearch>()),
      versionInfo_(std::move(versionInfo)),
      registryKey_(std::move(registryKey))
{
    if (loadLibrary().failed()) {
        logging::error(UM_HERE, L"Failed to load library: %ls. Throwing ModuleException.",
                     name_.c_str());
        throw ModuleException("Failed to load library");
    }
    if (importFunctions().failed()) {
        logging::error(UM_HERE, L"Failed to import functions from library: %ls. Throwing ModuleException.", name_.c_str());
        static_cast<void>(unloadLibrary()); // logs its own failure
        throw ModuleException("Failed to import functions from library");
    }
}

SharedLibrary::~SharedLibrary()
{
    static_cast<void>(unloadLibrary()); // logs its own failure
}

const LibraryFunctions* SharedLibrary::getLibraryFunctions() const
{
    return &functions_;
}

ModuleStatus SharedLibrary::loadLibrary()
{
    std::vector<std::wstring> usable;
    for (std::wstring& folder : folders_) {
        const std::wstring written = folder;
        if (!macros_->expandMacros(folder)) {
            logging::error(UM_HERE, L"Failed to resolve file path, %ls, for library: %ls.",
                         written.c_str(), name_.c_str());
            return MODULE_STATUS_NOT_FOUND;
        }
        if (isUsableFolder(folder))
            usable.push_back(folder);
    }
    search_->addSearchPaths(usable);
    std::wstring found;
    if (!search_->findFilePath(name_, found)) {
        logging::error(UM_HERE, L"Failed to find valid path for library: %ls.", name_.c_str());
        return MODULE_STATUS_NOT_FOUND;
    }
    logging::normal(UM_HERE, L"Loading %ls from %ls.", name_.c_str(), found.c_str());
    const std::wstring path = found + L"\\" + name_;
    // Held from the version check until the load is done: no listed version
    // can be put in its place in between.
    const win::HeldFile held(path);
    if (isBlocked(held, name_)) {
        logging::information(UM_HERE, L"Blocked library: %ls.", path.c_str());
        return MODULE_STATUS_NOT_SUPPORTED;
    }
    if (!loader_->loadDLL(path, &module_)) {
        module_ = nullptr;
        logging::error(UM_HERE, L"Failed to load library: %ls.", name_.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

bool SharedLibrary::isBlocked(const std::wstring& folder, const std::wstring& name) const
{
    if (folder.empty() || name.empty())
        return false;
    return isBlocked(win::HeldFile(lowerCase(folder) + L"\\" + lowerCase(name)), name);
}

bool SharedLibrary::isBlocked(const win::HeldFile& file, const std::wstring& name) const
{
    return blockedVersion(file, name, versionInfo_, registryKey_);
}

bool isSearchableFolder(const std::wstring& folder)
{
    return isUsableFolder(folder);
}

bool isBlockedLibrary(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || name.empty())
        return false;
    return blockedVersion(win::HeldFile(lowerCase(folder) + L"\\" + lowerCase(name)), name, nullptr, nullptr);
}

namespace {

bool blockedVersion(const win::HeldFile& file, const std::wstring& name,
                    std::shared_ptr<Basalt::FileVersionInfo> versionInfo, std::shared_ptr<Basalt::CRegKey> key)
{
    const std::wstring lowerName = lowerCase(name);
    if (name.empty() || isFrameworkLibrary(lowerName))
        return false;

    if (!versionInfo)
        versionInfo = std::make_shared<Basalt::FileVersionInfo>();
    if (!versionInfo->load(file))
        return false;
    const std::wstring version = versionInfo->value(L"FileVersion");

    if (!key)
        key = std::make_shared<Basalt::CObfuscatedRegKey>();
    if (key->Open(HKEY_LOCAL_MACHINE, (kBlockListKey + lowerName).c_str(), KEY_READ) != ERROR_SUCCESS)
        return false;
    std::wstring listed;
    if (key->QueryStringValue(version.c_str(), listed) != ERROR_SUCCESS)
        listed.clear();
    key->Close();
    return listed == version;
}

} // namespace

ModuleStatus SharedLibrary::importFunctions()
{
    const char* const caller = __func__;
    const auto import = [&](const char* exportName, auto& slot) {
        FARPROC address = loader_->getProcAddress(module_, exportName);
        if (address == nullptr) {
            logging::error(UM_HERE_AS(caller), L"Failed to load %hs function from library: %ls.", exportName,
                         name_.c_str());
            return false;
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(reinterpret_cast<void (*)()>(address));
        return true;
    };
    if (import("CreateObject", functions_.createObject) && import("ReleaseObject", functions_.releaseObject) &&
        import("GetVersionStr", functions_.getVersionStr) && import("GetVersionNum", functions_.getVersionNum))
        return MODULE_STATUS_SUCCESS;
    return MODULE_STATUS_NOT_FOUND;
}

ModuleStatus SharedLibrary::unloadLibrary() noexcept
{
    try {
        if (module_ == nullptr)
            return MODULE_STATUS_SUCCESS;
        if (loader_->free(module_)) {
            module_ = nullptr;
            functions_ = LibraryFunctions{};
            return MODULE_STATUS_SUCCESS;
        }
        logging::error(UM_HERE, L"Failed to free library: %ls.",
                     name_.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    } catch (...) {
        return logging::fail(MODULE_STATUS_UNKNOWN_EXCEPTION, UM_HERE,
                             L"Unexpected exception while freeing library: %ls.", name_.c_str());
    }
}

} // namespace Orvik
