#include "trust/CabinetCatalogExtractor.h"

#include "win/UniqueHandle.h"

#include <fcntl.h>
#include <fdi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Orvik {
namespace trust {

namespace {

constexpr char kCatalogMember[] = "trusted.js";

using FdiCreateFunction = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int,
                                            PERF);
using FdiCopyFunction = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FdiDestroyFunction = BOOL(DIAMONDAPI*)(HFDI);

struct Extraction;

// A file FDI works on: the cabinet (read only) or the one output file.
struct FdiFile {
    Extraction* owner = nullptr;
    win::UniqueFile handle;
    bool output = false;
};

struct Extraction {
    std::wstring cabinet;
    std::string cabinetToken;  // the only name the open callback accepts
    std::wstring outputPath;
    ULONGLONG maxBytes = 0;
    ULONGLONG written = 0;
    bool outputCreated = false;
    bool outputComplete = false;
    bool failed = false;
    USHORT attributes = 0;
    std::vector<std::unique_ptr<FdiFile>> files;
};

// The callbacks carry no context but the file handle; the extraction under
// way belongs to this thread.
thread_local Extraction* t_extraction = nullptr;

bool isOurs(INT_PTR handle, FdiFile** file)
{
    Extraction* extraction = t_extraction;
    if (extraction == nullptr)
        return false;
    for (const auto& candidate : extraction->files) {
        if (reinterpret_cast<INT_PTR>(candidate.get()) == handle) {
            *file = candidate.get();
            return true;
        }
    }
    return false;
}

bool equalsAsciiIgnoreCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return *a == *b;
}

FNALLOC(fdiAlloc)
{
    return std::malloc(cb);
}

FNFREE(fdiFree)
{
    std::free(pv);
}

FNOPEN(fdiOpen)
{
    Extraction* extraction = t_extraction;
    // Only the cabinet itself is ever opened, read only, by its token name:
    // a name taken from the cabinet (a continuation cabinet) is refused.
    if (extraction == nullptr || pszFile == nullptr || extraction->cabinetToken != pszFile ||
        (oflag & (_O_WRONLY | _O_RDWR | _O_CREAT | _O_TRUNC | _O_APPEND)) != 0)
        return -1;
    auto file = std::make_unique<FdiFile>();
    file->owner = extraction;
    file->handle.reset(::CreateFileW(extraction->cabinet.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file->handle)
        return -1;
    const INT_PTR handle = reinterpret_cast<INT_PTR>(file.get());
    extraction->files.push_back(std::move(file));
    return handle;
}

FNREAD(fdiRead)
{
    FdiFile* file = nullptr;
    if (!isOurs(hf, &file) || file->output || !file->handle)
        return static_cast<UINT>(-1);
    DWORD read = 0;
    if (!::ReadFile(file->handle.get(), pv, cb, &read, nullptr))
        return static_cast<UINT>(-1);
    return read;
}

FNWRITE(fdiWrite)
{
    FdiFile* file = nullptr;
    if (!isOurs(hf, &file) || !file->output || !file->handle)
        return static_cast<UINT>(-1);
    Extraction* extraction = file->owner;
    if (extraction->written + cb > extraction->maxBytes) {
        extraction->failed = true;
        return static_cast<UINT>(-1);
    }
    DWORD written = 0;
    if (!::WriteFile(file->handle.get(), pv, cb, &written, nullptr) || written != cb) {
        extraction->failed = true;
        return static_cast<UINT>(-1);
    }
    extraction->written += written;
    return written;
}

FNCLOSE(fdiClose)
{
    FdiFile* file = nullptr;
    if (!isOurs(hf, &file))
        return -1;
    file->handle.reset();
    return 0;
}

FNSEEK(fdiSeek)
{
    FdiFile* file = nullptr;
    if (!isOurs(hf, &file) || !file->handle)
        return -1;
    DWORD method = FILE_BEGIN;
    if (seektype == SEEK_CUR)
        method = FILE_CURRENT;
    else if (seektype == SEEK_END)
        method = FILE_END;
    LARGE_INTEGER distance{};
    distance.QuadPart = dist;
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(file->handle.get(), distance, &position, method) || position.QuadPart > 0x7FFFFFFF)
        return -1;
    return static_cast<__LONG32>(position.QuadPart);
}

INT_PTR createOutput(Extraction* extraction, ULONG declaredSize)
{
    // One member only, however often the cabinet lists the name.
    if (extraction->outputCreated)
        return 0;
    if (declaredSize > extraction->maxBytes) {
        extraction->failed = true;
        return -1;
    }
    auto file = std::make_unique<FdiFile>();
    file->owner = extraction;
    file->output = true;
    file->handle.reset(::CreateFileW(extraction->outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file->handle) {
        extraction->failed = true;
        return -1;
    }
    extraction->outputCreated = true;
    const INT_PTR handle = reinterpret_cast<INT_PTR>(file.get());
    extraction->files.push_back(std::move(file));
    return handle;
}

FNFDINOTIFY(fdiNotify)
{
    Extraction* extraction = t_extraction;
    if (extraction == nullptr || pfdin == nullptr)
        return -1;
    switch (fdint) {
    case fdintCOPY_FILE:
        if (pfdin->psz1 != nullptr && equalsAsciiIgnoreCase(pfdin->psz1, kCatalogMember))
            return createOutput(extraction, pfdin->cb);
        return 0;  // skip every other member
    case fdintCLOSE_FILE_INFO: {
        FdiFile* file = nullptr;
        if (!isOurs(pfdin->hf, &file) || !file->output)
            return FALSE;
        file->handle.reset();
        extraction->attributes = pfdin->attribs;
        extraction->outputComplete = !extraction->failed;
        return TRUE;
    }
    case fdintNEXT_CABINET:
        return -1;  // continuation cabinets are not followed
    case fdintCABINET_INFO:
    case fdintPARTIAL_FILE:
    case fdintENUMERATE:
    default:
        return 0;
    }
}

class CabinetLibrary {
public:
    CabinetLibrary()
    {
        wchar_t system[MAX_PATH + 1] = {};
        const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return;
        library_.reset(::LoadLibraryExW((std::wstring(system) + L"\\Cabinet.dll").c_str(), nullptr, 0));
        if (!library_)
            return;
        create = reinterpret_cast<FdiCreateFunction>(exported("FDICreate"));
        copy = reinterpret_cast<FdiCopyFunction>(exported("FDICopy"));
        destroy = reinterpret_cast<FdiDestroyFunction>(exported("FDIDestroy"));
    }
    bool usable() const { return create != nullptr && copy != nullptr && destroy != nullptr; }

    FdiCreateFunction create = nullptr;
    FdiCopyFunction copy = nullptr;
    FdiDestroyFunction destroy = nullptr;

private:
    using AnyFunction = void (*)();
    AnyFunction exported(const char* name) const
    {
        return reinterpret_cast<AnyFunction>(::GetProcAddress(library_.get(), name));
    }

    win::UniqueLibrary library_;
};

class FdiContext {
public:
    FdiContext(const CabinetLibrary& library, ERF* errors) : library_(library)
    {
        handle_ = library_.create(fdiAlloc, fdiFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpuUNKNOWN,
                                  errors);
    }
    ~FdiContext()
    {
        if (handle_ != nullptr)
            library_.destroy(handle_);
    }
    FdiContext(const FdiContext&) = delete;
    FdiContext& operator=(const FdiContext&) = delete;
    HFDI get() const { return handle_; }

private:
    const CabinetLibrary& library_;
    HFDI handle_ = nullptr;
};

class ThreadExtraction {
public:
    explicit ThreadExtraction(Extraction* extraction) : previous_(t_extraction) { t_extraction = extraction; }
    ~ThreadExtraction() { t_extraction = previous_; }
    ThreadExtraction(const ThreadExtraction&) = delete;
    ThreadExtraction& operator=(const ThreadExtraction&) = delete;

private:
    Extraction* previous_;
};

std::wstring temporaryFolder(const CabinetExtractionOptions& options)
{
    if (!options.temporaryFolder.empty())
        return options.temporaryFolder;
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(folder);
}

void deleteFile(const std::wstring& path)
{
    if (path.empty())
        return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
}

} // namespace

ExtractedCatalog::ExtractedCatalog(std::wstring path, std::wstring placeholder)
    : path_(std::move(path)), placeholder_(std::move(placeholder))
{
}

ExtractedCatalog::~ExtractedCatalog()
{
    deleteFile(path_);
    deleteFile(placeholder_);
}

std::unique_ptr<ExtractedCatalog> extractTrustedCatalog(const std::wstring& cabinet,
                                                        const CabinetExtractionOptions& options)
{
    if (cabinet.empty())
        return nullptr;
    CabinetLibrary library;
    if (!library.usable())
        return nullptr;

    const std::wstring folder = temporaryFolder(options);
    wchar_t reserved[MAX_PATH + 1] = {};
    if (folder.empty() || ::GetTempFileNameW(folder.c_str(), L"trustedjs", 0, reserved) == 0)
        return nullptr;
    std::wstring outputPath(reserved);
    const std::size_t dot = outputPath.find_last_of(L'.');
    const std::size_t slash = outputPath.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        outputPath.resize(dot);
    outputPath += L".js";
    // Owns the reserved name from here on, and the output once it is created:
    // both are deleted unless the extraction succeeds.
    auto result = std::make_unique<ExtractedCatalog>(std::wstring(), reserved);

    Extraction extraction;
    extraction.cabinet = cabinet;
    char token[64];
    std::snprintf(token, sizeof(token), "trusted-catalog-cabinet-%p", static_cast<void*>(&extraction));
    extraction.cabinetToken = token;
    extraction.outputPath = outputPath;
    extraction.maxBytes = options.maxMemberBytes;

    BOOL copied = FALSE;
    {
        ThreadExtraction current(&extraction);
        ERF errors{};
        FdiContext context(library, &errors);
        if (context.get() == nullptr)
            return nullptr;
        char emptyPath[1] = {'\0'};
        copied = library.copy(context.get(), &extraction.cabinetToken[0], emptyPath, 0, fdiNotify, nullptr,
                              nullptr);
        extraction.files.clear();  // closes every handle FDI left open
    }
    if (extraction.outputCreated)
        result->adopt(outputPath);
    if (!copied || !extraction.outputComplete || extraction.failed)
        return nullptr;
    const DWORD kept = extraction.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    ::SetFileAttributesW(outputPath.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    return result;
}

} // namespace trust
} // namespace Orvik
