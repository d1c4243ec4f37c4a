// Validated COM creation with the signed and unsigned in-process test servers
// registered by the trust_pki fixture.

#include "TrustTestSupport.h"

#include "trust/SignedLibraryValidation.h"
#include "win/ComApartment.h"
#include "win/ComPtr.h"

#include <gtest/gtest.h>

// The test server's interface. Declared outside the anonymous namespace: the
// compiler may treat calls on an interface it sees no implementation of in
// this unit as unreachable.
struct ITrustProbe : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetMagic(DWORD* magic) = 0;
};

namespace {

const CLSID kSignedProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x11}};
const CLSID kUnsignedProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x12}};
const CLSID kFactory2OnlyProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x13}};
const CLSID kForeignCreateProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x14}};
const CLSID kSpoofProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x15}};
const CLSID kUnregistered = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0xFF}};
const IID kTrustProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x10}};

using Orvik::win::ComApartment;
using Orvik::win::ComPtr;

// Class objects and instances alive in one copy of the server.
long liveObjects(const wchar_t* server)
{
    HMODULE module = GetModuleHandleW(trusttest::sandboxFile(server).c_str());
    if (module == nullptr)
        return -1;
    using Count = long (*)();
    auto count = reinterpret_cast<Count>(reinterpret_cast<void (*)()>(GetProcAddress(module, "TrustProbeLiveObjects")));
    return count != nullptr ? count() : -1;
}

bool loaded(const wchar_t* server)
{
    return GetModuleHandleW(trusttest::sandboxFile(server).c_str()) != nullptr;
}

void expectWorkingProbe(const ComPtr<ITrustProbe>& probe)
{
    ASSERT_TRUE(probe);
    DWORD magic = 0;
    EXPECT_EQ(probe->GetMagic(&magic), S_OK);
    EXPECT_EQ(magic, 0x7E57C0DEu);
}

} // namespace

TEST(VerifiedInstance, SignedServerCreatesAWorkingObject)
{
    ComApartment com;
    ComPtr<ITrustProbe> probe;
    EXPECT_EQ(Orvik::createVerifiedInstance(kSignedProbe, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe,
                                            probe.putVoid(), true),
              S_OK);
    expectWorkingProbe(probe);
    probe.reset();
    EXPECT_EQ(liveObjects(L"TrustProbe.dll"), 0);
}

TEST(VerifiedInstance, UnsignedServerIsRefusedBeforeAnyOfItsCodeRuns)
{
    ComApartment com;
    ASSERT_FALSE(loaded(L"TrustProbeUnsigned.dll"));
    ITrustProbe* probe = reinterpret_cast<ITrustProbe*>(1);
    EXPECT_EQ(Orvik::createVerifiedInstance(kUnsignedProbe, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe,
                                            reinterpret_cast<void**>(&probe), true),
              E_ACCESSDENIED);
    EXPECT_EQ(probe, nullptr);
    // Never loaded: neither its DllMain nor its DllGetClassObject ran.
    EXPECT_FALSE(loaded(L"TrustProbeUnsigned.dll"));

    // Without the verify flag it is plain CoCreateInstance.
    ComPtr<ITrustProbe> created;
    EXPECT_EQ(Orvik::createVerifiedInstance(kUnsignedProbe, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe,
                                            created.putVoid(), false),
              S_OK);
    expectWorkingProbe(created);
}

TEST(VerifiedInstance, SecondClassFactoryInterfaceIsTheFallback)
{
    ComApartment com;
    ComPtr<ITrustProbe> probe;
    EXPECT_EQ(Orvik::createVerifiedInstance(kFactory2OnlyProbe, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe,
                                            probe.putVoid(), true),
              S_OK);
    expectWorkingProbe(probe);
    probe.reset();
    EXPECT_EQ(liveObjects(L"TrustProbe.dll"), 0);
}

TEST(VerifiedInstance, ClassObjectMustComeWhollyFromTheCheckedServer)
{
    ComApartment com;
    // An unsigned server whose class object's first function lies in the
    // signed server, and a signed server whose instance creation lies elsewhere.
    for (const CLSID* clsid : {&kSpoofProbe, &kForeignCreateProbe}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(Orvik::createVerifiedInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe, &object, true),
                  E_ACCESSDENIED);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_FALSE(loaded(L"TrustProbeSpoof.dll"));
    // Out-of-process servers cannot be checked before they run.
    void* object = nullptr;
    EXPECT_EQ(Orvik::createVerifiedInstance(kSignedProbe, nullptr, CLSCTX_LOCAL_SERVER, kTrustProbe, &object, true),
              E_ACCESSDENIED);
}

TEST(VerifiedInstance, RegisteredServerPathAndThreadingModel)
{
    const trusttest::ScopedEnvironment folder(L"UM_TRUST_PROBE_DIR", L"C:\\Probe");
    const struct {
        DWORD type;
        const wchar_t* value;
        const wchar_t* path;  // empty: not used
    } paths[] = {
        {REG_SZ, L"C:\\Probe\\server.dll", L"C:\\Probe\\server.dll"},
        {REG_SZ, L"\"C:\\Program Files\\server.dll\"", L"C:\\Program Files\\server.dll"},
        {REG_EXPAND_SZ, L"%UM_TRUST_PROBE_DIR%\\server.dll", L"C:\\Probe\\server.dll"},
        {REG_SZ, L"%UM_TRUST_PROBE_DIR%\\server.dll", L""},
        {REG_SZ, L"server.dll", L""},
        {REG_SZ, L"\\\\host\\share\\server.dll", L"\\\\host\\share\\server.dll"},
        {REG_DWORD, L"C:\\Probe\\server.dll", L""},
    };
    for (const auto& c : paths)
        EXPECT_EQ(Orvik::trust::inprocServerPath(c.type, c.value), c.path) << c.value;

    const struct {
        APTTYPE apartment;
        const wchar_t* model;
        bool direct;
    } models[] = {
        {APTTYPE_MTA, L"Both", true},     {APTTYPE_STA, L"both", true},      {APTTYPE_MTA, L"Free", true},
        {APTTYPE_STA, L"Free", false},    {APTTYPE_STA, L"Apartment", true}, {APTTYPE_MTA, L"Apartment", false},
        {APTTYPE_MAINSTA, L"", true},     {APTTYPE_STA, L"", false},         {APTTYPE_MTA, L"Neutral", false},
    };
    for (const auto& c : models)
        EXPECT_EQ(Orvik::trust::apartmentTakesThreadingModel(c.apartment, c.model), c.direct)
            << c.apartment << " " << c.model;
}

TEST(VerifiedInstance, FailuresBeforeValidation)
{
    ComApartment com;
    EXPECT_EQ(Orvik::createVerifiedInstance(kSignedProbe, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe, nullptr, true),
              E_POINTER);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(Orvik::createVerifiedInstance(kUnregistered, nullptr, CLSCTX_INPROC_SERVER, kTrustProbe, &object, true),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    // The class object's own refusal of the interface comes back unchanged.
    EXPECT_EQ(Orvik::createVerifiedInstance(kSignedProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object, true),
              E_NOINTERFACE);
    EXPECT_EQ(liveObjects(L"TrustProbe.dll"), 0);
}

TEST(VerifiedInstance, ModuleIsFoundByAddress)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(Orvik::trust::moduleFileContaining(reinterpret_cast<const void*>(&liveObjects)), self);
    EXPECT_TRUE(Orvik::trust::moduleFileContaining(nullptr).empty());
    int onTheStack = 0;
    EXPECT_TRUE(Orvik::trust::moduleFileContaining(&onTheStack).empty());
}

TEST(ProcessValidator, ValidateFileUsesTheBuiltInLists)
{
    EXPECT_EQ(Orvik::validateFile(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Orvik::validateFile(L""), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Orvik::validateFile(trusttest::sample(L"signed-legacy.dll").c_str()), 0u);
    EXPECT_EQ(Orvik::validateFile(trusttest::sample(L"other-signer.dll").c_str()),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Orvik::installCatalog(nullptr), 0);
    EXPECT_EQ(Orvik::installCatalog(trusttest::sample(L"cat-v5-other.js").c_str()), 0);
}
