#include "trust/TrustCatalog.h"
#include "trust/TrustCatalogFile.h"

#include "win/UniqueHandle.h"
#include "win/FileLock.h"

#include <algorithm>

namespace Orvik {
namespace trust {

using detail::catalogSize;
using detail::checkCatalogSigner;
using detail::kFileLockPatienceMs;
using detail::kFileLockRetryMs;
using detail::readContent;

namespace {

// The one catalog waiting for the next start when the current one could not be replaced.
constexpr wchar_t kPendingName[] = L"trusted.tmp";
// Each attempt either installs, gives up, or finds that another installer
// changed the catalog meanwhile and looks again.
constexpr int kInstallAttempts = 5;

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
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return again && ::GetFileInformationByHandle(file, &first) &&
           ::GetFileInformationByHandle(again.get(), &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
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

// The verified candidate bytes in a new, uniquely named file of the catalog's
// folder, so that installers never write into each other's copy. Deleted
// again unless it was moved into place.
class TemporaryCopy {
public:
    TemporaryCopy(const std::wstring& folder, const std::string& bytes)
    {
        wchar_t name[MAX_PATH + 1] = {};
        if (::GetTempFileNameW(folder.c_str(), L"trs", 0, name) == 0)
            return;
        path_ = name;
        win::UniqueFile file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        written_ = file && writeAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
    }
    ~TemporaryCopy()
    {
        if (!path_.empty())
            ::DeleteFileW(path_.c_str());
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    bool written() const { return written_; }
    const std::wstring& path() const { return path_; }
    // It was moved away under another name: nothing left to delete.
    void moved() { path_.clear(); }

private:
    std::wstring path_;
    bool written_ = false;
};

} // namespace

std::wstring TrustCatalog::pendingPath() const
{
    return path_.empty() ? std::wstring() : folderOf(path_) + L"\\" + kPendingName;
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
    createFolders(folderOf(path_));
    Replaced replaced = Replaced::Retry;
    for (int attempt = 0; attempt < kInstallAttempts && replaced == Replaced::Retry; ++attempt)
        replaced = replaceIfNewer(bytes, *content, attempt + 1 == kInstallAttempts);
    if (replaced != Replaced::Yes)
        return false;
    ::GlobalAddAtomW(atomName_.c_str());
    clearLocked();
    return loadLocked();
}

TrustCatalog::Replaced TrustCatalog::replaceIfNewer(const std::string& bytes, const CatalogContent& candidate,
                                                    bool lastAttempt)
{
    const std::wstring folder = folderOf(path_);
    const win::HeldFile current(path_, win::HeldFile::Replacement::Allowed);
    if (!current) {
        if (current.openError() != ERROR_FILE_NOT_FOUND)
            return Replaced::No;
        // No catalog, so nothing to lock: the move refuses to overwrite one
        // that another installer put there meanwhile, and the next attempt
        // compares with it.
        TemporaryCopy copy(folder, bytes);
        if (!copy.written())
            return Replaced::No;
        if (::MoveFileExW(copy.path().c_str(), path_.c_str(), MOVEFILE_WRITE_THROUGH)) {
            copy.moved();
            return Replaced::Yes;
        }
        const DWORD error = ::GetLastError();
        return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Replaced::Retry : Replaced::No;
    }

    // Verified before the lock is taken (no subject package may meet a lock
    // of ours); the content read under the lock is what was verified.
    CatalogReadStatus status = checkCatalogSigner(current, signer_);
    std::size_t size = 0;
    // Versions are compared only while no other installer can replace the file.
    const win::WholeFileLock fileLock(current.get(), true, kFileLockPatienceMs, kFileLockRetryMs);
    if (!fileLock.locked())
        return Replaced::No;
    if (!sameFile(current.get(), path_))
        return Replaced::Retry;  // replaced while this one waited for the lock
    // Another installer's lock may have kept the check from reading it: look
    // again. A catalog that never verifies is simply replaced.
    if (status != CatalogReadStatus::Loaded && !lastAttempt)
        return Replaced::Retry;
    std::optional<CatalogContent> onDisk;
    if (status == CatalogReadStatus::Loaded && catalogSize(current, &size, status))
        onDisk = readContent(current, size, status, nullptr);
    if (onDisk && onDisk->version >= candidate.version) {
        // Nothing to install; the catalog on disk is the one to use.
        if (!loaded_ || content_.version < onDisk->version) {
            content_ = *onDisk;
            loaded_ = true;
            lastStatus_ = CatalogReadStatus::Loaded;
        }
        return Replaced::No;
    }

    TemporaryCopy copy(folder, bytes);
    if (!copy.written())
        return Replaced::No;
    if (::ReplaceFileW(path_.c_str(), copy.path().c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr)) {
        copy.moved();
        return Replaced::Yes;
    }
    // Something holds the catalog open: let the next start put it in place.
    if (schedulePendingReplacement(copy.path(), candidate.version))
        copy.moved();
    return Replaced::No;
}

bool TrustCatalog::schedulePendingReplacement(const std::wstring& temporary, DWORD version)
{
    // One pending catalog, replaced only by a newer one: the moves recorded
    // for the next start all take that file, so the newest one ends in place.
    // Called under the exclusive lock on the current catalog.
    const std::wstring pending = folderOf(path_) + L"\\" + kPendingName;
    CatalogReadStatus status = CatalogReadStatus::Missing;
    const std::optional<CatalogContent> waiting = readVerified(pending, signer_, &status);
    if (waiting && waiting->version >= version)
        return false;
    if (!::MoveFileExW(temporary.c_str(), pending.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    ::MoveFileExW(pending.c_str(), path_.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    return true;
}

} // namespace trust
} // namespace Orvik
