// Many threads validating while another installs catalogs; files swapped
// while they are checked; installers racing in two processes.

#include "TrustTestSupport.h"

#include "trust/SignedLibraryValidation.h"
#include "trust/TrustAnchors.h"
#include "trust/TrustValidator.h"
#include "trust/VerifiedFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace Orvik::trust;
using trusttest::sample;

TEST(TrustConcurrency, ValidationStaysConsistentWhileCatalogsAreInstalled)
{
    trusttest::TempFolder folder;
    const std::wstring atomName = trusttest::uniqueName(L"um-trust-concurrency");
    TrustCatalog catalog(folder.file(L"Core\\trusted.js"), atomName, catalogSignerThumbprint());
    ASSERT_TRUE(catalog.installCatalog(sample(L"cat-v6.js")));
    TrustValidator validator(0, {}, catalog, builtInTrustLists());

    constexpr int kThreads = 8;
    constexpr int kRounds = 4;
    std::atomic<int> wrongAnswers{0};
    std::atomic<int> checks{0};
    std::atomic<bool> installing{true};
    const std::wstring trusted = sample(L"signed-rfc3161.dll");
    const std::wstring refused = sample(L"unsigned.dll");
    const std::wstring refusedSigned = sample(L"other-signer.dll");

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds || installing; ++round) {
                if (validator.validateFile(trusted.c_str()) != 0)
                    ++wrongAnswers;
                const std::wstring& other = (t + round) % 2 == 0 ? refused : refusedSigned;
                if (validator.validateFile(other.c_str()) != ERROR_ACCESS_DENIED)
                    ++wrongAnswers;
                checks += 2;
                if (round > 200)
                    break;
            }
        });
    }
    bool allInstalled = true;
    for (const wchar_t* next : {L"cat-v8.js", L"cat-v9.js", L"cat-v10.js"}) {
        allInstalled = catalog.installCatalog(sample(next)) && allInstalled;
        Sleep(20);
    }
    installing = false;
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_TRUE(allInstalled);
    EXPECT_EQ(catalog.version(), 10u);
    EXPECT_EQ(wrongAnswers.load(), 0);
    EXPECT_GE(checks.load(), kThreads * kRounds * 2);
    while (ATOM atom = GlobalFindAtomW(atomName.c_str()))
        GlobalDeleteAtom(atom);
}

TEST(TrustRaces, FileCannotBeSwappedBetweenCheckAndLoad)
{
    trusttest::TempFolder folder;
    const std::wstring library = folder.file(L"library.dll");
    const std::wstring impostor = folder.file(L"impostor.dll");
    // The same code, signed by an accepted name and by one that is not.
    ASSERT_TRUE(trusttest::copyFileTo(sample(L"signed-rfc3161.dll"), library));
    ASSERT_TRUE(trusttest::copyFileTo(sample(L"other-signer.dll"), impostor));
    const std::string checked = trusttest::readBytes(library);

    // A racing thread moves the impostor over the file in the middle of the
    // check: after the signer's chain was judged, before WinVerifyTrust reads it.
    const std::wstring pause = trusttest::uniqueName(L"um-trust-swap");
    const trusttest::NamedEvent reached(pause + L"-reached"), go(pause + L"-go");
    bool swapped = false;
    std::thread racer([&] {
        if (reached.wait(30000))
            swapped = MoveFileExW(impostor.c_str(), library.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        go.set();
    });
    DWORD result = 0;
    {
        const trusttest::ScopedEnvironment hook(L"UM_TRUST_PAUSE", pause);
        result = Orvik::validateFile(library.c_str());
    }
    racer.join();
    EXPECT_FALSE(swapped);
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(trusttest::readBytes(library) == checked);

    // Between the check and the load the file stays as checked.
    const Orvik::VerifiedFile file = Orvik::VerifiedFile::open(library.c_str());
    ASSERT_TRUE(file.trusted());
    EXPECT_FALSE(MoveFileExW(impostor.c_str(), library.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(DeleteFileW(library.c_str()));
    const Orvik::win::UniqueLibrary loaded = file.load(0);
    ASSERT_TRUE(loaded);
    wchar_t name[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(loaded.get(), name, MAX_PATH), 0u);
    EXPECT_TRUE(trusttest::readBytes(name) == checked);
}

TEST(TrustRaces, TwoInstallerProcessesEndWithTheNewestCatalog)
{
    trusttest::TempFolder folder;
    const std::wstring catalogPath = folder.file(L"Core\\trusted.js");
    const std::wstring atomName = trusttest::uniqueName(L"um-trust-installers");
    CreateDirectoryW(folder.file(L"Core").c_str(), nullptr);
    ASSERT_TRUE(trusttest::copyFileTo(sample(L"cat-v8.js"), catalogPath));
    const auto install = [&](const wchar_t* candidate) {
        return trusttest::startHelper(L"install \"" + catalogPath + L"\" " + atomName + L" \"" + sample(candidate) +
                                      L"\"");
    };

    // The older installer stops while it reads the installed catalog, and the
    // newer one runs meanwhile.
    const std::wstring pause = trusttest::uniqueName(L"um-trust-install");
    const trusttest::NamedEvent reached(pause + L"-reached"), go(pause + L"-go");
    Orvik::win::UniqueKernelHandle older;
    {
        const trusttest::ScopedEnvironment hook(L"UM_TRUST_PAUSE", pause);
        older = install(L"cat-v9.js");
    }
    ASSERT_TRUE(older);
    ASSERT_TRUE(reached.wait(30000));
    const Orvik::win::UniqueKernelHandle newer = install(L"cat-v10.js");
    ASSERT_TRUE(newer);
    trusttest::exitCodeWithin(newer.get(), 2000);
    go.set();
    EXPECT_NE(trusttest::exitCodeWithin(older.get(), 30000), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(trusttest::exitCodeWithin(newer.get(), 30000), 0u);
    EXPECT_TRUE(trusttest::readBytes(catalogPath) == trusttest::readBytes(sample(L"cat-v10.js")));
    EXPECT_EQ(trusttest::folderEntries(folder.file(L"Core")), std::vector<std::wstring>{L"trusted.js"});
    while (ATOM atom = GlobalFindAtomW(atomName.c_str()))
        GlobalDeleteAtom(atom);
}
