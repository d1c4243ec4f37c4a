#pragma once
// The file a loaded module came from, whole: the buffer grows until the path
// fits, so a module in a deep folder is never named by a cut-off path.

#include <windows.h>

#include <string>

namespace Orvik {
namespace win {

// The module's full path (null: the process's executable); empty when it
// cannot be read.
inline std::wstring modulePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        // Cut short: the longest path the platform has is 32767 characters.
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

// The last part of a path: what follows its last backslash, or all of it.
inline std::wstring fileNameOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The last part of the module's path ("UpdateModule.dll").
inline std::wstring moduleFileName(HMODULE module)
{
    return fileNameOf(modulePath(module));
}

} // namespace win
} // namespace Orvik
