#pragma once
// The time a signature was made, as vouched for by a time-stamp authority: the
// first legacy counter-signature or RFC 3161 time stamp among a signer's
// unauthenticated attributes.

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

namespace Orvik {
namespace trust {

enum class SigningTimeStatus {
    Found,    // *time holds the signing time (UTC)
    Absent,   // no time stamp, or the time stamp carries no time
    Invalid,  // a time stamp that cannot be read: the signer is not usable
};

enum class SigningTimeSource { None, CounterSignature, Rfc3161SigningTime, Rfc3161GenTime };

struct SigningTime {
    SigningTimeStatus status = SigningTimeStatus::Absent;
    SigningTimeSource source = SigningTimeSource::None;
    FILETIME time{};
};

SigningTime readSigningTime(const CMSG_SIGNER_INFO& signer);

// DER UTCTime (two-digit years below 70 are 20xx) or GeneralizedTime, tag and
// length included. False for anything else.
bool decodeDerTime(const BYTE* der, std::size_t size, FILETIME* time);

// genTime of an RFC 3161 TSTInfo, bare or still wrapped in an OCTET STRING.
bool readTstInfoGenTime(const BYTE* der, std::size_t size, FILETIME* time);

} // namespace trust
} // namespace Orvik
