// Taking "trusted.js" out of cabinets, including hostile ones.

#include "TrustTestSupport.h"

#include "trust/CabinetCatalogExtractor.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Orvik::trust;
using trusttest::sample;

namespace {

CabinetExtractionOptions inFolder(const trusttest::TempFolder& folder)
{
    CabinetExtractionOptions options;
    options.temporaryFolder = folder.path();
    return options;
}

} // namespace

TEST(CabinetExtraction, OnlyTheCatalogMemberIsExtractedAndCleanedUp)
{
    trusttest::TempFolder folder;
    std::wstring extractedPath;
    {
        auto extracted = extractTrustedCatalog(sample(L"other-with-catalog.cab"), inFolder(folder));
        ASSERT_NE(extracted, nullptr);
        extractedPath = extracted->path();
        EXPECT_EQ(extractedPath.substr(0, folder.path().size()), folder.path());
        EXPECT_EQ(extractedPath.substr(extractedPath.size() - 3), L".js");
        EXPECT_EQ(trusttest::readBytes(extractedPath), trusttest::readBytes(sample(L"cat-v7-other.js")));
        // The extracted file and the name reserved for it, nothing else.
        const auto entries = trusttest::folderEntries(folder.path());
        EXPECT_EQ(entries.size(), 2u);
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [](const std::wstring& n) { return n.find(L"readme") != std::wstring::npos; }),
                  0);
    }
    EXPECT_FALSE(trusttest::fileExists(extractedPath));
    EXPECT_TRUE(trusttest::folderEntries(folder.path()).empty());
}

TEST(CabinetExtraction, MemberNamesCannotEscapeTheTemporaryFile)
{
    // escape.cab holds "..\evil-up.txt", "C:\evil-drive.txt", "../evil-slash.txt",
    // "\root-evil.txt", "sub\trusted.js", "..\trusted.js" and finally "trusted.js".
    trusttest::TempFolder outer;
    const std::wstring inner = outer.file(L"extract");
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    CabinetExtractionOptions options;
    options.temporaryFolder = inner;

    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring places[] = {outer.path(), inner, L"C:", std::wstring(current), L"C:\\windows\\temp"};
    const wchar_t* hostile[] = {L"evil-up.txt", L"evil-drive.txt", L"evil-slash.txt", L"root-evil.txt"};
    {
        auto extracted = extractTrustedCatalog(sample(L"escape.cab"), options);
        ASSERT_NE(extracted, nullptr);
        EXPECT_EQ(trusttest::readBytes(extracted->path()), "catalog\n");
        EXPECT_EQ(trusttest::folderEntries(inner).size(), 2u);
        EXPECT_EQ(trusttest::folderEntries(outer.path()).size(), 1u);
        for (const std::wstring& place : places) {
            for (const wchar_t* name : hostile)
                EXPECT_FALSE(trusttest::fileExists(place + L"\\" + name)) << place.c_str() << name;
            EXPECT_FALSE(trusttest::fileExists(place + L"\\sub\\trusted.js"));
        }
        EXPECT_FALSE(trusttest::fileExists(L"C:\\root-evil.txt"));
        EXPECT_FALSE(trusttest::fileExists(outer.file(L"trusted.js")));
    }
    EXPECT_TRUE(trusttest::folderEntries(inner).empty());
}

TEST(CabinetExtraction, OversizedCatalogMemberIsNotExtracted)
{
    // bomb.cab: a 12 MB "trusted.js" compressed to a few kilobytes.
    trusttest::TempFolder folder;
    EXPECT_EQ(extractTrustedCatalog(sample(L"bomb.cab"), inFolder(folder)), nullptr);
    EXPECT_TRUE(trusttest::folderEntries(folder.path()).empty());

    CabinetExtractionOptions small = inFolder(folder);
    small.maxMemberBytes = 100;
    EXPECT_EQ(extractTrustedCatalog(sample(L"other-with-catalog.cab"), small), nullptr);
    EXPECT_TRUE(trusttest::folderEntries(folder.path()).empty());
}

TEST(CabinetExtraction, NoCatalogOrNoCabinet)
{
    trusttest::TempFolder folder;
    EXPECT_EQ(extractTrustedCatalog(sample(L"other-no-catalog.cab"), inFolder(folder)), nullptr);
    EXPECT_EQ(extractTrustedCatalog(sample(L"signed-rfc3161.dll"), inFolder(folder)), nullptr);
    EXPECT_EQ(extractTrustedCatalog(sample(L"missing.cab"), inFolder(folder)), nullptr);
    EXPECT_EQ(extractTrustedCatalog(L"", inFolder(folder)), nullptr);
    EXPECT_TRUE(trusttest::folderEntries(folder.path()).empty());

    // The member name matches without regard to case.
    auto upper = extractTrustedCatalog(sample(L"other-wrong-catalog.cab"), inFolder(folder));
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(trusttest::readBytes(upper->path()), trusttest::readBytes(sample(L"cat-wrong-signer.js")));
}
