#pragma once
// A scratch folder under the temporary folder, removed with everything in it.

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace testsupport {

class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* tag)
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + tag + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount64());
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder()
    {
        const std::wstring pattern = path_ + std::wstring(2, L'\0');
        SHFILEOPSTRUCTW remove{};
        remove.wFunc = FO_DELETE;
        remove.pFrom = pattern.c_str();
        remove.fFlags = FOF_NO_UI;
        ::SHFileOperationW(&remove);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

} // namespace testsupport

