// Many threads validating while another installs catalogs.

#include "TrustTestSupport.h"

#include "trust/TrustAnchors.h"
#include "trust/TrustValidator.h"

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
