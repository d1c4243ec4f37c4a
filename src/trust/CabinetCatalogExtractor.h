#pragma once
// Takes the trust catalog ("trusted.js") out of a cabinet through Cabinet.dll,
// loaded at run time. Only that one member is extracted, into one new
// temporary file; nothing the cabinet says about names, folders, sizes or
// continuation cabinets makes it write anywhere else.

#include <windows.h>

#include <memory>
#include <string>

namespace Orvik {
namespace trust {

// A temporary file holding an extracted catalog; deleted on destruction.
class ExtractedCatalog {
public:
    ExtractedCatalog(std::wstring path, std::wstring placeholder);
    ~ExtractedCatalog();
    ExtractedCatalog(const ExtractedCatalog&) = delete;
    ExtractedCatalog& operator=(const ExtractedCatalog&) = delete;

    const std::wstring& path() const { return path_; }

    // Takes over a file the extraction created.
    void adopt(std::wstring path) { path_ = std::move(path); }

private:
    std::wstring path_;
    std::wstring placeholder_;  // the unique name GetTempFileNameW reserved
};

struct CabinetExtractionOptions {
    // Folder for the temporary file; empty: the user's temporary folder.
    std::wstring temporaryFolder;
    // A member claiming or producing more than this is not extracted.
    ULONGLONG maxMemberBytes = 4ull * 1024 * 1024;
};

// The extracted catalog, or null when the cabinet holds no usable "trusted.js"
// (case-insensitive), cannot be read, or Cabinet.dll is not available.
std::unique_ptr<ExtractedCatalog> extractTrustedCatalog(const std::wstring& cabinet,
                                                        const CabinetExtractionOptions& options = {});

} // namespace trust
} // namespace Orvik
