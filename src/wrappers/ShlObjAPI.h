#pragma once
// Replaceable wrappers over the shell's known-folder lookup: one for the
// framework's path macros, one for the core library's version reader.

#include "win/UniqueHandle.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace Orvik {

class ShlObjAPI {
public:
    virtual ~ShlObjAPI() = default;
    // The caller frees `path` with CoTaskMemFree.
    virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path);
};

namespace internal {

// The folder's path through either wrapper (flags 0, no token); empty when the
// shell does not know it.
template <typename Api>
std::wstring knownFolderPath(Api& api, REFKNOWNFOLDERID id)
{
    win::UniqueCoTaskMem<wchar_t> path;
    if (FAILED(api.SHGetKnownFolderPath(id, 0, nullptr, path.put())) || !path)
        return {};
    return path.get();
}

} // namespace internal
} // namespace Orvik

namespace Basalt {

class ShlObjAPI {
public:
    virtual ~ShlObjAPI() = default;
    // The caller frees `path` with CoTaskMemFree.
    virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path);
};

} // namespace Basalt
