#pragma once
// Verifies a file's embedded Authenticode signature against a set of trust
// lists: some signer that is not denied, carries an accepted name, chains
// (at its signing time) to a pinned root, passes the time-stamp chain policy,
// and whose file digest WinVerifyTrust confirms.

#include "trust/SigningTime.h"
#include "trust/TrustLists.h"

#include <string>
#include <vector>

namespace Orvik {
namespace trust {

// Where one signer stopped. Kept for tests and diagnostics; the check itself
// writes no log.
enum class SignerOutcome {
    SignerInfoUnreadable,
    SerialDenied,
    CertificateNotFound,
    NameNotAccepted,
    SigningTimeInvalid,
    ChainNotBuilt,
    ChainHasTrustErrors,
    RootNotPinned,
    TimeStampPolicyFailed,
    WinVerifyTrustFailed,
    Passed,
};

struct SignerReport {
    SignerOutcome outcome = SignerOutcome::SignerInfoUnreadable;
    std::wstring name;
    SigningTime signingTime;
    DWORD chainErrorStatus = 0;
    LONG winVerifyTrustResult = 0;
};

struct SignatureReport {
    DWORD queryError = 0;  // last error of CryptQueryObject when no signature was read
    std::vector<SignerReport> signers;
};

// True when the file passes. `report`, when given, records each signer tried.
bool checkFileSignature(const std::wstring& path, const TrustLists& lists, SignatureReport* report = nullptr);

// WinVerifyTrust, generic verify action, no UI, file choice, no state action,
// provider flags no-policy-usage | revocation-check-none | hash-only |
// cache-only URL retrieval (0x1214).
LONG verifyFileTrust(const std::wstring& path);

const wchar_t* signerOutcomeName(SignerOutcome outcome);

} // namespace trust
} // namespace Orvik
