#include "trust/TrustCatalog.h"
#include "trust/TrustCatalogFile.h"

#include "trust/FileSignatureCheck.h"
#include "win/UniqueHandle.h"
#include "win/FileLock.h"

#include <algorithm>
#include <vector>

namespace Orvik {
namespace trust {

using detail::catalogSize;
using detail::checkCatalogSigner;
using detail::kFileLockPatienceMs;
using detail::kFileLockRetryMs;
using detail::readContent;

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool readAll(const win::HeldFile& file, std::size_t size, std::string* bytes)
{
    if (!file.rewind())
        return false;
    bytes->assign(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        if (!::ReadFile(file.get(), &(*bytes)[done], chunk, &read, nullptr) || read == 0)
            return false;
        done += read;
    }
    return true;
}

} // namespace

namespace detail {

// Exactly one signer, and it holds the catalog signer's certificate; then
// WinVerifyTrust must accept the file. All read through the held handle.
CatalogReadStatus checkCatalogSigner(const win::HeldFile& file, const Thumbprint& expected)
{
    EmbeddedSignature signature;
    DWORD error = 0;
    if (!readEmbeddedSignature(file, &signature, &error))
        return CatalogReadStatus::NotSigned;

    DWORD signerCount = 0;
    DWORD size = sizeof(signerCount);
    if (!::CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signerCount, &size) ||
        signerCount != 1)
        return CatalogReadStatus::WrongSigner;
    size = 0;
    if (!::CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) || size == 0)
        return CatalogReadStatus::WrongSigner;
    std::vector<BYTE> buffer(size);
    if (!::CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, buffer.data(), &size))
        return CatalogReadStatus::WrongSigner;
    win::UniqueCertContext certificate(::CertGetSubjectCertificateFromStore(
        signature.store.get(), kEncoding, reinterpret_cast<PCERT_INFO>(buffer.data())));
    if (!certificate)
        return CatalogReadStatus::WrongSigner;
    BYTE hash[kThumbprintSize];
    DWORD hashSize = sizeof(hash);
    if (!::CertGetCertificateContextProperty(certificate.get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize) ||
        hashSize != expected.size() || !std::equal(expected.begin(), expected.end(), hash))
        return CatalogReadStatus::WrongSigner;

    return verifyFileTrust(file) == 0 ? CatalogReadStatus::Loaded : CatalogReadStatus::TrustRefused;
}

bool catalogSize(const win::HeldFile& file, std::size_t* size, CatalogReadStatus& result)
{
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length)) {
        result = CatalogReadStatus::Unreadable;
        return false;
    }
    if (static_cast<ULONGLONG>(length.QuadPart) > kMaxCatalogBytes) {
        result = CatalogReadStatus::TooLarge;
        return false;
    }
    *size = static_cast<std::size_t>(length.QuadPart);
    return true;
}

// Reads and parses a catalog whose signature was verified through the same
// handle (the content cannot have changed since: nobody may write to it while
// it is held). The caller holds the file lock it needs.
std::optional<CatalogContent> readContent(const win::HeldFile& file, std::size_t size, CatalogReadStatus& result,
                                          std::string* bytes)
{
    std::string content;
    if (!readAll(file, size, &content)) {
        result = CatalogReadStatus::Unreadable;
        return std::nullopt;
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

} // namespace detail

std::optional<CatalogContent> TrustCatalog::readVerified(const std::wstring& path, const Thumbprint& signer,
                                                         CatalogReadStatus* status, std::string* bytes,
                                                         bool allowReplacementWhileReading)
{
    CatalogReadStatus ignored;
    CatalogReadStatus& result = status != nullptr ? *status : ignored;
    // Nobody may write to the file while it is held; whether it may be
    // replaced meanwhile does not matter, the handle keeps reading the same file.
    const win::HeldFile file(path, allowReplacementWhileReading ? win::HeldFile::Replacement::Allowed
                                                                : win::HeldFile::Replacement::Denied);
    if (!file) {
        const DWORD error = file.openError();
        result = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? CatalogReadStatus::Missing
                                                                                  : CatalogReadStatus::Unreadable;
        return std::nullopt;
    }
    std::size_t size = 0;
    if (!catalogSize(file, &size, result))
        return std::nullopt;
    // The signature is checked while no byte-range lock is held: subject
    // packages open the file themselves, some with range locks of their own.
    // A check another process's lock kept from reading is tried once more
    // after that lock has gone.
    for (int attempt = 0;; ++attempt) {
        const CatalogReadStatus verified = checkCatalogSigner(file, signer);
        {
            const win::WholeFileLock fileLock(file.get(), false, kFileLockPatienceMs, kFileLockRetryMs);
            if (!fileLock.locked()) {
                result = CatalogReadStatus::Locked;
                return std::nullopt;
            }
            if (verified == CatalogReadStatus::Loaded)
                return readContent(file, size, result, bytes);
        }
        if (attempt > 0) {
            result = verified;
            return std::nullopt;
        }
    }
}

} // namespace trust
} // namespace Orvik
