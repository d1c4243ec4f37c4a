#pragma once
// Helpers shared by the JSON tests: real temporary files, nested texts, and a
// thread with a small stack standing in for a bus delivery thread.

#include "win/UniqueHandle.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace jsontest {

// A fresh file in the temp folder, deleted when the object goes.
class TempFile {
public:
    TempFile()
    {
        wchar_t folder[MAX_PATH];
        wchar_t name[MAX_PATH];
        if (GetTempPathW(MAX_PATH, folder) && GetTempFileNameW(folder, L"jsn", 0, name))
            path_ = name;
    }
    ~TempFile()
    {
        if (!path_.empty())
            DeleteFileW(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::wstring& path() const { return path_; }

    std::vector<unsigned char> bytes() const
    {
        std::vector<unsigned char> data;
        if (FILE* f = _wfopen(path_.c_str(), L"rb")) {
            int c;
            while ((c = std::fgetc(f)) != EOF)
                data.push_back(static_cast<unsigned char>(c));
            std::fclose(f);
        }
        return data;
    }

    void write(const std::vector<unsigned char>& data) const
    {
        if (FILE* f = _wfopen(path_.c_str(), L"wb")) {
            std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
        }
    }

private:
    std::wstring path_;
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

inline FilePtr openFile(const std::wstring& path, const wchar_t* mode)
{
    return FilePtr(_wfopen(path.c_str(), mode));
}

// The code units of a text as UTF-16 little-endian bytes, optionally after FF FE.
inline std::vector<unsigned char> utf16le(const std::wstring& text, bool withMark)
{
    std::vector<unsigned char> out;
    if (withMark) {
        out.push_back(0xFF);
        out.push_back(0xFE);
    }
    for (wchar_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
    }
    return out;
}

inline std::wstring repeat(const std::wstring& piece, std::size_t times)
{
    std::wstring out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

// An object root holding `depth` nested containers in total:
// {"a":{"a":...{}...}} with depth - 1 inner objects.
inline std::wstring nestedObjects(std::size_t depth)
{
    return repeat(L"{\"a\":", depth - 1) + L"{}" + std::wstring(depth - 1, L'}');
}

// Runs work on a thread whose stack reservation is `stackBytes`. True when the
// work ran to its end; a thread ended by a stack overflow gives false (or
// takes the whole test program down).
template <typename Work>
bool runOnSmallStack(Work& work, SIZE_T stackBytes)
{
    constexpr DWORD kFinished = 0x600D;
    auto entry = [](LPVOID param) -> DWORD {
        (*static_cast<Work*>(param))();
        return kFinished;
    };
    const Orvik::win::UniqueKernelHandle thread(
        CreateThread(nullptr, stackBytes, entry, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread)
        return false;
    DWORD exitCode = 0;
    const bool ended = WaitForSingleObject(thread.get(), 60000) == WAIT_OBJECT_0 &&
                       GetExitCodeThread(thread.get(), &exitCode);
    return ended && exitCode == kFinished;
}

} // namespace jsontest
