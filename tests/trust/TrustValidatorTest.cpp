// validateFile: the validation service, the own check with built-in lists and
// the trust catalog, and the cabinet path.

#include "TrustTestSupport.h"

#include "trust/NotComDllGetInterface.h"
#include "trust/ProductRegistry.h"
#include "trust/TrustAnchors.h"
#include "trust/TrustValidator.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Orvik::trust;
using trusttest::sample;

namespace {

// A validator over a catalog in a temporary folder with its own atom.
class ValidatorTest : public ::testing::Test {
protected:
    ~ValidatorTest() override
    {
        while (ATOM atom = GlobalFindAtomW(atomName.c_str()))
            GlobalDeleteAtom(atom);
    }

    void place(const wchar_t* name) const
    {
        CreateDirectoryW(folder.file(L"Core").c_str(), nullptr);
        ASSERT_TRUE(trusttest::copyFileTo(sample(name), catalogPath));
    }

    DWORD validate(const wchar_t* name) const { return validator.validateFile(sample(name).c_str()); }

    trusttest::TempFolder folder;
    trusttest::TempFolder extractionFolder;
    std::wstring catalogPath = folder.file(L"Core\\trusted.js");
    std::wstring atomName = trusttest::uniqueName(L"um-trust-validator");
    TrustCatalog catalog{catalogPath, atomName, catalogSignerThumbprint()};
    TrustValidator validator{0, {}, catalog, builtInTrustLists(),
                             CabinetExtractionOptions{extractionFolder.path(), 4ull * 1024 * 1024}};
};

Orvik::win::ComPtr<IlexValidationControl> bindService()
{
    void* control = nullptr;
    const DWORD status = Orvik::NotComDllGetInterface(trusttest::sandboxFile(L"ilexval\\ilexval.dll").c_str(),
                                                      "IlexValidationControl", &control, nullptr);
    EXPECT_EQ(status, 0u);
    return Orvik::win::ComPtr<IlexValidationControl>(static_cast<IlexValidationControl*>(control));
}

DWORD serviceLastFlags()
{
    using LastFlags = DWORD (*)();
    HMODULE service = GetModuleHandleW(trusttest::sandboxFile(L"ilexval\\ilexval.dll").c_str());
    auto lastFlags = reinterpret_cast<LastFlags>(
        reinterpret_cast<void (*)()>(GetProcAddress(service, "IlexvalLastFlags")));
    return lastFlags != nullptr ? lastFlags() : 0xFFFFFFFF;
}

} // namespace

TEST_F(ValidatorTest, BuiltInListsDecideWithoutACatalog)
{
    EXPECT_EQ(validator.validateFile(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(validator.validateFile(L""), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), 0u);
    EXPECT_EQ(validate(L"denied-serial.dll"), 0u);
    EXPECT_EQ(validate(L"unsigned.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"tampered.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"other-signer.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"untrusted-root.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"unpinned-root.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"no-such-file.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(catalog.isLoaded());
}

TEST_F(ValidatorTest, VersionFiveCatalogIsLoadedButNotUsedByTheFirstFailingCheck)
{
    place(L"cat-v5-other.js");
    // The built-in lists refuse the file; the catalog is loaded but too old to use.
    EXPECT_EQ(validate(L"other-signer.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(catalog.isLoaded());
    EXPECT_EQ(catalog.version(), 5u);
    // Once loaded, only its lists count, whatever its version.
    EXPECT_EQ(validate(L"other-signer.dll"), 0u);
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ValidatorTest, NewerCatalogIsUsedByTheFirstFailingCheck)
{
    place(L"cat-v7-other.js");
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), 0u);
    EXPECT_FALSE(catalog.isLoaded());  // the built-in lists sufficed
    EXPECT_EQ(validate(L"other-signer.dll"), 0u);
    EXPECT_EQ(catalog.version(), 7u);
}

TEST_F(ValidatorTest, CatalogDeniedSerialOverridesTheBuiltInAcceptance)
{
    place(L"cat-v6-denied.js");
    EXPECT_TRUE(catalog.load());
    EXPECT_EQ(validate(L"denied-serial.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), 0u);
}

TEST_F(ValidatorTest, CatalogInstalledElsewhereIsPickedUpThroughTheAtom)
{
    place(L"cat-v6.js");
    ASSERT_TRUE(catalog.load());
    EXPECT_EQ(validate(L"other-signer.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Another process's catalog object installs a catalog trusting the signer.
    TrustCatalog elsewhere(catalogPath, atomName, catalogSignerThumbprint());
    ASSERT_TRUE(elsewhere.installCatalog(sample(L"cat-v7-other.js")));
    EXPECT_EQ(catalog.version(), 6u);
    EXPECT_EQ(validate(L"other-signer.dll"), 0u);
    EXPECT_EQ(catalog.version(), 7u);
}

TEST_F(ValidatorTest, SignedCabinetWithNewerCatalogMakesItsSignerTrusted)
{
    // Signed by a name the built-in lists refuse; carries catalog version 7,
    // which accepts it.
    EXPECT_EQ(validate(L"other-signer.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"other-with-catalog.cab"), 0u);
    EXPECT_EQ(catalog.version(), 7u);
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v7-other.js")));
    EXPECT_EQ(validate(L"other-signer.dll"), 0u);
    EXPECT_TRUE(trusttest::folderEntries(extractionFolder.path()).empty());
}

TEST_F(ValidatorTest, CabinetsWithoutAUsableCatalogAreRefused)
{
    EXPECT_EQ(validate(L"accepted.cab"), 0u);
    EXPECT_EQ(validate(L"other-no-catalog.cab"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"other-wrong-catalog.cab"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(trusttest::fileExists(catalogPath));

    // A catalog no newer than the installed one changes nothing.
    place(L"cat-v7-other.js");
    ASSERT_TRUE(catalog.load());
    catalog.clear();
    place(L"cat-v9.js");
    EXPECT_EQ(validate(L"other-with-catalog.cab"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(trusttest::readBytes(catalogPath), trusttest::readBytes(sample(L"cat-v9.js")));
    EXPECT_TRUE(trusttest::folderEntries(extractionFolder.path()).empty());
}

TEST_F(ValidatorTest, ServiceVerdictBitDependsOnTheCoreVersion)
{
    TrustValidator core1504(1504, bindService(), catalog, builtInTrustLists());
    EXPECT_EQ(core1504.validateFile(sample(L"ilexval-bit0-unsigned.dll").c_str()), 0u);
    EXPECT_EQ(serviceLastFlags(), 4u);
    EXPECT_EQ(core1504.validateFile(sample(L"ilexval-bit3-unsigned.dll").c_str()),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(core1504.validateFile(sample(L"ilexval-novalid-unsigned.dll").c_str()),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // The service saying no leaves the decision to the own check.
    EXPECT_EQ(core1504.validateFile(sample(L"signed-rfc3161.dll").c_str()), 0u);

    TrustValidator core1600(1600, bindService(), catalog, builtInTrustLists());
    EXPECT_EQ(core1600.validateFile(sample(L"ilexval-bit3-unsigned.dll").c_str()), 0u);
    EXPECT_EQ(serviceLastFlags(), 512u);
    EXPECT_EQ(core1600.validateFile(sample(L"ilexval-bit0-unsigned.dll").c_str()),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ValidatorSettings, CoreVersionText)
{
    EXPECT_EQ(coreVersionFromText(L"15.7"), 1507u);
    EXPECT_EQ(coreVersionFromText(L"16.4"), 1604u);
    EXPECT_EQ(coreVersionFromText(L"16.2"), 1504u);   // minor must exceed 3
    EXPECT_EQ(coreVersionFromText(L"14.9"), 1504u);   // major must exceed 14
    EXPECT_EQ(coreVersionFromText(L"15"), 1504u);
    EXPECT_EQ(coreVersionFromText(L"abc"), 1504u);
    EXPECT_EQ(coreVersionFromText(L""), 1504u);
    EXPECT_EQ(coreVersionFromText(nullptr), 1504u);
    EXPECT_EQ(coreVersionFromText(L"4294967295.99"), 1504u);
}

TEST(ValidatorSettings, ProductKeyGivesCoreVersionAndService)
{
    {
        trusttest::ProductKey key;
        ASSERT_TRUE(key.set(L"system_core_version", L"15.7"));
        ASSERT_TRUE(key.set(L"szInstallDir64", trusttest::sandboxFile(L"ilexval")));
        TrustValidator::Settings settings = TrustValidator::readSettings(builtInTrustLists());
        EXPECT_EQ(settings.coreVersion, 1507u);
        ASSERT_TRUE(settings.control);
        settings.control.reset();

        // A service library not signed by the maker is not used.
        ASSERT_TRUE(key.set(L"system_core_version", L"16.2"));
        ASSERT_TRUE(key.set(L"szInstallDir64", trusttest::sample(L"ilexval-other-signer")));
        settings = TrustValidator::readSettings(builtInTrustLists());
        EXPECT_EQ(settings.coreVersion, 1504u);
        EXPECT_FALSE(settings.control);
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Corvane\\Ferrule", 0, KEY_READ | KEY_WOW64_32KEY, &key) ==
        ERROR_SUCCESS) {
        RegCloseKey(key);
        GTEST_SKIP() << "the product key exists in this prefix";
    }
    const TrustValidator::Settings absent = TrustValidator::readSettings(builtInTrustLists());
    EXPECT_EQ(absent.coreVersion, 0u);
    EXPECT_FALSE(absent.control);
}
