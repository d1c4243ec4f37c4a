// Subject interface package for signed text scripts (".js") in the test
// prefix. Windows verifies "// SIG //" signature blocks through its script
// SIP; Wine has none, and finds registered SIPs the same way Windows does
// (CryptSIPAddProvider). The signature covers the UTF-16 form of the text that
// precedes the block.
//
// Wine's WinVerifyTrust never calls a SIP's VerifyIndirectData, so this SIP
// also checks the digest when it hands out the signature: a script changed
// after signing yields no signature at all, and is refused as on Windows.

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mssip.h>

#include "TestPause.h"
#include "win/UniqueHandle.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// {5C0E3A0B-7B52-4A1F-9E0D-3F1C2B6D8A41}
const GUID kScriptSubject = {0x5c0e3a0b, 0x7b52, 0x4a1f, {0x9e, 0x0d, 0x3f, 0x1c, 0x2b, 0x6d, 0x8a, 0x41}};

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kMaxScriptBytes = 64 * 1024 * 1024;
constexpr char kHeader[] = "// SIG // Begin signature block";
constexpr char kLinePrefix[] = "// SIG // ";
constexpr char kFooter[] = "// SIG // End signature block";

using sandbox::pauseForTest;

// The tests pause only on the catalog itself.
bool isCatalogFile(const SIP_SUBJECTINFO* subject)
{
    const wchar_t* name = subject->pwsFileName;
    const std::size_t length = name != nullptr ? wcslen(name) : 0;
    return length >= 10 && _wcsicmp(name + length - 10, L"trusted.js") == 0;
}

bool readFile(const SIP_SUBJECTINFO* subject, std::string* bytes)
{
    Orvik::win::UniqueFile owned;
    HANDLE file = subject->hFile;
    if (file == nullptr || file == INVALID_HANDLE_VALUE) {
        if (subject->pwsFileName == nullptr)
            return false;
        owned.reset(CreateFileW(subject->pwsFileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
        if (!owned)
            return false;
        file = owned.get();
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxScriptBytes)
        return false;
    LARGE_INTEGER start{};
    LARGE_INTEGER previous{};
    SetFilePointerEx(file, start, &previous, FILE_CURRENT);
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    bytes->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    const BOOL ok = bytes->empty() || ReadFile(file, &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr);
    SetFilePointerEx(file, previous, nullptr, FILE_BEGIN);
    return ok && read == bytes->size();
}

// Splits the file into the signed text and the DER signature.
bool splitScript(const std::string& bytes, std::string* content, std::vector<BYTE>* signature)
{
    std::size_t header = bytes.find(kHeader);
    if (header == std::string::npos || header == 0 || bytes[header - 1] != '\n')
        return false;
    std::size_t contentEnd = header - 1;
    if (contentEnd > 0 && bytes[contentEnd - 1] == '\r')
        --contentEnd;
    *content = bytes.substr(0, contentEnd);

    std::string base64;
    std::size_t position = bytes.find('\n', header);
    bool complete = false;
    while (position != std::string::npos) {
        const std::size_t lineStart = position + 1;
        std::size_t lineEnd = bytes.find('\n', lineStart);
        std::string line = bytes.substr(lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, std::strlen(kFooter), kFooter) == 0) {
            complete = true;
            break;
        }
        if (line.compare(0, std::strlen(kLinePrefix), kLinePrefix) != 0)
            return false;
        base64 += line.substr(std::strlen(kLinePrefix));
        position = lineEnd;
    }
    if (!complete || base64.empty())
        return false;
    DWORD size = 0;
    if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr, &size,
                              nullptr, nullptr))
        return false;
    signature->resize(size);
    return CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                                signature->data(), &size, nullptr, nullptr) != FALSE;
}

// UTF-16LE of the text (UTF-8 unless it carries a UTF-16 byte-order mark).
std::string utf16Bytes(const std::string& content)
{
    if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
        static_cast<unsigned char>(content[1]) == 0xFE)
        return content;
    if (content.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, content.data(), static_cast<int>(content.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, content.data(), static_cast<int>(content.size()), &wide[0], length);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

bool digestOf(const std::string& content, LPCSTR algorithmOid, std::vector<BYTE>* digest)
{
    const ALG_ID algorithm = CertOIDToAlgId(algorithmOid);
    if (algorithm == 0)
        return false;
    Orvik::win::UniqueCryptProvider provider;
    if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return false;
    Orvik::win::UniqueCryptHash hash;
    if (!CryptCreateHash(provider.get(), algorithm, 0, 0, hash.put()))
        return false;
    const std::string data = utf16Bytes(content);
    DWORD size = 0;
    DWORD sizeLength = sizeof(size);
    if (!CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) ||
        !CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeLength, 0))
        return false;
    digest->resize(size);
    return CryptGetHashParam(hash.get(), HP_HASHVAL, digest->data(), &size, 0) != FALSE;
}

bool digestMatches(const std::string& content, const CRYPT_ALGORITHM_IDENTIFIER& algorithm,
                   const CRYPT_HASH_BLOB& expected)
{
    std::vector<BYTE> actual;
    return digestOf(content, algorithm.pszObjId, &actual) && actual.size() == expected.cbData &&
           std::memcmp(actual.data(), expected.pbData, actual.size()) == 0;
}

// The signed digest of the script, read from the signature's indirect data.
bool signatureCoversContent(const std::string& content, const std::vector<BYTE>& signature)
{
    Orvik::win::UniqueCryptMsg message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message)
        return false;
    DWORD size = 0;
    if (!CryptMsgUpdate(message.get(), signature.data(), static_cast<DWORD>(signature.size()), TRUE) ||
        !CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size))
        return false;
    std::vector<BYTE> indirect(size);
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, indirect.data(), &size))
        return false;
    Orvik::win::UniqueLocalMemory decoded;
    DWORD decodedSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, SPC_INDIRECT_DATA_CONTENT_STRUCT, indirect.data(), size,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, decoded.put(), &decodedSize))
        return false;
    const auto* indirectData = static_cast<const SPC_INDIRECT_DATA_CONTENT*>(decoded.get());
    return digestMatches(content, indirectData->DigestAlgorithm, indirectData->Digest);
}

} // namespace

extern "C" {

__attribute__((dllexport)) BOOL WINAPI ScriptSipIsMyFileType2(WCHAR* fileName, GUID* subject)
{
    if (fileName == nullptr || subject == nullptr)
        return FALSE;
    const std::size_t length = wcslen(fileName);
    if (length < 3 || _wcsicmp(fileName + length - 3, L".js") != 0)
        return FALSE;
    *subject = kScriptSubject;
    return TRUE;
}

__attribute__((dllexport)) BOOL WINAPI ScriptSipGetSignedDataMsg(SIP_SUBJECTINFO* subject, DWORD* encoding, DWORD index,
                                                            DWORD* size, BYTE* data)
{
    if (subject == nullptr || encoding == nullptr || size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (isCatalogFile(subject))
        pauseForTest();
    std::string bytes, content;
    std::vector<BYTE> signature;
    if (index != 0 || !readFile(subject, &bytes) || !splitScript(bytes, &content, &signature)) {
        SetLastError(TRUST_E_NOSIGNATURE);
        return FALSE;
    }
    if (!signatureCoversContent(content, signature)) {
        SetLastError(TRUST_E_BAD_DIGEST);
        return FALSE;
    }
    *encoding = kEncoding;
    if (data == nullptr) {
        *size = static_cast<DWORD>(signature.size());
        return TRUE;
    }
    if (*size < signature.size()) {
        *size = static_cast<DWORD>(signature.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(data, signature.data(), signature.size());
    *size = static_cast<DWORD>(signature.size());
    return TRUE;
}

__attribute__((dllexport)) BOOL WINAPI ScriptSipVerifyIndirectData(SIP_SUBJECTINFO* subject, SIP_INDIRECT_DATA* indirect)
{
    std::string bytes, content;
    std::vector<BYTE> signature;
    if (subject == nullptr || indirect == nullptr || !readFile(subject, &bytes) ||
        !splitScript(bytes, &content, &signature)) {
        SetLastError(TRUST_E_NOSIGNATURE);
        return FALSE;
    }
    if (!digestMatches(content, indirect->DigestAlgorithm, indirect->Digest)) {
        SetLastError(TRUST_E_BAD_DIGEST);
        return FALSE;
    }
    return TRUE;
}

// Signing happens on the build machine; the prefix only verifies.
__attribute__((dllexport)) BOOL WINAPI ScriptSipPutSignedDataMsg(SIP_SUBJECTINFO*, DWORD, DWORD*, DWORD, BYTE*)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

__attribute__((dllexport)) BOOL WINAPI ScriptSipCreateIndirectData(SIP_SUBJECTINFO*, DWORD*, SIP_INDIRECT_DATA*)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

__attribute__((dllexport)) BOOL WINAPI ScriptSipRemoveSignedDataMsg(SIP_SUBJECTINFO*, DWORD)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

__attribute__((dllexport)) const GUID* ScriptSipSubject()
{
    return &kScriptSubject;
}

} // extern "C"
