// The file signature check against real signatures of the test PKI.

#include "TrustTestSupport.h"

#include "trust/FileSignatureCheck.h"
#include "trust/SignedLibraryValidation.h"
#include "trust/SigningTime.h"
#include "trust/TrustAnchors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Orvik::trust;
using trusttest::sample;

namespace {

ULONGLONG toTicks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG nowTicks()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return toTicks(now);
}

constexpr ULONGLONG kTicksPerSecond = 10000000ull;

// A signing time made when the samples were signed: in the past, and recent.
void expectRecentPast(const FILETIME& time)
{
    const ULONGLONG signedAt = toTicks(time);
    EXPECT_LE(signedAt, nowTicks() + 5 * kTicksPerSecond);
    EXPECT_GT(signedAt, nowTicks() - 400ull * 24 * 3600 * kTicksPerSecond);
}

const SignerReport& onlySigner(const SignatureReport& report)
{
    static const SignerReport none;
    EXPECT_EQ(report.signers.size(), 1u);
    return report.signers.empty() ? none : report.signers.front();
}

} // namespace

TEST(FileSignatureCheck, AcceptedSignerWithEitherTimeStampFormPasses)
{
    SignatureReport rfc3161;
    EXPECT_TRUE(checkFileSignature(sample(L"signed-rfc3161.dll"), builtInTrustLists(), &rfc3161));
    EXPECT_EQ(onlySigner(rfc3161).outcome, SignerOutcome::Passed);
    EXPECT_EQ(onlySigner(rfc3161).name, L"Orvik Corporation");
    ASSERT_EQ(onlySigner(rfc3161).signingTime.status, SigningTimeStatus::Found);
    EXPECT_EQ(onlySigner(rfc3161).signingTime.source, SigningTimeSource::Rfc3161SigningTime);
    expectRecentPast(onlySigner(rfc3161).signingTime.time);

    SignatureReport legacy;
    EXPECT_TRUE(checkFileSignature(sample(L"signed-legacy.dll"), builtInTrustLists(), &legacy));
    ASSERT_EQ(onlySigner(legacy).signingTime.status, SigningTimeStatus::Found);
    EXPECT_EQ(onlySigner(legacy).signingTime.source, SigningTimeSource::CounterSignature);
    expectRecentPast(onlySigner(legacy).signingTime.time);
}

TEST(FileSignatureCheck, ExpiredLeafIsAcceptedOnlyOnAVerifiedTimeStamp)
{
    // Signed by a leaf that has expired since; stamped by the test TSA, whose
    // chain is trusted, and by a self-signed TSA nobody trusts.
    SignatureReport trusted;
    EXPECT_TRUE(checkFileSignature(sample(L"expired-trusted-ts.dll"), builtInTrustLists(), &trusted));
    EXPECT_EQ(onlySigner(trusted).timeStamp, TimeStampVerdict::Verified);

    SignatureReport rogue;
    EXPECT_FALSE(checkFileSignature(sample(L"expired-rogue-ts.dll"), builtInTrustLists(), &rogue));
    EXPECT_EQ(onlySigner(rogue).timeStamp, TimeStampVerdict::Refused);
    EXPECT_EQ(onlySigner(rogue).outcome, SignerOutcome::ChainHasTrustErrors);
    EXPECT_NE(onlySigner(rogue).chainErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID, 0u);
    EXPECT_EQ(Orvik::validateFile(sample(L"expired-rogue-ts.dll").c_str()), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // A stamp on a certificate still valid decides nothing and is not checked.
    SignatureReport current;
    EXPECT_TRUE(checkFileSignature(sample(L"signed-rfc3161.dll"), builtInTrustLists(), &current));
    EXPECT_EQ(onlySigner(current).timeStamp, TimeStampVerdict::NotNeeded);
}

TEST(FileSignatureCheck, WithoutTimeStampTheChainIsBuiltForNow)
{
    SignatureReport report;
    EXPECT_TRUE(checkFileSignature(sample(L"signed-nots.dll"), builtInTrustLists(), &report));
    EXPECT_EQ(onlySigner(report).signingTime.status, SigningTimeStatus::Absent);
}

TEST(FileSignatureCheck, UnsignedAndModifiedFilesAreRefused)
{
    SignatureReport unsignedReport;
    EXPECT_FALSE(checkFileSignature(sample(L"unsigned.dll"), builtInTrustLists(), &unsignedReport));
    EXPECT_EQ(unsignedReport.queryError, static_cast<DWORD>(CRYPT_E_NO_MATCH));
    EXPECT_TRUE(unsignedReport.signers.empty());

    // Every certificate test passes; only the file digest gives it away.
    SignatureReport tampered;
    EXPECT_FALSE(checkFileSignature(sample(L"tampered.dll"), builtInTrustLists(), &tampered));
    EXPECT_EQ(onlySigner(tampered).outcome, SignerOutcome::WinVerifyTrustFailed);
    EXPECT_EQ(static_cast<DWORD>(onlySigner(tampered).winVerifyTrustResult), static_cast<DWORD>(TRUST_E_BAD_DIGEST));

    EXPECT_FALSE(checkFileSignature(L"", builtInTrustLists()));
    EXPECT_FALSE(checkFileSignature(sample(L"no-such-file.dll"), builtInTrustLists()));
}

TEST(FileSignatureCheck, SignerNameMustBeAcceptedUnlessTheListIsAbsent)
{
    SignatureReport report;
    EXPECT_FALSE(checkFileSignature(sample(L"other-signer.dll"), builtInTrustLists(), &report));
    EXPECT_EQ(onlySigner(report).outcome, SignerOutcome::NameNotAccepted);
    EXPECT_EQ(onlySigner(report).name, L"Mallory Software Ltd");

    TrustLists anyName = builtInTrustLists();
    anyName.signerNames.reset();
    EXPECT_TRUE(checkFileSignature(sample(L"other-signer.dll"), anyName));

    // Names compare without regard to case.
    TrustLists otherCase = builtInTrustLists();
    otherCase.signerNames = std::vector<std::wstring>{L"mALLORY software LTD"};
    EXPECT_TRUE(checkFileSignature(sample(L"other-signer.dll"), otherCase));
}

TEST(FileSignatureCheck, DeniedSerialNumberSkipsTheSigner)
{
    // Signed by "Corvane, Inc.", an accepted name.
    EXPECT_TRUE(checkFileSignature(sample(L"denied-serial.dll"), builtInTrustLists()));

    TrustLists denied = builtInTrustLists();
    denied.deniedSerials = {L"0de41ed5e41a"};
    SignatureReport report;
    EXPECT_FALSE(checkFileSignature(sample(L"denied-serial.dll"), denied, &report));
    EXPECT_EQ(onlySigner(report).outcome, SignerOutcome::SerialDenied);

    denied.deniedSerials = {L"000DE41ED5E41A"};
    EXPECT_FALSE(checkFileSignature(sample(L"denied-serial.dll"), denied));
    // Other signers are not affected.
    EXPECT_TRUE(checkFileSignature(sample(L"signed-rfc3161.dll"), denied));
}

TEST(FileSignatureCheck, UntrustedRootIsRefusedByChainStatusEvenWhenPinned)
{
    // The untrusted test root is one of the pinned roots, and Wine's
    // WinVerifyTrust accepts the file: only the chain status refuses it.
    EXPECT_EQ(verifyFileTrust(sample(L"untrusted-root.dll")), 0);
    SignatureReport report;
    EXPECT_FALSE(checkFileSignature(sample(L"untrusted-root.dll"), builtInTrustLists(), &report));
    EXPECT_EQ(onlySigner(report).outcome, SignerOutcome::ChainHasTrustErrors);
    EXPECT_EQ(onlySigner(report).chainErrorStatus & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN),
              static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT));

    TrustLists anyRoot = builtInTrustLists();
    anyRoot.rootThumbprints.clear();
    EXPECT_FALSE(checkFileSignature(sample(L"untrusted-root.dll"), anyRoot));
}

TEST(FileSignatureCheck, TrustedButUnpinnedRootIsRefusedByThePin)
{
    SignatureReport report;
    EXPECT_FALSE(checkFileSignature(sample(L"unpinned-root.dll"), builtInTrustLists(), &report));
    EXPECT_EQ(onlySigner(report).outcome, SignerOutcome::RootNotPinned);
    EXPECT_EQ(onlySigner(report).chainErrorStatus, 0u);

    TrustLists anyRoot = builtInTrustLists();
    anyRoot.rootThumbprints.clear();
    EXPECT_TRUE(checkFileSignature(sample(L"unpinned-root.dll"), anyRoot));

    // A malformed pinned entry is kept but matches nothing.
    TrustLists brokenPin = builtInTrustLists();
    brokenPin.rootThumbprints = {Thumbprint{}};
    EXPECT_FALSE(checkFileSignature(sample(L"unpinned-root.dll"), brokenPin));
}

TEST(SigningTime, Rfc3161TokenAgreesWithTheSigningTimeAttribute)
{
    // Dig the time-stamp token out of a real signature and read its TSTInfo.
    DWORD encoding = 0, contentType = 0, format = 0;
    Orvik::win::UniqueCertStore store;
    Orvik::win::UniqueCryptMsg message;
    ASSERT_TRUE(CryptQueryObject(CERT_QUERY_OBJECT_FILE, sample(L"signed-rfc3161.dll").c_str(),
                                 CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                                 &encoding, &contentType, &format, store.put(), message.put(), nullptr));
    DWORD size = 0;
    ASSERT_TRUE(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size));
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());

    const SigningTime fromAttribute = readSigningTime(*signer);
    ASSERT_EQ(fromAttribute.status, SigningTimeStatus::Found);

    const CRYPT_ATTRIBUTE* token = nullptr;
    for (DWORD i = 0; i < signer->UnauthAttrs.cAttr; ++i) {
        if (std::strcmp(signer->UnauthAttrs.rgAttr[i].pszObjId, "1.3.6.1.4.1.311.3.3.1") == 0)
            token = &signer->UnauthAttrs.rgAttr[i];
    }
    ASSERT_NE(token, nullptr);
    Orvik::win::UniqueCryptMsg tokenMessage(
        CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
    ASSERT_TRUE(CryptMsgUpdate(tokenMessage.get(), token->rgValue[0].pbData, token->rgValue[0].cbData, TRUE));
    ASSERT_TRUE(CryptMsgGetParam(tokenMessage.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size));
    std::vector<BYTE> content(size);
    ASSERT_TRUE(CryptMsgGetParam(tokenMessage.get(), CMSG_CONTENT_PARAM, 0, content.data(), &size));
    TstInfo info;
    ASSERT_TRUE(readTstInfo(content.data(), size, &info));
    EXPECT_EQ(info.imprintAlgorithm, "2.16.840.1.101.3.4.2.1");  // SHA-256
    EXPECT_EQ(info.imprint.size(), 32u);
    const LONGLONG difference = static_cast<LONGLONG>(toTicks(info.genTime) - toTicks(fromAttribute.time));
    EXPECT_LE(difference < 0 ? -difference : difference, static_cast<LONGLONG>(2 * kTicksPerSecond));

    // A truncated token is refused, never read past its end.
    for (DWORD cut = 0; cut < size; ++cut)
        EXPECT_FALSE(readTstInfo(content.data(), cut, &info)) << cut;
}

TEST(SigningTime, DerTimesFollowTheTwoDigitYearRule)
{
    const auto decode = [](const char* der, std::size_t size, SYSTEMTIME* out) {
        FILETIME time{};
        if (!decodeDerTime(reinterpret_cast<const BYTE*>(der), size, &time))
            return false;
        return FileTimeToSystemTime(&time, out) != FALSE;
    };
    SYSTEMTIME st{};
    ASSERT_TRUE(decode("\x17\x0d" "690102030405Z", 15, &st));
    EXPECT_EQ(st.wYear, 2069);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 2);
    EXPECT_EQ(st.wHour, 3);
    EXPECT_EQ(st.wMinute, 4);
    EXPECT_EQ(st.wSecond, 5);
    ASSERT_TRUE(decode("\x17\x0d" "700101000000Z", 15, &st));
    EXPECT_EQ(st.wYear, 1970);
    // A signing time is a UTCTime; GeneralizedTime is not taken.
    EXPECT_FALSE(decode("\x18\x12" "20500101000000.25Z", 20, &st));

    EXPECT_FALSE(decode("\x17\x0d" "691302030405Z", 15, &st));   // month 13
    EXPECT_FALSE(decode("\x17\x0d" "6901020304x5Z", 15, &st));   // not a digit
    EXPECT_FALSE(decode("\x17\x0b" "6901020304Z", 13, &st));     // no seconds
    EXPECT_FALSE(decode("\x17\x0d" "690102030405Z", 14, &st));   // truncated
    EXPECT_FALSE(decode("\x04\x0d" "690102030405Z", 15, &st));   // not a time
}

TEST(TrustLists, SerialsAndThumbprintsFromText)
{
    const BYTE littleEndian[] = {0x1A, 0xE4, 0xD5, 0x1E, 0xE4, 0x0D, 0x00};
    CRYPT_INTEGER_BLOB serial{sizeof(littleEndian), const_cast<BYTE*>(littleEndian)};
    EXPECT_EQ(serialToHex(serial), L"0DE41ED5E41A");

    EXPECT_EQ(thumbprintFromHex(L"0aFF"), (Thumbprint{0x0A, 0xFF}));
    EXPECT_TRUE(thumbprintFromHex(L"0aF").empty());
    EXPECT_TRUE(thumbprintFromHex(L"").empty());
    EXPECT_TRUE(thumbprintFromHex(L"zz").empty());
}
