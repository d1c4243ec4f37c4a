#include "wrappers/FileVersionInfo.h"

#include <cwchar>
#include <utility>

namespace Basalt {
namespace {

constexpr std::size_t kMaxQueryCharacters = 260;

struct Translation {
    WORD language;
    WORD codePage;
};

} // namespace

bool FileVersionInfo::load(const std::wstring& path)
{
    if (loaded_)
        return false;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<BYTE> data(size);
    if (::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) != 1)
        return false;
    data_ = std::move(data);
    loaded_ = true;
    return true;
}

std::wstring FileVersionInfo::value(const std::wstring& key)
{
    if (!loaded_)
        return {};
    void* table = nullptr;
    UINT tableBytes = 0;
    if (!::VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &table, &tableBytes) || table == nullptr)
        return {};

    const auto* translations = static_cast<const Translation*>(table);
    for (UINT i = 0; i < tableBytes / sizeof(Translation); ++i) {
        wchar_t query[kMaxQueryCharacters + 1];
        const int length = ::_snwprintf(query, kMaxQueryCharacters, L"\\StringFileInfo\\%04X%04X\\%ls",
                                        translations[i].language, translations[i].codePage, key.c_str());
        if (length < 0 || static_cast<std::size_t>(length) >= kMaxQueryCharacters)
            return {}; // a key that long names no entry
        query[length] = L'\0';
        void* text = nullptr;
        UINT characters = 0;
        if (::VerQueryValueW(data_.data(), query, &text, &characters) && text != nullptr && characters > 0) {
            const auto* begin = static_cast<const wchar_t*>(text);
            return std::wstring(begin, ::wcsnlen(begin, characters));
        }
    }
    return {};
}

SystemFileVersionInfo::SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell)
    : shell_(shell ? std::move(shell) : std::make_shared<ShlObjAPI>())
{
}

bool SystemFileVersionInfo::load(const std::wstring& fileName)
{
    return FileVersionInfo::load(systemFolder() + L'\\' + fileName);
}

const std::wstring& SystemFileVersionInfo::systemFolder()
{
    if (!haveSystemFolder_) {
        systemFolder_ = Orvik::internal::knownFolderPath(*shell_, FOLDERID_System);
        // Without it the name is taken from the root of the current drive; a
        // second backslash would make a network path of it.
        haveSystemFolder_ = true;
    }
    return systemFolder_;
}

} // namespace Basalt
