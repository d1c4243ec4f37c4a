#include "wrappers/ShlObjAPI.h"

#include "win/SystemProcedure.h"

namespace Orvik {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path)
{
    const auto function = UM_SYSTEM_PROCEDURE(L"shell32.dll", SHGetKnownFolderPath);
    return function != nullptr ? function(id, flags, token, path) : E_NOTIMPL;
}

} // namespace Orvik

namespace Basalt {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path)
{
    const auto function = UM_SYSTEM_PROCEDURE(L"shell32.dll", SHGetKnownFolderPath);
    return function != nullptr ? function(id, flags, token, path) : E_NOTIMPL;
}

} // namespace Basalt
