#pragma once
// The time a signature was made, as a time-stamp authority vouches for it: the
// first legacy counter-signature or RFC 3161 time stamp among a signer's
// unauthenticated attributes. Reading the time and believing it are separate
// steps: the time counts only once timeStampVerifies has said yes.

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <string>
#include <vector>

namespace Orvik {
namespace trust {

enum class SigningTimeStatus {
    Found,   // `time` holds the time the stamp claims (UTC)
    Absent,  // no time stamp, or none with a readable signing-time attribute
};

enum class SigningTimeSource { None, CounterSignature, Rfc3161SigningTime };

struct SigningTime {
    SigningTimeStatus status = SigningTimeStatus::Absent;
    SigningTimeSource source = SigningTimeSource::None;
    FILETIME time{};
    // The time-stamp attribute value the time was read from; points into the
    // signer information it was read from.
    const CRYPT_ATTR_BLOB* stamp = nullptr;
};

// The claimed time: the signing-time attribute (a 15-byte UTCTime) of the
// first time stamp's signer. Nothing here is verified.
SigningTime readSigningTime(const CMSG_SIGNER_INFO& signer);

// One parameter of a decoded message into `buffer`; false when it is absent or empty.
bool readMessageParam(HCRYPTMSG message, DWORD param, DWORD index, std::vector<BYTE>* buffer);

// True when the stamp `claimed` was read from can be believed: its signature
// verifies over the signed attributes, those attributes carry the digest of
// what was stamped, what was stamped is the file signer's own signature
// (`encodedSigner`, the signer's DER SignerInfo), and the stamp's signer
// chains, at the claimed time, to a root in the machine's store for the
// time-stamping usage. `signatureStore` holds the file signature's
// certificates (a legacy counter-signer's certificate travels there).
bool timeStampVerifies(const SigningTime& claimed, const BYTE* encodedSigner, std::size_t encodedSize,
                       HCERTSTORE signatureStore);

// A DER UTCTime, tag and length included (two-digit years below 70 are 20xx).
// False for anything else, GeneralizedTime included.
bool decodeDerTime(const BYTE* der, std::size_t size, FILETIME* time);

// The parts of an RFC 3161 TSTInfo the checks use.
struct TstInfo {
    std::string imprintAlgorithm;  // dotted OID of the message imprint's hash
    std::vector<BYTE> imprint;     // the hash of what was stamped
    FILETIME genTime{};
};

// Reads a TSTInfo, bare or still wrapped in an OCTET STRING.
bool readTstInfo(const BYTE* der, std::size_t size, TstInfo* info);

} // namespace trust
} // namespace Orvik
