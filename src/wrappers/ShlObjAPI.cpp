#include "wrappers/ShlObjAPI.h"

namespace Orvik {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path)
{
    return ::SHGetKnownFolderPath(id, flags, token, path);
}

} // namespace Orvik

namespace Basalt {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path)
{
    return ::SHGetKnownFolderPath(id, flags, token, path);
}

} // namespace Basalt
