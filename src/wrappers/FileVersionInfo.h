#pragma once
// Reads string entries ("FileVersion", "ProductVersion", ...) from the version
// resource of a file. One object holds one file's resource: a second load is
// refused and keeps the first file's data.

#include "win/HeldFile.h"
#include "wrappers/ShlObjAPI.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace Basalt {

class FileVersionInfo {
public:
    static constexpr const wchar_t* kCompanyName = L"CompanyName";
    static constexpr const wchar_t* kFileDescription = L"FileDescription";
    static constexpr const wchar_t* kFileVersion = L"FileVersion";
    static constexpr const wchar_t* kProductName = L"ProductName";
    static constexpr const wchar_t* kProductVersion = L"ProductVersion";
    static constexpr const wchar_t* kLegalCopyright = L"LegalCopyright";

    FileVersionInfo() = default;
    virtual ~FileVersionInfo() = default;

    // False when already loaded or when the file has no readable version resource.
    virtual bool load(const std::wstring& path);
    // The same for a held file, read through its handle: what is read is what
    // a load of the still-held file maps.
    virtual bool load(const Orvik::win::HeldFile& file);
    // The entry in the first language of the translation table that has it;
    // empty when not loaded or nowhere present.
    virtual std::wstring value(const std::wstring& key);

private:
    std::vector<BYTE> data_;
    bool loaded_ = false;
};

// Reads files of the Windows system folder by bare name ("kernel32.dll").
class SystemFileVersionInfo : public FileVersionInfo {
public:
    // An empty `shell` means the real one.
    explicit SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell = {});

    bool load(const std::wstring& fileName) override;

private:
    const std::wstring& systemFolder();

    std::shared_ptr<ShlObjAPI> shell_;
    std::wstring systemFolder_;
    bool haveSystemFolder_ = false;
};

} // namespace Basalt
