#pragma once
// Temporary folders, the build's sandbox binaries and short trace labels.

#include "SystemTestPaths.h"
#include "ScratchFolder.h"

#include "win/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace systemtest {

inline std::wstring sandboxFile(const wchar_t* name)
{
    return std::wstring(UM_SANDBOX_DIR) + L"\\" + name;
}

inline std::wstring ownExecutable()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The first characters of a wide text, for SCOPED_TRACE.
inline std::string label(const std::wstring& text)
{
    return std::string(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(text.size(), 60)));
}

// A fresh folder under the temporary folder, deleted with its content.
class TempFolder : public testsupport::ScratchFolder {
public:
    TempFolder() : ScratchFolder(L"um-system-") {}

    std::wstring write(const std::wstring& name, const std::string& bytes) const
    {
        const Orvik::win::UniqueFile handle(
            ::CreateFileW(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        return file(name);
    }
    std::wstring folder(const std::wstring& name) const
    {
        ::CreateDirectoryW(file(name).c_str(), nullptr);
        return file(name);
    }
};

} // namespace systemtest
