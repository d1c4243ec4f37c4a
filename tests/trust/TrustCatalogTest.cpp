// Loading and installing signed trust catalogs (in a temporary folder, with an
// atom of their own, so no other process's catalog is touched).

#include "TrustTestSupport.h"

#include "trust/TrustAnchors.h"
#include "trust/TrustCatalog.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Orvik::trust;
using trusttest::sample;

namespace {

class CatalogTest : public ::testing::Test {
protected:
    ~CatalogTest() override
    {
        while (ATOM atom = GlobalFindAtomW(atomName.c_str()))
            GlobalDeleteAtom(atom);
    }

    std::unique_ptr<TrustCatalog> makeCatalog() const
    {
        return std::make_unique<TrustCatalog>(catalogPath, atomName, catalogSignerThumbprint());
    }

    void place(const wchar_t* name) const
    {
        CreateDirectoryW(folder.file(L"Core").c_str(), nullptr);
        ASSERT_TRUE(trusttest::copyFileTo(sample(name), catalogPath));
    }

    trusttest::TempFolder folder;
    std::wstring catalogPath = folder.file(L"Core\\trusted.js");
    std::wstring atomName = trusttest::uniqueName(L"um-trust-catalog");
};

} // namespace

TEST(TrustCatalogPath, DefaultPathLiesOnTheWindowsDrive)
{
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring expected = std::wstring(windows, 3) + L"Program Files\\Common Files\\Corvane\\Platform\\Core\\trusted.js";
    EXPECT_EQ(TrustCatalog::defaultPath(), expected);
}

TEST_F(CatalogTest, SignedCatalogLoadsWithItsLists)
{
    place(L"cat-v7-other.js");
    auto catalog = makeCatalog();
    EXPECT_FALSE(catalog->isLoaded());
    ASSERT_TRUE(catalog->load());
    EXPECT_EQ(catalog->version(), 7u);
    EXPECT_EQ(catalog->lastReadStatus(), CatalogReadStatus::Loaded);
    EXPECT_EQ(catalog->checkFile(sample(L"other-signer.dll")), TrustCatalog::CheckResult::Passed);
    EXPECT_EQ(catalog->checkFile(sample(L"unsigned.dll")), TrustCatalog::CheckResult::Failed);
    // The version limit of a check applies to the loaded version.
    EXPECT_EQ(catalog->checkFile(sample(L"other-signer.dll"), 7), TrustCatalog::CheckResult::NotUsed);

    // A loaded catalog is not re-read, even when the file changes.
    place(L"cat-v6.js");
    EXPECT_TRUE(catalog->load());
    EXPECT_EQ(catalog->version(), 7u);
    EXPECT_TRUE(catalog->reload());
    EXPECT_EQ(catalog->version(), 6u);
    catalog->clear();
    EXPECT_FALSE(catalog->isLoaded());
    EXPECT_EQ(catalog->checkFile(sample(L"signed-rfc3161.dll")), TrustCatalog::CheckResult::NotUsed);
}

TEST_F(CatalogTest, CatalogsThatAreNotUsed)
{
    struct Case {
        const wchar_t* file;
        CatalogReadStatus status;
    };
    const Case cases[] = {
        {L"cat-two-versions.js", CatalogReadStatus::Invalid},
        {L"cat-blank-section.js", CatalogReadStatus::Invalid},
        {L"cat-long-line.js", CatalogReadStatus::Invalid},
        {L"cat-wrong-signer.js", CatalogReadStatus::WrongSigner},
        {L"cat-unsigned.js", CatalogReadStatus::NotSigned},
        // Changed after signing: the script signature no longer covers it.
        {L"cat-tampered.js", CatalogReadStatus::NotSigned},
        {L"cat-big.js", CatalogReadStatus::TooLarge},
    };
    for (const Case& c : cases) {
        place(c.file);
        auto catalog = makeCatalog();
        EXPECT_FALSE(catalog->load()) << c.file;
        EXPECT_EQ(catalog->lastReadStatus(), c.status) << c.file;
        EXPECT_EQ(catalog->version(), 0u);
    }
    DeleteFileW(catalogPath.c_str());
    auto missing = makeCatalog();
    EXPECT_FALSE(missing->load());
    EXPECT_EQ(missing->lastReadStatus(), CatalogReadStatus::Missing);
}

TEST_F(CatalogTest, CatalogSignerIsIdentifiedByThumbprintOnly)
{
    place(L"cat-v6.js");
    Thumbprint otherSigner = catalogSignerThumbprint();
    otherSigner[0] ^= 0xFF;
    TrustCatalog catalog(catalogPath, atomName, otherSigner);
    EXPECT_FALSE(catalog.load());
    EXPECT_EQ(catalog.lastReadStatus(), CatalogReadStatus::WrongSigner);
}

TEST_F(CatalogTest, DeniedSerialInTheCatalog)
{
    place(L"cat-v6-denied.js");
    auto catalog = makeCatalog();
    ASSERT_TRUE(catalog->load());
    EXPECT_EQ(catalog->checkFile(sample(L"denied-serial.dll")), TrustCatalog::CheckResult::Failed);
    EXPECT_EQ(catalog->checkFile(sample(L"signed-rfc3161.dll")), TrustCatalog::CheckResult::Passed);
}

TEST_F(CatalogTest, InstallTakesOnlyNewerCatalogsFromVersionSixOn)
{
    auto catalog = makeCatalog();
    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-v5-other.js")));
    EXPECT_FALSE(trusttest::fileExists(catalogPath));
    EXPECT_FALSE(catalog->replacementAnnounced());

    // Into an empty place: the folder is made, the catalog moved in and loaded.
    ASSERT_TRUE(catalog->installCatalog(sample(L"cat-v6.js")));
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v6.js")));
    EXPECT_EQ(catalog->version(), 6u);
    EXPECT_TRUE(catalog->replacementAnnounced());
    EXPECT_FALSE(trusttest::fileExists(folder.file(L"Core\\trusted.tmp")));

    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-v6.js")));
    ASSERT_TRUE(catalog->installCatalog(sample(L"cat-v7-other.js")));
    EXPECT_EQ(catalog->version(), 7u);
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v7-other.js")));
    EXPECT_FALSE(trusttest::fileExists(folder.file(L"Core\\trusted.tmp")));

    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-v6.js")));
    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-wrong-signer.js")));
    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-tampered.js")));
    EXPECT_FALSE(catalog->installCatalog(sample(L"no-such-catalog.js")));
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v7-other.js")));
}

TEST_F(CatalogTest, InstallNeverReplacesANewerCatalogOnDisk)
{
    place(L"cat-v9.js");
    // This catalog has not read the file yet; an older candidate must still lose.
    auto catalog = makeCatalog();
    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-v8.js")));
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v9.js")));

    // Another "process" installs v10; this one, still holding v9, is told by the atom.
    auto other = makeCatalog();
    ASSERT_TRUE(other->installCatalog(sample(L"cat-v10.js")));
    EXPECT_EQ(catalog->version(), 9u);
    EXPECT_FALSE(catalog->installCatalog(sample(L"cat-v8.js")));
    EXPECT_EQ(catalog->version(), 10u);
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v10.js")));
}

TEST_F(CatalogTest, CatalogHeldOpenIsReplacedAtTheNextReboot)
{
    place(L"cat-v6.js");
    auto catalog = makeCatalog();
    ASSERT_TRUE(catalog->load());
    {
        // Someone keeps the catalog open without delete sharing.
        const Orvik::win::UniqueFile holder(
            CreateFileW(catalogPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(catalog->installCatalog(sample(L"cat-v7-other.js")));
    }
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v6.js")));
    const std::wstring temporary = folder.file(L"Core\\trusted.tmp");
    EXPECT_EQ(trusttest::readBytes(temporary), trusttest::readBytes(sample(L"cat-v7-other.js")));

    // The move is recorded for the next start; take our entry out again.
    Orvik::win::UniqueRegKey owner;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                            KEY_READ | KEY_WRITE, owner.put()),
              ERROR_SUCCESS);
    const HKEY key = owner.get();
    DWORD size = 0;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    std::wstring operations(size / sizeof(wchar_t), L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&operations[0]),
                     &size);
    // Find our "source\0target\0" pair and take exactly it out.
    const std::size_t source = operations.find(L"trusted.tmp");
    ASSERT_NE(source, std::wstring::npos);
    const std::size_t begin = operations.rfind(L'\0', source) == std::wstring::npos ? 0
                                                                                     : operations.rfind(L'\0', source) + 1;
    const std::size_t sourceEnd = operations.find(L'\0', source);
    ASSERT_NE(sourceEnd, std::wstring::npos);
    const std::size_t targetEnd = operations.find(L'\0', sourceEnd + 1);
    ASSERT_NE(targetEnd, std::wstring::npos);
    EXPECT_NE(operations.substr(begin, sourceEnd - begin).find(L"um-trust"), std::wstring::npos);
    EXPECT_NE(operations.substr(sourceEnd + 1, targetEnd - sourceEnd - 1).find(L"trusted.js"), std::wstring::npos);
    operations.erase(begin, targetEnd + 1 - begin);
    if (operations.find_first_not_of(L'\0') == std::wstring::npos) {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    } else {
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(operations.data()),
                       static_cast<DWORD>(operations.size() * sizeof(wchar_t)));
    }
}
