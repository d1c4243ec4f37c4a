// In-process COM server used to test validated COM creation. The same code is
// registered under several class identifiers: one served by the signed file,
// one by an unsigned copy, one whose class object offers only IClassFactory2,
// and two that play an attacker: a class object whose instance creation lies
// outside the server, and (served by another unsigned copy) a class object
// whose first function is borrowed from the signed file. It counts its live
// objects so tests can see that a class object handed out was released again.

#include "ComObject.h"
#include "win/ComPtr.h"

#include <windows.h>
#include <ocidl.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <string>

// {3F6B2C1E-9A4D-4E7B-8C21-6D5E4F3A2B10}
extern "C" const IID IID_ITrustProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x10}};
// {3F6B2C1E-9A4D-4E7B-8C21-6D5E4F3A2B13}: class object answers only IClassFactory2
extern "C" const CLSID CLSID_TrustProbeFactory2Only = {
    0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x13}};

// {3F6B2C1E-9A4D-4E7B-8C21-6D5E4F3A2B11}: the ordinary class
extern "C" const CLSID CLSID_TrustProbe = {0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x11}};
// {3F6B2C1E-9A4D-4E7B-8C21-6D5E4F3A2B14}: instance creation points into kernel32
extern "C" const CLSID CLSID_TrustProbeForeignCreate = {
    0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x14}};
// {3F6B2C1E-9A4D-4E7B-8C21-6D5E4F3A2B15}: first function borrowed from the signed TrustProbe.dll
extern "C" const CLSID CLSID_TrustProbeSpoof = {
    0x3f6b2c1e, 0x9a4d, 0x4e7b, {0x8c, 0x21, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b, 0x15}};

struct ITrustProbe : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetMagic(DWORD* magic) = 0;
};

namespace {

constexpr DWORD kMagic = 0x7E57C0DE;
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};

class TrustProbe final : public sandbox::ComObject<TrustProbe, ITrustProbe> {
public:
    TrustProbe() : ComObject(IID_ITrustProbe, g_liveObjects) {}

    HRESULT STDMETHODCALLTYPE GetMagic(DWORD* magic) override
    {
        if (magic == nullptr)
            return E_POINTER;
        *magic = kMagic;
        return S_OK;
    }
};

// The instance creation both factories share.
HRESULT createProbe(IUnknown* outer, REFIID riid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    const Orvik::win::ComPtr<TrustProbe> probe(new (std::nothrow) TrustProbe());
    if (!probe)
        return E_OUTOFMEMORY;
    return probe->QueryInterface(riid, out);
}

class ProbeFactory final : public IClassFactory2 {
public:
    explicit ProbeFactory(bool factory2Only) : factory2Only_(factory2Only) { ++g_liveObjects; }
    ~ProbeFactory() { --g_liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        const bool factory = IsEqualIID(riid, IID_IClassFactory) && !factory2Only_;
        if (IsEqualIID(riid, IID_IUnknown) || factory || IsEqualIID(riid, IID_IClassFactory2)) {
            *out = static_cast<IClassFactory2*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        return createProbe(outer, riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lock ? ++g_serverLocks : --g_serverLocks;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLicInfo(LICINFO* info) override
    {
        if (info == nullptr)
            return E_POINTER;
        info->cbLicInfo = sizeof(LICINFO);
        info->fRuntimeKeyAvail = FALSE;
        info->fLicVerified = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestLicKey(DWORD, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateInstanceLic(IUnknown* outer, IUnknown*, REFIID riid, BSTR, void** out) override
    {
        return CreateInstance(outer, riid, out);
    }

private:
    const bool factory2Only_;
    std::atomic<ULONG> refs_{1};
};

// A class object put together by hand, so that any of its functions can be
// taken from somewhere else. Not counted among the live objects: a caller that
// does not trust it never releases it.
struct HandMadeFactory {
    void* const* vtable;
    std::atomic<ULONG> refs;
    void* functions[4];
};

HRESULT STDMETHODCALLTYPE handQueryInterface(HandMadeFactory* self, REFIID riid, void** out);
ULONG STDMETHODCALLTYPE handAddRef(HandMadeFactory* self)
{
    return ++self->refs;
}
ULONG STDMETHODCALLTYPE handRelease(HandMadeFactory* self)
{
    const ULONG left = --self->refs;
    if (left == 0)
        delete self;
    return left;
}
HRESULT STDMETHODCALLTYPE handQueryInterface(HandMadeFactory* self, REFIID riid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    *out = self;
    handAddRef(self);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE handCreateInstance(HandMadeFactory*, IUnknown* outer, REFIID riid, void** out)
{
    return createProbe(outer, riid, out);
}

using AnyFunction = void (*)();

// The first function of the signed server's class object, which this copy
// pretends to be.
void* signedServerFirstFunction()
{
    wchar_t path[MAX_PATH] = {};
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&signedServerFirstFunction), &self);
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring signedCopy(path, length);
    signedCopy = signedCopy.substr(0, signedCopy.find_last_of(L'\\') + 1) + L"TrustProbe.dll";
    HMODULE signedServer = LoadLibraryW(signedCopy.c_str());  // stays loaded
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject = signedServer == nullptr ? nullptr
        : reinterpret_cast<GetClassObject>(reinterpret_cast<AnyFunction>(GetProcAddress(signedServer, "DllGetClassObject")));
    IUnknown* real = nullptr;
    if (getClassObject == nullptr || FAILED(getClassObject(CLSID_TrustProbe, IID_IClassFactory, reinterpret_cast<void**>(&real))))
        return nullptr;
    void* first = (*reinterpret_cast<void* const* const*>(real))[0];
    real->Release();
    return first;
}

HRESULT handMadeClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    HandMadeFactory* factory = new (std::nothrow) HandMadeFactory{};
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    factory->vtable = factory->functions;
    factory->refs = 1;
    factory->functions[0] = reinterpret_cast<void*>(&handQueryInterface);
    factory->functions[1] = reinterpret_cast<void*>(&handAddRef);
    factory->functions[2] = reinterpret_cast<void*>(&handRelease);
    factory->functions[3] = reinterpret_cast<void*>(&handCreateInstance);
    if (IsEqualCLSID(clsid, CLSID_TrustProbeForeignCreate)) {
        // Harmless if called: it ignores its arguments and returns a positive number.
        factory->functions[3] = reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetCurrentThreadId"));
    } else if (void* borrowed = signedServerFirstFunction()) {
        factory->functions[0] = borrowed;
    }
    const HRESULT hr = handQueryInterface(factory, riid, out);
    handRelease(factory);
    return hr;
}

} // namespace

extern "C" {

__attribute__((dllexport)) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualCLSID(clsid, CLSID_TrustProbeForeignCreate) || IsEqualCLSID(clsid, CLSID_TrustProbeSpoof))
        return handMadeClassObject(clsid, riid, out);
    ProbeFactory* factory = new (std::nothrow) ProbeFactory(IsEqualCLSID(clsid, CLSID_TrustProbeFactory2Only));
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

__attribute__((dllexport)) HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_liveObjects == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}

// Class objects and instances alive in this copy of the server.
__attribute__((dllexport)) long TrustProbeLiveObjects()
{
    return g_liveObjects;
}

} // extern "C"
