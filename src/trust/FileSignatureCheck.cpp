#include "trust/FileSignatureCheck.h"

#include "trust/WinTrustFile.h"

#include <mssip.h>
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

using ChainPolicyFunction = BOOL(WINAPI*)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                          PCERT_CHAIN_POLICY_STATUS);

// The time-stamp chain policy's function as CertVerifyCertificateChainPolicy
// would find it: built in on Windows, an installed provider where it is not.
// That call looks the function up again (in the registry) every time and loads
// and frees the provider library around it; here it is looked up once per load
// of this module, and the reference taken keeps the provider loaded for the
// life of the process (deliberately never released). Null when there is
// nothing to find: then the policy call itself answers.
ChainPolicyFunction timeStampPolicyFunction()
{
    static const ChainPolicyFunction function = []() -> ChainPolicyFunction {
        HCRYPTOIDFUNCSET set = ::CryptInitOIDFunctionSet(CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC, 0);
        void* address = nullptr;
        HCRYPTOIDFUNCADDR held = nullptr;
        if (set == nullptr ||
            !::CryptGetOIDFunctionAddress(set, X509_ASN_ENCODING,
                                          reinterpret_cast<LPCSTR>(CERT_CHAIN_POLICY_AUTHENTICODE_TS), 0, &address,
                                          &held))
            return nullptr;
        return reinterpret_cast<ChainPolicyFunction>(address);
    }();
    return function;
}

bool timeStampPolicyPasses(PCCERT_CHAIN_CONTEXT chain)
{
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof(policyPara);
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof(policyStatus);
    const auto policy = reinterpret_cast<LPCSTR>(CERT_CHAIN_POLICY_AUTHENTICODE_TS);
    const ChainPolicyFunction function = timeStampPolicyFunction();
    const BOOL answered = function != nullptr
                              ? function(policy, chain, &policyPara, &policyStatus)
                              : ::CertVerifyCertificateChainPolicy(policy, chain, &policyPara, &policyStatus);
    return answered && policyStatus.dwError == 0;
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

// Every certificate of the chain is within its validity period now.
bool validNow(PCCERT_CHAIN_CONTEXT chain)
{
    for (DWORD i = 0; i < chain->cChain; ++i) {
        const PCCERT_SIMPLE_CHAIN simple = chain->rgpChain[i];
        for (DWORD e = 0; e < simple->cElement; ++e) {
            if (::CertVerifyTimeValidity(nullptr, simple->rgpElement[e]->pCertContext->pCertInfo) != 0)
                return false;
        }
    }
    return true;
}

// The signer's chain at `at` (now when null): no trust error and a pinned root.
SignerOutcome judgeChain(PCCERT_CONTEXT certificate, const FILETIME* at, HCERTSTORE signatureStore,
                         const TrustLists& lists, win::UniqueChainContext* chain, SignerReport* report)
{
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    LPSTR usages[] = {kCodeSigningUsage};
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    FILETIME when = at != nullptr ? *at : FILETIME{};
    if (!::CertGetCertificateChain(nullptr, certificate, at != nullptr ? &when : nullptr, signatureStore,
                                   &chainPara,
                                   CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS,
                                   nullptr, chain->put()) ||
        !*chain)
        return SignerOutcome::ChainNotBuilt;
    report->chainErrorStatus = chain->get()->TrustStatus.dwErrorStatus;
    if (report->chainErrorStatus != CERT_TRUST_NO_ERROR)
        return SignerOutcome::ChainHasTrustErrors;
    return anyRootPinned(chain->get(), lists) ? SignerOutcome::Passed : SignerOutcome::RootNotPinned;
}

SignerOutcome checkSigner(const EmbeddedSignature& signature, DWORD index, const win::HeldFile& file,
                          const TrustLists& lists, SignerReport* report)
{
    std::vector<BYTE> buffer;
    if (!readMessageParam(signature.message.get(), CMSG_SIGNER_INFO_PARAM, index, &buffer))
        return SignerOutcome::SignerInfoUnreadable;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    report->serial = serialToHex(signer->SerialNumber);

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
    const bool stamped = report->signingTime.status == SigningTimeStatus::Found;
    win::UniqueChainContext chain;
    SignerOutcome outcome = judgeChain(certificate.get(), stamped ? &report->signingTime.time : nullptr,
                                       signature.store.get(), lists, &chain, report);
    if (stamped) {
        // The stamp's time counts only when the stamp verifies. When the chain
        // holds at that time and all its certificates are valid now as well,
        // judging at either time gives the same answer and the stamp decides
        // nothing, so it is not checked.
        std::vector<BYTE> encodedSigner;
        if (outcome == SignerOutcome::Passed && validNow(chain.get())) {
            report->timeStamp = TimeStampVerdict::NotNeeded;
        } else if (readMessageParam(signature.message.get(), CMSG_ENCODED_SIGNER, index, &encodedSigner) &&
                   timeStampVerifies(report->signingTime, encodedSigner.data(), encodedSigner.size(),
                                     signature.store.get())) {
            report->timeStamp = TimeStampVerdict::Verified;
        } else {
            report->timeStamp = TimeStampVerdict::Refused;
            outcome = judgeChain(certificate.get(), nullptr, signature.store.get(), lists, &chain, report);
        }
    }
    if (outcome != SignerOutcome::Passed)
        return outcome;

    if (!timeStampPolicyPasses(chain.get()))
        return SignerOutcome::TimeStampPolicyFailed;

    report->winVerifyTrustResult = verifyFileTrust(file);
    if (report->winVerifyTrustResult != 0)
        return SignerOutcome::WinVerifyTrustFailed;
    return SignerOutcome::Passed;
}

LONG winVerifyTrust(const wchar_t* path, HANDLE handle)
{
    WINTRUST_FILE_INFO fileInfo;
    WINTRUST_DATA data;
    describeFileForTrust(path, handle, WTD_STATEACTION_IGNORE, kFileTrustProviderFlags, fileInfo, data);
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return ::WinVerifyTrust(nullptr, &action, &data);
}

} // namespace

bool readEmbeddedSignature(const win::HeldFile& file, EmbeddedSignature* signature, DWORD* error)
{
    if (!file) {
        *error = file.openError();
        return false;
    }
    // Whatever stands between the file and a signature message, the answer
    // is the same as for a file that carries none.
    *error = static_cast<DWORD>(CRYPT_E_NO_MATCH);
    GUID subject{};
    SIP_DISPATCH_INFO dispatch{};
    dispatch.cbSize = sizeof(dispatch);
    if (!file.rewind() || !::CryptSIPRetrieveSubjectGuid(file.path().c_str(), file.get(), &subject) ||
        !::CryptSIPLoad(&subject, 0, &dispatch) || dispatch.pfGet == nullptr)
        return false;
    SIP_SUBJECTINFO subjectInfo{};
    subjectInfo.cbSize = sizeof(subjectInfo);
    subjectInfo.pgSubjectType = &subject;
    subjectInfo.hFile = file.get();
    subjectInfo.pwsFileName = file.path().c_str();
    DWORD encoding = 0;
    DWORD size = 0;
    if (!file.rewind() || !dispatch.pfGet(&subjectInfo, &encoding, 0, &size, nullptr) || size == 0)
        return false;
    std::vector<BYTE> message(size);
    if (!file.rewind() || !dispatch.pfGet(&subjectInfo, &encoding, 0, &size, message.data()))
        return false;
    CRYPT_DATA_BLOB blob{size, message.data()};
    DWORD encodingType = 0, contentType = 0, formatType = 0;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encodingType, &contentType, &formatType,
                            signature->store.put(), signature->message.put(), nullptr))
        return false;
    *error = 0;
    return true;
}

LONG verifyFileTrust(const win::HeldFile& file)
{
    if (!file)
        return static_cast<LONG>(file.openError());
    file.rewind();
    return winVerifyTrust(file.path().c_str(), file.get());
}

LONG verifyFileTrust(const std::wstring& path)
{
    return winVerifyTrust(path.c_str(), nullptr);
}

bool checkFileSignature(const win::HeldFile& file, const TrustLists& lists, SignatureReport* report)
{
    SignatureReport local;
    SignatureReport& out = report != nullptr ? *report : local;
    out = SignatureReport{};

    EmbeddedSignature signature;
    if (!readEmbeddedSignature(file, &signature, &out.queryError))
        return false;
    DWORD signerCount = 0;
    DWORD size = sizeof(signerCount);
    if (!::CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signerCount, &size))
        return false;

    for (DWORD index = 0; index < signerCount; ++index) {
        SignerReport signer;
        signer.outcome = checkSigner(signature, index, file, lists, &signer);
        // The claimed time points into signer information that is gone now.
        signer.signingTime.stamp = nullptr;
        out.signers.push_back(signer);
        if (signer.outcome == SignerOutcome::Passed)
            return true;
    }
    return false;
}

bool checkFileSignature(const std::wstring& path, const TrustLists& lists, SignatureReport* report)
{
    if (path.empty()) {
        if (report != nullptr)
            *report = SignatureReport{};
        return false;
    }
    return checkFileSignature(win::HeldFile(path), lists, report);
}

const wchar_t* signerOutcomeName(SignerOutcome outcome)
{
    switch (outcome) {
    case SignerOutcome::SignerInfoUnreadable: return L"SignerInfoUnreadable";
    case SignerOutcome::SerialDenied: return L"SerialDenied";
    case SignerOutcome::CertificateNotFound: return L"CertificateNotFound";
    case SignerOutcome::NameNotAccepted: return L"NameNotAccepted";
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
