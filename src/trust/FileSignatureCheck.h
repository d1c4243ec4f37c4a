#pragma once
// Verifies a file's embedded Authenticode signature against a set of trust
// lists: some signer that is not denied, carries an accepted name, chains (at
// its signing time when a time stamp vouches for one, else now) to a pinned
// root, passes the time-stamp chain policy, and whose file digest
// WinVerifyTrust confirms. Everything is read through one held handle.

#include "trust/SigningTime.h"
#include "trust/TrustLists.h"
#include "win/HeldFile.h"
#include "win/UniqueHandle.h"

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
    ChainNotBuilt,
    ChainHasTrustErrors,
    RootNotPinned,
    TimeStampPolicyFailed,
    WinVerifyTrustFailed,
    Passed,
};

// What became of a signer's time stamp.
enum class TimeStampVerdict {
    None,       // no time stamp with a signing time: judged now
    NotNeeded,  // the chain holds at the stamp's time and now alike, so the stamp decides nothing
    Verified,   // judged at the stamp's time
    Refused,    // the stamp does not verify: judged now
};

struct SignerReport {
    SignerOutcome outcome = SignerOutcome::SignerInfoUnreadable;
    std::wstring name;
    std::wstring serial;      // the signer certificate's serial number, hex as the lists write it
    SigningTime signingTime;  // as claimed; `timeStamp` says whether it counted
    TimeStampVerdict timeStamp = TimeStampVerdict::None;
    DWORD chainErrorStatus = 0;
    LONG winVerifyTrustResult = 0;
};

struct SignatureReport {
    DWORD queryError = 0;  // why no signature was read
    std::vector<SignerReport> signers;
};

// The embedded PKCS #7 signature of a held file, read through its handle.
struct EmbeddedSignature {
    win::UniqueCertStore store;
    win::UniqueCryptMsg message;
};
bool readEmbeddedSignature(const win::HeldFile& file, EmbeddedSignature* signature, DWORD* error);

// True when the file passes. `report`, when given, records each signer tried.
bool checkFileSignature(const win::HeldFile& file, const TrustLists& lists, SignatureReport* report = nullptr);
// The same for a file opened (and held) for this check only.
bool checkFileSignature(const std::wstring& path, const TrustLists& lists, SignatureReport* report = nullptr);

// WinVerifyTrust, generic verify action, no UI, file choice, no state action,
// provider flags no-policy-usage | revocation-check-none | hash-only |
// cache-only URL retrieval (0x1214), given the held file's handle.
LONG verifyFileTrust(const win::HeldFile& file);
// The same call naming the file by path only.
LONG verifyFileTrust(const std::wstring& path);

const wchar_t* signerOutcomeName(SignerOutcome outcome);

} // namespace trust
} // namespace Orvik
