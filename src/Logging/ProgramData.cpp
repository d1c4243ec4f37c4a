#include "Logging/ProgramData.h"

#include "win/SystemProcedure.h"
#include "win/UniqueHandle.h"

#include <shlobj.h>
#include <windows.h>

namespace ETWLogging {
namespace internal {

std::uint32_t GetProgramDataFolder(std::wstring& folder)
{
    Orvik::win::UniqueCoTaskMem<wchar_t> path;
    const auto getKnownFolderPath = UM_SYSTEM_PROCEDURE(L"shell32.dll", SHGetKnownFolderPath);
    if (getKnownFolderPath == nullptr ||
        FAILED(getKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, path.put())) || !path)
        return ERROR_INVALID_PARAMETER;
    folder = path.get();
    return 0;
}

} // namespace internal
} // namespace ETWLogging
