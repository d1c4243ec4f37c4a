// Chain policy provider for CERT_CHAIN_POLICY_AUTHENTICODE_TS in the test
// prefix. Windows ships this policy; Wine does not, and lets a provider be
// registered for it (CryptRegisterOIDFunction, "CertDllVerifyCertificateChainPolicy").
// It judges the chain the way the base policy does: any trust error of the
// chain is reported as the matching CERT_E_ / TRUST_E_ code.

#include <windows.h>
#include <wincrypt.h>

#include "TestPause.h"
#include "win/UniqueHandle.h"

#include <string>

namespace {

using sandbox::pauseForTest;

HRESULT errorFor(DWORD status)
{
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return TRUST_E_CERT_SIGNATURE;
    if (status & CERT_TRUST_IS_REVOKED)
        return CRYPT_E_REVOKED;
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return CERT_E_UNTRUSTEDROOT;
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC))
        return CERT_E_CHAINING;
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return CERT_E_EXPIRED;
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return CERT_E_WRONG_USAGE;
    if (status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS)
        return TRUST_E_BASIC_CONSTRAINTS;
    if (status != 0)
        return CERT_E_CHAINING;
    return S_OK;
}

} // namespace

extern "C" __attribute__((dllexport)) BOOL WINAPI VerifyTimeStampChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT chain,
                                                                        PCERT_CHAIN_POLICY_PARA,
                                                                        PCERT_CHAIN_POLICY_STATUS status)
{
    if (chain == nullptr || status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pauseForTest();
    status->dwError = static_cast<DWORD>(errorFor(chain->TrustStatus.dwErrorStatus));
    status->lChainIndex = -1;
    status->lElementIndex = -1;
    if (status->dwError != 0) {
        for (DWORD c = 0; c < chain->cChain && status->lChainIndex < 0; ++c) {
            PCCERT_SIMPLE_CHAIN simple = chain->rgpChain[c];
            for (DWORD e = 0; e < simple->cElement; ++e) {
                if (simple->rgpElement[e]->TrustStatus.dwErrorStatus != 0) {
                    status->lChainIndex = static_cast<LONG>(c);
                    status->lElementIndex = static_cast<LONG>(e);
                    break;
                }
            }
        }
    }
    return TRUE;
}
