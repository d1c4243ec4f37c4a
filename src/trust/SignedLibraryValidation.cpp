#include "trust/SignedLibraryValidation.h"

#include "trust/TrustCatalog.h"
#include "trust/TrustValidator.h"
#include "win/ComPtr.h"

#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Orvik {

namespace {

constexpr DWORD kMaxModules = 4096;

// Class-factory interfaces asked of a class object, in this order; both
// have instance creation in the fourth slot.
const IID& firstFactoryInterface()
{
    return IID_IClassFactory;
}

const IID& secondFactoryInterface()
{
    return IID_IClassFactory2;
}

} // namespace

DWORD validateFile(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return ERROR_INVALID_PARAMETER;
    const trust::TrustValidator* validator = trust::TrustValidator::instance();
    return validator != nullptr ? validator->validateFile(path) : ERROR_ACCESS_DENIED;
}

HRESULT createVerifiedInstance(REFCLSID clsid, IUnknown* outer, DWORD classContext, REFIID iid, void** out,
                               bool verify)
{
    if (!verify)
        return ::CoCreateInstance(clsid, outer, classContext, iid, out);
    const trust::TrustValidator* validator = trust::TrustValidator::instance();
    if (validator == nullptr) {
        if (out != nullptr)
            *out = nullptr;
        return out == nullptr ? E_POINTER : E_ACCESSDENIED;
    }
    return trust::createVerifiedInstanceWith(*validator, clsid, outer, classContext, iid, out);
}

int installCatalog(const wchar_t* candidate)
{
    if (candidate == nullptr || *candidate == L'\0')
        return 0;
    try {
        return trust::TrustCatalog::instance().installCatalog(candidate) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace trust {

std::wstring moduleFileContaining(const void* address)
{
    std::vector<HMODULE> modules(kMaxModules);
    DWORD needed = 0;
    const HANDLE process = ::GetCurrentProcess();
    if (!::EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                              &needed))
        return {};
    const std::size_t count = std::min<std::size_t>(needed / sizeof(HMODULE), kMaxModules);
    const auto target = reinterpret_cast<ULONG_PTR>(address);
    for (std::size_t i = 0; i < count; ++i) {
        MODULEINFO info{};
        if (!::GetModuleInformation(process, modules[i], &info, sizeof(info)))
            continue;
        const auto base = reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll);
        if (target < base || target - base >= info.SizeOfImage)
            continue;
        wchar_t name[MAX_PATH] = {};
        const DWORD length = ::GetModuleFileNameExW(process, modules[i], name, MAX_PATH);
        return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(name, length);
    }
    return {};
}

HRESULT createVerifiedInstanceWith(const TrustValidator& validator, REFCLSID clsid, IUnknown* outer,
                                   DWORD classContext, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    win::ComPtr<IClassFactory> classObject;
    HRESULT hr = ::CoGetClassObject(clsid, classContext, nullptr, firstFactoryInterface(), classObject.putVoid());
    if (FAILED(hr))
        hr = ::CoGetClassObject(clsid, classContext, nullptr, secondFactoryInterface(), classObject.putVoid());
    if (FAILED(hr))
        return hr;
    if (!classObject)
        return E_UNEXPECTED;
    
    // The code answering for the class is the module holding the class
    // object's first virtual function.
    const void* firstFunction = (*reinterpret_cast<void* const* const*>(classObject.get()))[0];
    std::wstring server;
    try {
        server = moduleFileContaining(firstFunction);
    } catch (...) {
        return E_ACCESSDENIED;
    }
    if (validator.validateFile(server.c_str()) != ERROR_SUCCESS)
        return E_ACCESSDENIED;
    return classObject->CreateInstance(outer, iid, out);
}

} // namespace trust

} // namespace Orvik
