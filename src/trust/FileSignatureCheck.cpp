#include "trust/FileSignatureCheck.h"

#include "trust/WinTrustFile.h"
#include "win/UniqueHandle.h"

#include <softpub.h>
#include <wintrust.h>

namespace Orvik {
namespace trust {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kFileTrustProviderFlags =
    WTD_NO_POLICY_USAGE_FLAG | WTD_REVOCATION_CHECK_NONE | WTD_HASH_ONLY_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL;
static_assert(kFileTrustProviderFlags == 0x1214, "provider flags of the file trust check");

char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";

struct EmbeddedSignature {
    win::UniqueCertStore store;
    win::UniqueCryptMsg message;
};

bool openEmbeddedSignature(const std::wstring& path, EmbeddedSignature* signature, DWORD* error)
{
    DWORD encoding = 0, contentType = 0, formatType = 0;
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store,
                            &message, nullptr)) {
        *error = ::GetLastError();
        return false;
    }
    signature->store.reset(store);
    signature->message.reset(message);
    return true;
}

bool readSignerInfo(HCRYPTMSG message, DWORD index, std::vector<BYTE>* buffer)
{
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size) || size == 0)
        return false;
    buffer->resize(size);
    return ::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, buffer->data(), &size) != FALSE;
}

std::wstring friendlyName(PCCERT_CONTEXT certificate)
{
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1)
        return {};
    std::wstring name(length, L'\0');
    ::CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, &name[0], length);
    name.resize(length - 1);
    return name;
}

bool rootIsPinned(PCCERT_SIMPLE_CHAIN chain, const TrustLists& lists)
{
    if (chain == nullptr || chain->cElement == 0)
        return false;
    PCCERT_CONTEXT root = chain->rgpElement[chain->cElement - 1]->pCertContext;
    BYTE hash[kThumbprintSize];
    DWORD size = sizeof(hash);
    if (!::CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return false;
    return lists.isPinnedRoot(hash, size);
}

bool anyRootPinned(PCCERT_CHAIN_CONTEXT chain, const TrustLists& lists)
{
    if (lists.acceptsAnyRoot())
        return true;
    for (DWORD i = 0; i < chain->cChain; ++i) {
        if (rootIsPinned(chain->rgpChain[i], lists))
            return true;
    }
    for (DWORD j = 0; j < chain->cLowerQualityChainContext; ++j) {
        PCCERT_CHAIN_CONTEXT lower = chain->rgpLowerQualityChainContext[j];
        for (DWORD i = 0; lower != nullptr && i < lower->cChain; ++i) {
            if (rootIsPinned(lower->rgpChain[i], lists))
                return true;
        }
    }
    return false;
}

SignerOutcome checkSigner(const EmbeddedSignature& signature, DWORD index, const std::wstring& path,
                          const TrustLists& lists, SignerReport* report)
{
    std::vector<BYTE> buffer;
    if (!readSignerInfo(signature.message.get(), index, &buffer))
        return SignerOutcome::SignerInfoUnreadable;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());

    if (lists.isDeniedSerial(signer->SerialNumber))
        return SignerOutcome::SerialDenied;

    CERT_INFO wanted{};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    win::UniqueCertContext certificate(::CertFindCertificateInStore(signature.store.get(), kEncoding, 0,
                                                               CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate)
        return SignerOutcome::CertificateNotFound;
    report->name = friendlyName(certificate.get());
    if (!lists.acceptsName(report->name))
        return SignerOutcome::NameNotAccepted;

    report->signingTime = readSigningTime(*signer);
    if (report->signingTime.status == SigningTimeStatus::Invalid)
        return SignerOutcome::SigningTimeInvalid;

    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    LPSTR usages[] = {kCodeSigningUsage};
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    FILETIME* at = report->signingTime.status == SigningTimeStatus::Found ? &report->signingTime.time : nullptr;
    win::UniqueChainContext chain;
    if (!::CertGetCertificateChain(nullptr, certificate.get(), at, signature.store.get(), &chainPara,
                                   CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS,
                                   nullptr, chain.put()) ||
        !chain)
        return SignerOutcome::ChainNotBuilt;
    report->chainErrorStatus = chain.get()->TrustStatus.dwErrorStatus;
    if (report->chainErrorStatus != CERT_TRUST_NO_ERROR)
        return SignerOutcome::ChainHasTrustErrors;
    if (!anyRootPinned(chain.get(), lists))
        return SignerOutcome::RootNotPinned;

    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof(policyPara);
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof(policyStatus);
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS, chain.get(), &policyPara,
                                            &policyStatus) ||
        policyStatus.dwError != 0)
        return SignerOutcome::TimeStampPolicyFailed;

    report->winVerifyTrustResult = verifyFileTrust(path);
    if (report->winVerifyTrustResult != 0)
        return SignerOutcome::WinVerifyTrustFailed;
    return SignerOutcome::Passed;
}

} // namespace

LONG verifyFileTrust(const std::wstring& path)
{
    WINTRUST_FILE_INFO file;
    WINTRUST_DATA data;
    describeFileForTrust(path.c_str(), WTD_STATEACTION_IGNORE, kFileTrustProviderFlags, file, data);

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return ::WinVerifyTrust(nullptr, &action, &data);
}

bool checkFileSignature(const std::wstring& path, const TrustLists& lists, SignatureReport* report)
{
    SignatureReport local;
    SignatureReport& out = report != nullptr ? *report : local;
    out = SignatureReport{};

    EmbeddedSignature signature;
    if (path.empty() || !openEmbeddedSignature(path, &signature, &out.queryError))
        return false;
    DWORD signerCount = 0;
    DWORD size = sizeof(signerCount);
    if (!::CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signerCount, &size))
        return false;

    for (DWORD index = 0; index < signerCount; ++index) {
        SignerReport signer;
        signer.outcome = checkSigner(signature, index, path, lists, &signer);
        out.signers.push_back(signer);
        if (signer.outcome == SignerOutcome::Passed)
            return true;
    }
    return false;
}

const wchar_t* signerOutcomeName(SignerOutcome outcome)
{
    switch (outcome) {
    case SignerOutcome::SignerInfoUnreadable: return L"SignerInfoUnreadable";
    case SignerOutcome::SerialDenied: return L"SerialDenied";
    case SignerOutcome::CertificateNotFound: return L"CertificateNotFound";
    case SignerOutcome::NameNotAccepted: return L"NameNotAccepted";
    case SignerOutcome::SigningTimeInvalid: return L"SigningTimeInvalid";
    case SignerOutcome::ChainNotBuilt: return L"ChainNotBuilt";
    case SignerOutcome::ChainHasTrustErrors: return L"ChainHasTrustErrors";
    case SignerOutcome::RootNotPinned: return L"RootNotPinned";
    case SignerOutcome::TimeStampPolicyFailed: return L"TimeStampPolicyFailed";
    case SignerOutcome::WinVerifyTrustFailed: return L"WinVerifyTrustFailed";
    case SignerOutcome::Passed: return L"Passed";
    }
    return L"Unknown";
}

} // namespace trust
} // namespace Orvik
