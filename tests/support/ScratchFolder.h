#pragma once
// A scratch folder under the temporary folder, removed with everything in it
// (read-only files and sub-folders too). Its name is the tag, the process id
// and a count, so folders made in the same moment, or by several test
// programs at once, never meet.

#include "win/UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace testsupport {

class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* tag)
    {
        static std::atomic<unsigned> made{0};
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + tag + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++made);
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder() { removeTree(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    // A name in the folder (nothing is created).
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    struct FindTraits {
        using Handle = HANDLE;
        static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
        static bool close(Handle handle) noexcept { return ::FindClose(handle) != FALSE; }
    };

    static void removeTree(const std::wstring& folder)
    {
        WIN32_FIND_DATAW entry{};
        {
            const Orvik::win::UniqueHandle<FindTraits> find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
            for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &entry) != FALSE) {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring path = folder + L"\\" + name;
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    removeTree(path);
                } else {
                    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileW(path.c_str());
                }
            }
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};

} // namespace testsupport
