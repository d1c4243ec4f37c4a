#include "paths/PathHelpers.h"
#include "Logging/Logger.h"
#include "win/ModulePath.h"

#include <windows.h>
#include <knownfolders.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <utility>

namespace Orvik {
namespace {
UM_LOG_SOURCE_NAMED(L"paths\\PathHelpers", L"Orvik::PathHelpers");
}

namespace internal {

class PathHelpersImpl {
public:
    PathHelpersImpl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<OSInfo> osInfo,
                    std::shared_ptr<RegistryAPI> registry)
        : shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>()),
          osInfo(osInfo ? std::move(osInfo) : std::make_shared<OSInfo>()),
          registry(registry ? std::move(registry) : std::make_shared<RegistryAPI>())
    {
    }

    std::shared_ptr<ShlObjAPI> shell;
    std::shared_ptr<OSInfo> osInfo;
    std::shared_ptr<RegistryAPI> registry;
};

const wchar_t kMacroPattern[] = LR"(\$\([^$()]+\))";

// Same language as kMacroPattern, scanned by hand: the standard library's
// regex engine recurses once per matched character and runs out of stack on
// long paths.
bool findMacro(const std::wstring& text, std::size_t from, std::size_t& position, std::size_t& length)
{
    std::size_t start = text.find(L"$(", from);
    while (start != std::wstring::npos) {
        const std::size_t end = text.find_first_of(L"$()", start + 2);
        if (end == std::wstring::npos)
            return false;
        if (text[end] == L')' && end > start + 2) {
            position = start;
            length = end + 1 - start;
            return true;
        }
        // No macro starts before `end`: nothing in between is a '$'.
        start = text.find(L"$(", end);
    }
    return false;
}

namespace {

using MacroValue = std::function<std::wstring(const PathHelpersImpl&)>;

// The host executable's path, split once per process.
struct ExecutableParts {
    std::wstring drive;     // 1
    std::wstring directory; // 2
    std::wstring name;      // 4
    std::wstring extension; // 8

    ExecutableParts()
    {
        const std::wstring path = Orvik::win::modulePath(nullptr);
        if (path.empty())
            return; // unreadable: every part stays empty
        wchar_t d[3], dir[256], n[256], ext[256];
        if (::_wsplitpath_s(path.c_str(), d, 3, dir, 256, n, 256, ext, 256) != 0)
            return; // a part too long for the table: every part stays empty
        drive = d;
        directory = dir;
        name = n;
        extension = ext;
    }

    std::wstring join(unsigned mask) const
    {
        std::wstring joined;
        if (mask & 1)
            joined += drive;
        if (mask & 2)
            joined += directory;
        if (mask & 4)
            joined += name;
        if (mask & 8)
            joined += extension;
        return joined;
    }
};

const ExecutableParts& executableParts()
{
    static const ExecutableParts parts;
    return parts;
}

MacroValue appMacro(unsigned mask)
{
    return [mask](const PathHelpersImpl&) { return executableParts().join(mask); };
}

MacroValue knownFolderMacro(const KNOWNFOLDERID& folder)
{
    const KNOWNFOLDERID* id = &folder;
    return [id](const PathHelpersImpl& impl) { return knownFolderPath(*impl.shell, *id); };
}

std::wstring platformValue(const PathHelpersImpl& impl)
{
    switch (impl.osInfo->getPlatformClass()) {
    case 0: return L"win32";
    case 1: return L"x64";
    case 2: return L"PlatformUnknown";
    default: return {};
    }
}

std::wstring installFolderValue(const PathHelpersImpl& impl)
{
    // A 32-bit process on 64-bit Windows installs beside the 32-bit framework.
    const wchar_t* valueName = impl.osInfo->isWow64() ? L"Install Dir32" : L"Install Dir";
    std::wstring folder;
    if (impl.registry->readString(L"SOFTWARE\\CORVANE\\TESL", valueName, folder) != MODULE_STATUS_SUCCESS)
        return {};
    return folder;
}

const std::map<std::wstring, MacroValue>& macroTable()
{
    static const std::map<std::wstring, MacroValue> table = {
        {L"$(OS.Platform)", platformValue},
        {L"$(App.Folder)", appMacro(1 | 2)},
        {L"$(App.Name)", appMacro(4)},
        {L"$(App.Binary)", appMacro(4 | 8)},
        {L"$(App.Path)", appMacro(1 | 2 | 4 | 8)},
        {L"$(Tessel.InstallDir)", installFolderValue},
        {L"$(FOLDERID_Profile)", knownFolderMacro(FOLDERID_Profile)},
        {L"$(FOLDERID_Desktop)", knownFolderMacro(FOLDERID_Desktop)},
        {L"$(FOLDERID_Documents)", knownFolderMacro(FOLDERID_Documents)},
        {L"$(FOLDERID_LocalAppDataLow)", knownFolderMacro(FOLDERID_LocalAppDataLow)},
        {L"$(FOLDERID_LocalAppData)", knownFolderMacro(FOLDERID_LocalAppData)},
        {L"$(FOLDERID_RoamingAppData)", knownFolderMacro(FOLDERID_RoamingAppData)},
        {L"$(FOLDERID_ProgramData)", knownFolderMacro(FOLDERID_ProgramData)},
        {L"$(FOLDERID_ProgramFiles)", knownFolderMacro(FOLDERID_ProgramFiles)},
        {L"$(FOLDERID_ProgramFilesX64)", knownFolderMacro(FOLDERID_ProgramFilesX64)},
        {L"$(FOLDERID_ProgramFilesX86)", knownFolderMacro(FOLDERID_ProgramFilesX86)},
        {L"$(FOLDERID_ProgramFilesCommon)", knownFolderMacro(FOLDERID_ProgramFilesCommon)},
        {L"$(FOLDERID_ProgramFilesCommonX64)", knownFolderMacro(FOLDERID_ProgramFilesCommonX64)},
        {L"$(FOLDERID_ProgramFilesCommonX86)", knownFolderMacro(FOLDERID_ProgramFilesCommonX86)},
    };
    return table;
}

// Built while the library initialises, before any thread can expand a path.
const bool kMacroTableBuilt = !macroTable().empty();

std::wstring macroValue(const PathHelpersImpl& impl, const std::wstring& macro)
{
    const auto& table = macroTable();
    const auto entry = table.find(macro);
    if (entry == table.end())
        return {};
    try {
        return entry->second(impl);
    } catch (...) {
        // A wrapper that fails leaves the macro as written.
        logging::warning(UM_HERE_AS("expandMacros"), L"Failed to expand %ls; it stays as written.", macro.c_str());
        return {};
    }
}

} // namespace
} // namespace internal

PathHelpers::PathHelpers(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<OSInfo> osInfo,
                         std::shared_ptr<RegistryAPI> registry)
    : impl_(std::make_shared<internal::PathHelpersImpl>(std::move(shell), std::move(osInfo), std::move(registry)))
{
}

PathHelpers::~PathHelpers() = default;

bool PathHelpers::expandMacros(std::wstring& path)
{
    (void)internal::kMacroTableBuilt;
    try {
        std::wstring expanded;
        std::size_t rest = 0;
        std::size_t position = 0;
        std::size_t length = 0;
        while (internal::findMacro(path, rest, position, length)) {
            const std::wstring macro = path.substr(position, length);
            const std::wstring value = internal::macroValue(*impl_, macro);
            expanded.append(path, rest, position - rest);
            expanded += value.empty() ? macro : value;
            rest = position + length;
        }
        expanded.append(path, rest, std::wstring::npos);
        path.swap(expanded);
        return true;
    } catch (...) {
        // Out of memory: the path stays as it was.
        logging::error(UM_HERE, L"Failed to expand the macros of %ls.", path.c_str());
        return false;
    }
}

} // namespace Orvik
