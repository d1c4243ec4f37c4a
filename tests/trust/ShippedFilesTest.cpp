// What the build ships is signed like every library the module accepts: the
// module and the tools verify under the test root with a time-stamped
// signature of the accepted signer, after every step that changes the file.

#include "TrustTestPaths.h"

#include "trust/FileSignatureCheck.h"
#include "trust/SignedLibraryValidation.h"
#include "trust/TrustAnchors.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace Orvik::trust;

TEST(ShippedFiles, ModuleAndToolsAreSignedAndTheirUnsignedCopiesAreNot)
{
    const std::pair<std::wstring, std::wstring> files[] = {
        {UM_MODULE_DLL, UM_BUILD_FOLDER L"\\UpdateModule.unsigned.dll"},
        {UM_BUILD_FOLDER L"\\tools\\ZuLogConfig.exe", UM_BUILD_FOLDER L"\\tools\\ZuLogConfig.unsigned.exe"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(::testing::PrintToString(file.first));
        // A step after signing (the debug split, a strip) would leave a digest that no longer matches.
        EXPECT_EQ(verifyFileTrust(file.first), 0);
        EXPECT_EQ(Orvik::validateFile(file.first.c_str()), 0u);
        SignatureReport report;
        EXPECT_TRUE(checkFileSignature(file.first, builtInTrustLists(), &report));
        ASSERT_EQ(report.signers.size(), 1u);
        EXPECT_EQ(report.signers[0].name, L"Orvik Corporation");
        EXPECT_EQ(report.signers[0].signingTime.source, SigningTimeSource::Rfc3161SigningTime);
        EXPECT_NE(report.signers[0].timeStamp, TimeStampVerdict::Refused);

        EXPECT_EQ(verifyFileTrust(file.second), static_cast<LONG>(TRUST_E_NOSIGNATURE));
    }
}
