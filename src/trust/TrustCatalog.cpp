#include "trust/TrustCatalog.h"

#include "trust/FileSignatureCheck.h"
#include "trust/TrustAnchors.h"
#include "win/UniqueHandle.h"
#include "win/FileLock.h"

#include <shlwapi.h>

#include <algorithm>
#include <vector>

namespace Orvik {
namespace trust {

const wchar_t kCatalogAtomName[] = L"6E2B7F3C-1D84-4B9A-A5C0-93F1E7D2B846";

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kFileLockPatienceMs = 5000;
constexpr DWORD kFileLockRetryMs = 20;
constexpr wchar_t kCatalogRelativePath[] = L"Program Files\\Common Files\\Corvane\\Platform\\Core\\trusted.js";
constexpr wchar_t kTemporaryName[] = L"trusted.tmp";

// Exactly one signer, and it holds the catalog signer's certificate.
CatalogReadStatus checkCatalogSigner(const std::wstring& path, const Thumbprint& expected)
{
    DWORD encoding = 0, contentType = 0, formatType = 0;
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &rawStore,
                            &rawMessage, nullptr))
        return CatalogReadStatus::NotSigned;
    win::UniqueCertStore store(rawStore);
    win::UniqueCryptMsg message(rawMessage);

    DWORD signerCount = 0;
    DWORD size = sizeof(signerCount);
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signerCount, &size) || signerCount != 1)
        return CatalogReadStatus::WrongSigner;
    size = 0;
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) || size == 0)
        return CatalogReadStatus::WrongSigner;
    std::vector<BYTE> buffer(size);
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, buffer.data(), &size))
        return CatalogReadStatus::WrongSigner;
    win::UniqueCertContext certificate(::CertGetSubjectCertificateFromStore(
        store.get(), kEncoding, reinterpret_cast<PCERT_INFO>(buffer.data())));
    if (!certificate)
        return CatalogReadStatus::WrongSigner;
    BYTE hash[kThumbprintSize];
    DWORD hashSize = sizeof(hash);
    if (!::CertGetCertificateContextProperty(certificate.get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize) ||
        hashSize != expected.size() || !std::equal(expected.begin(), expected.end(), hash))
        return CatalogReadStatus::WrongSigner;

    return verifyFileTrust(path) == 0 ? CatalogReadStatus::Loaded : CatalogReadStatus::TrustRefused;
}

bool readAll(HANDLE file, std::size_t size, std::string* bytes)
{
    bytes->assign(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        if (!::ReadFile(file, &(*bytes)[done], chunk, &read, nullptr) || read == 0)
            return false;
        done += read;
    }
    return true;
}

bool writeAll(HANDLE file, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// True when `path` still names the file open as `file`.
bool sameFile(HANDLE file, const std::wstring& path)
{
    win::UniqueFile again(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return again && ::GetFileInformationByHandle(file, &first) && ::GetFileInformationByHandle(again.get(), &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

std::wstring folderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Creates the folder and any missing parents.
bool createFolders(const std::wstring& folder)
{
    if (folder.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring parent = folderOf(folder);
    if (!parent.empty() && parent.size() < folder.size() && parent.back() != L':')
        createFolders(parent);
    return ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// Writes the verified candidate bytes as the folder's "trusted.tmp".
bool writeTemporaryCopy(const std::wstring& temporary, const std::string& bytes)
{
    ::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    win::UniqueFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file)
        return false;
    if (!writeAll(file.get(), bytes) || !::FlushFileBuffers(file.get())) {
        file.reset();
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

TrustCatalog::TrustCatalog(std::wstring path, std::wstring atomName, Thumbprint signerThumbprint)
    : path_(std::move(path)), atomName_(std::move(atomName)), signer_(std::move(signerThumbprint))
{
}

TrustCatalog& TrustCatalog::instance()
{
    static TrustCatalog catalog(defaultPath(), kCatalogAtomName, catalogSignerThumbprint());
    return catalog;
}

std::wstring TrustCatalog::defaultPath()
{
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    if (!::PathStripToRootW(windows))
        return {};
    std::wstring root(windows);
    if (!root.empty() && root.back() != L'\\')
        root += L'\\';
    return root + kCatalogRelativePath;
}

std::optional<CatalogContent> TrustCatalog::readVerified(const std::wstring& path, const Thumbprint& signer,
                                                         CatalogReadStatus* status, std::string* bytes,
                                                         bool allowReplacementWhileReading)
{
    CatalogReadStatus ignored;
    CatalogReadStatus& result = status != nullptr ? *status : ignored;
    // Nobody may write to the file while it is open, so the file verified by
    // path is the content read through this handle, as long as the path
    // still names it afterwards.
    const DWORD share = FILE_SHARE_READ | (allowReplacementWhileReading ? FILE_SHARE_DELETE : 0);
    win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        result = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? CatalogReadStatus::Missing
                                                                                  : CatalogReadStatus::Unreadable;
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
        result = CatalogReadStatus::Unreadable;
        return std::nullopt;
    }
    if (static_cast<ULONGLONG>(size.QuadPart) > kMaxCatalogBytes) {
        result = CatalogReadStatus::TooLarge;
        return std::nullopt;
    }
    // No byte-range lock is held while the signature is checked: the
    // subject-interface packages open the file themselves, some with range
    // locks of their own.
    result = checkCatalogSigner(path, signer);
    if (result != CatalogReadStatus::Loaded)
        return std::nullopt;

    std::string content;
    {
        win::WholeFileLock fileLock(file.get(), false, kFileLockPatienceMs, kFileLockRetryMs);
        if (!fileLock.locked()) {
            result = CatalogReadStatus::Locked;
            return std::nullopt;
        }
        if (!sameFile(file.get(), path)) {
            result = CatalogReadStatus::Unreadable;  // replaced while it was being verified
            return std::nullopt;
        }
        if (!readAll(file.get(), static_cast<std::size_t>(size.QuadPart), &content)) {
            result = CatalogReadStatus::Unreadable;
            return std::nullopt;
        }
    }
    std::optional<CatalogContent> parsed = parseCatalog(decodeCatalogText(content));
    if (!parsed) {
        result = CatalogReadStatus::Invalid;
        return std::nullopt;
    }
    if (bytes != nullptr)
        *bytes = std::move(content);
    result = CatalogReadStatus::Loaded;
    return parsed;
}

TrustCatalog::CheckResult TrustCatalog::checkFile(const std::wstring& file, DWORD versionAbove) const
{
    win::SharedGuard guard(lock_);
    if (!loaded_ || content_.version <= versionAbove)
        return CheckResult::NotUsed;
    return checkFileSignature(file, content_.lists) ? CheckResult::Passed : CheckResult::Failed;
}

bool TrustCatalog::isLoaded() const
{
    win::SharedGuard guard(lock_);
    return loaded_;
}

DWORD TrustCatalog::version() const
{
    win::SharedGuard guard(lock_);
    return loaded_ ? content_.version : 0;
}

CatalogReadStatus TrustCatalog::lastReadStatus() const
{
    win::SharedGuard guard(lock_);
    return lastStatus_;
}

bool TrustCatalog::load()
{
    win::ExclusiveGuard guard(lock_);
    return loadLocked();
}

bool TrustCatalog::reload()
{
    win::ExclusiveGuard guard(lock_);
    clearLocked();
    return loadLocked();
}

void TrustCatalog::clear()
{
    win::ExclusiveGuard guard(lock_);
    clearLocked();
}

bool TrustCatalog::replacementAnnounced() const
{
    return ::GlobalFindAtomW(atomName_.c_str()) != 0;
}

bool TrustCatalog::loadLocked()
{
    if (loaded_)
        return true;
    if (path_.empty()) {
        lastStatus_ = CatalogReadStatus::Missing;
        return false;
    }
    std::optional<CatalogContent> content = readVerified(path_, signer_, &lastStatus_);
    if (!content)
        return false;
    content_ = std::move(*content);
    loaded_ = true;
    return true;
}

void TrustCatalog::clearLocked()
{
    loaded_ = false;
    content_ = CatalogContent{};
}

bool TrustCatalog::installCatalog(const std::wstring& candidate)
{
    std::string bytes;
    CatalogReadStatus status = CatalogReadStatus::Missing;
    // The candidate may lie in a folder others can write: it is held open
    // without delete sharing, and exactly the bytes verified are installed.
    const std::optional<CatalogContent> content = readVerified(candidate, signer_, &status, &bytes, false);
    if (!content || content->version < kMinInstallableCatalogVersion || path_.empty())
        return false;

    win::ExclusiveGuard guard(lock_);
    // Compare against the newest catalog there is, not a stale copy in memory:
    // an older candidate must never replace a newer catalog.
    if (!loaded_ || replacementAnnounced()) {
        clearLocked();
        loadLocked();
    }
    if (loaded_ && content_.version >= content->version)
        return false;
    if (!replaceCatalogFile(bytes))
        return false;
    ::GlobalAddAtomW(atomName_.c_str());
    clearLocked();
    return loadLocked();
}

bool TrustCatalog::replaceCatalogFile(const std::string& bytes)
{
    const std::wstring folder = folderOf(path_);
    const std::wstring temporary = folder + L"\\" + kTemporaryName;
    bool replaced = false;
    bool temporaryWritten = false;
    {
        createFolders(folder);
        win::UniqueFile current(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::optional<win::WholeFileLock> fileLock;
        if (current)
            fileLock.emplace(current.get(), true, kFileLockPatienceMs, kFileLockRetryMs);
        if (current && !fileLock->locked())
            return false;
        temporaryWritten = writeTemporaryCopy(temporary, bytes);
        if (temporaryWritten) {
            if (current) {
                replaced = ::ReplaceFileW(path_.c_str(), temporary.c_str(), nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
            } else {
                replaced = ::MoveFileW(temporary.c_str(), path_.c_str()) != FALSE;
            }
        }
    }
    if (!replaced && temporaryWritten) {
        // Something holds the catalog open: let the next start put it in place.
        ::MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    }
    return replaced;
}

} // namespace trust
} // namespace Orvik
