// validateFile: the validation service, the own check with built-in lists and
// the trust catalog, and the cabinet path.

#include "LogCapture.h"
#include "TrustTestPaths.h"
#include "TrustTestSupport.h"

#include "Logging/Logger.h"
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

TEST_F(ValidatorTest, CatalogOfVersionFiveLeavesTheBuiltInListsInForce)
{
    place(L"cat-v5-other.js");
    // Read at the first check, but no newer than the built-in lists.
    EXPECT_EQ(validate(L"other-signer.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(catalog.version(), 5u);
    EXPECT_EQ(validate(L"other-signer.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), 0u);
}

TEST_F(ValidatorTest, NewerCatalogDecidesFromTheFirstCheck)
{
    place(L"cat-v7-other.js");
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), 0u);
    EXPECT_EQ(catalog.version(), 7u);
    EXPECT_EQ(validate(L"other-signer.dll"), 0u);
}

TEST_F(ValidatorTest, CatalogDeniedSerialCountsFromTheFirstCheck)
{
    place(L"cat-v6-denied.js");
    // A fresh process: no check has failed yet, the built-in lists would accept it.
    EXPECT_EQ(validate(L"denied-serial.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(validate(L"signed-rfc3161.dll"), 0u);
    EXPECT_EQ(validate(L"denied-serial.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ValidatorTest, CatalogLockedByAnotherProcessStaysInForce)
{
    place(L"cat-v6-denied.js");
    ASSERT_TRUE(catalog.load());
    const std::wstring events = trusttest::uniqueName(L"um-trust-lock");
    const trusttest::NamedEvent locked(events + L"-locked"), release(events + L"-release");
    const Orvik::win::UniqueKernelHandle holder =
        trusttest::startHelper(L"lock \"" + catalogPath + L"\" " + events);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(locked.wait(30000));
    // It announces a new catalog it keeps everyone from reading.
    GlobalAddAtomW(atomName.c_str());
    EXPECT_EQ(validate(L"denied-serial.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(catalog.version(), 6u);
    EXPECT_EQ(validate(L"denied-serial.dll"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    release.set();
    EXPECT_EQ(trusttest::exitCodeWithin(holder.get(), 30000), 0u);
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
    Orvik::win::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Corvane\\Ferrule", 0, KEY_READ | KEY_WOW64_32KEY,
                      key.put()) == ERROR_SUCCESS)
        GTEST_SKIP() << "the product key exists in this prefix";
    const TrustValidator::Settings absent = TrustValidator::readSettings(builtInTrustLists());
    EXPECT_EQ(absent.coreVersion, 0u);
    EXPECT_FALSE(absent.control);
}

TEST(TestAnchors, TestAnchoredBuildSaysSo)
{
    const bool forTests = trustAnchorsAreForTests();
    // In the module's version resource...
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(UM_MODULE_DLL, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> resource(size);
    ASSERT_TRUE(GetFileVersionInfoW(UM_MODULE_DLL, 0, size, resource.data()));
    void* text = nullptr;
    UINT length = 0;
    const bool marked = VerQueryValueW(resource.data(), L"\\StringFileInfo\\040904b0\\SpecialBuild", &text,
                                       &length) &&
                        length > 1;
    EXPECT_EQ(marked, forTests);

    // ...and once in the log when a validator is made.
    testsupport::LogCapture log;
    trusttest::TempFolder folder;
    TrustCatalog catalog(folder.file(L"trusted.js"), trusttest::uniqueName(L"um-trust-anchors"),
                         catalogSignerThumbprint());
    const auto validator = TrustValidator::createFromRegistry(catalog, builtInTrustLists());
    const auto warnings = log.matching(L"test PKI");
    ASSERT_EQ(warnings.size(), forTests ? 1u : 0u);
    if (forTests) {
        EXPECT_EQ(warnings[0].level, static_cast<std::uint32_t>(LOG_LEVEL_WARNING));
    }
}
