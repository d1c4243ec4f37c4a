#include "wrappers/FileVersionInfo.h"

#include <cstddef>
#include <cwchar>
#include <utility>

namespace Basalt {
namespace {

constexpr std::size_t kMaxQueryCharacters = 260;

struct Translation {
    WORD language;
    WORD codePage;
};

// The version resource of a PE file in memory (`image`, `size` bytes of the
// file as stored): the first language of the first name of type RT_VERSION.
bool findVersionResource(const BYTE* image, std::size_t size, std::vector<BYTE>& out)
{
    auto fits = [&](std::size_t offset, std::size_t bytes) { return offset <= size && bytes <= size - offset; };
    if (!fits(0, sizeof(IMAGE_DOS_HEADER)))
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const std::size_t ntOffset = static_cast<std::size_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || !fits(ntOffset, sizeof(IMAGE_NT_HEADERS64)))
        return false;
    // The optional header differs between 32-bit and 64-bit images; its
    // resource directory entry is where each of them keeps it.
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + ntOffset);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    IMAGE_DATA_DIRECTORY directory{};
    if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE)
            return false;
        directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    } else if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        const auto* nt32 = reinterpret_cast<const IMAGE_NT_HEADERS32*>(nt);
        if (nt32->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE)
            return false;
        directory = nt32->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    } else {
        return false;
    }
    const std::size_t sectionsOffset =
        ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader;
    const WORD sectionCount = nt->FileHeader.NumberOfSections;
    if (directory.VirtualAddress == 0 || !fits(sectionsOffset, sectionCount * sizeof(IMAGE_SECTION_HEADER)))
        return false;
    const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(image + sectionsOffset);
    // Where in the file an address of the loaded image lies.
    auto fileOffset = [&](DWORD rva, std::size_t bytes, std::size_t& offset) {
        for (WORD i = 0; i < sectionCount; ++i) {
            const IMAGE_SECTION_HEADER& section = sections[i];
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < section.SizeOfRawData) {
                offset = section.PointerToRawData + (rva - section.VirtualAddress);
                return fits(offset, bytes) && rva - section.VirtualAddress + bytes <= section.SizeOfRawData;
            }
        }
        return false;
    };
    std::size_t root = 0;
    if (!fileOffset(directory.VirtualAddress, sizeof(IMAGE_RESOURCE_DIRECTORY), root))
        return false;
    // One level of the resource tree: the entry with `id`, or the first one
    // when `id` is 0; its offset from the root.
    auto enter = [&](std::size_t level, WORD id, DWORD& next) {
        if (!fits(root + level, sizeof(IMAGE_RESOURCE_DIRECTORY)))
            return false;
        const auto* table = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY*>(image + root + level);
        const std::size_t count = static_cast<std::size_t>(table->NumberOfNamedEntries) + table->NumberOfIdEntries;
        const std::size_t entries = root + level + sizeof(IMAGE_RESOURCE_DIRECTORY);
        if (!fits(entries, count * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY)))
            return false;
        const auto* entry = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY*>(image + entries);
        for (std::size_t i = 0; i < count; ++i) {
            if (id == 0 || (!entry[i].NameIsString && entry[i].Id == id)) {
                next = entry[i].OffsetToData;
                return true;
            }
        }
        return false;
    };
    DWORD names = 0, languages = 0, leaf = 0;
    if (!enter(0, 16 /* RT_VERSION */, names) || (names & IMAGE_RESOURCE_DATA_IS_DIRECTORY) == 0 ||
        !enter(names & 0x7FFFFFFF, 0, languages) || (languages & IMAGE_RESOURCE_DATA_IS_DIRECTORY) == 0 ||
        !enter(languages & 0x7FFFFFFF, 0, leaf) || (leaf & IMAGE_RESOURCE_DATA_IS_DIRECTORY) != 0 ||
        !fits(root + leaf, sizeof(IMAGE_RESOURCE_DATA_ENTRY)))
        return false;
    const auto* data = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY*>(image + root + leaf);
    std::size_t offset = 0;
    if (data->Size == 0 || !fileOffset(data->OffsetToData, data->Size, offset))
        return false;
    out.assign(image + offset, image + offset + data->Size);
    return true;
}

} // namespace

bool FileVersionInfo::load(const Orvik::win::HeldFile& file)
{
    if (loaded_ || !file)
        return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0)
        return false;
    const Orvik::win::UniqueKernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping)
        return false;
    const Orvik::win::UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    std::vector<BYTE> data;
    if (!view || !findVersionResource(static_cast<const BYTE*>(view.get()), static_cast<std::size_t>(size.QuadPart), data))
        return false;
    data_ = std::move(data);
    loaded_ = true;
    return true;
}

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
