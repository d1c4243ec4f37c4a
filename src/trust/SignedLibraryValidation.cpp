#include "trust/SignedLibraryValidation.h"

#include "Logging/Logger.h"
#include "trust/TrustCatalog.h"
#include "trust/TrustValidator.h"
#include "win/ComPtr.h"
#include "win/LoadedImage.h"
#include "win/Registry.h"
#include "win/UniqueHandle.h"

#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Orvik {

namespace {

UM_LOG_SOURCE(L"Orvik");

constexpr DWORD kMaxModules = 4096;
constexpr wchar_t kMachineClasses[] = L"Software\\Classes\\CLSID\\";
// The functions called on a class object: the three of IUnknown and instance creation.
constexpr int kClassObjectSlotsUsed = 4;

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

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

struct InprocServer {
    std::wstring path;
    std::wstring threadingModel;
};

// The machine-wide registration only: per-user registrations and the 32-bit
// view are not the product's to trust.
HRESULT registeredInprocServer(REFCLSID clsid, InprocServer* server)
{
    wchar_t guid[40] = {};
    if (::StringFromGUID2(clsid, guid, 40) == 0)
        return E_INVALIDARG;
    const win::RegistryKey classKey =
        win::RegistryKey::open(HKEY_LOCAL_MACHINE, std::wstring(kMachineClasses) + guid, win::RegistryView::Bit64);
    if (!classKey)
        return REGDB_E_CLASSNOTREG;
    // A class without an in-process server is served from another process,
    // whose code cannot be checked before it runs.
    const win::RegistryKey inproc =
        win::RegistryKey::open(classKey.get(), L"InprocServer32", win::RegistryView::Bit64);
    const win::RegistryRead<std::wstring> path = inproc.readString(nullptr);
    if (!path.ok())
        return E_ACCESSDENIED;
    server->path = trust::inprocServerPath(path.type, path.value);
    if (server->path.empty())
        return E_ACCESSDENIED;
    win::RegistryRead<std::wstring> threadingModel = inproc.readString(L"ThreadingModel");
    server->threadingModel = threadingModel.ok() ? std::move(threadingModel.value) : std::wstring();
    return S_OK;
}

// Every class-object function the caller will use lies in `image`.
bool servedBy(IUnknown* classObject, const win::ImageRange& image)
{
    void* const* functions = *reinterpret_cast<void* const* const*>(classObject);
    for (int slot = 0; slot < kClassObjectSlotsUsed; ++slot) {
        if (!image.contains(functions[slot]))
            return false;
    }
    return true;
}

} // namespace

VerifiedFile VerifiedFile::open(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return VerifiedFile(win::HeldFile(), ERROR_INVALID_PARAMETER);
    const trust::TrustValidator* validator = trust::TrustValidator::instance();
    if (validator == nullptr)
        return VerifiedFile(win::HeldFile(), ERROR_ACCESS_DENIED);
    return open(path, *validator);
}

VerifiedFile VerifiedFile::open(const wchar_t* path, const trust::TrustValidator& validator)
{
    if (path == nullptr || *path == L'\0')
        return VerifiedFile(win::HeldFile(), ERROR_INVALID_PARAMETER);
    try {
        win::HeldFile file(path);
        const DWORD status = validator.validateHeldFile(file);
        return VerifiedFile(std::move(file), status);
    } catch (...) {
        logging::error(UM_HERE_NAMED(L"Orvik::VerifiedFile::open"),
                       L"Unexpected exception while holding %ls. It is refused.", path);
        return VerifiedFile(win::HeldFile(), ERROR_ACCESS_DENIED);
    }
}

win::UniqueLibrary VerifiedFile::load(DWORD flags) const
{
    if (!trusted()) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return win::UniqueLibrary();
    }
    return file_.loadLibrary(flags);
}

DWORD validateFile(const wchar_t* path)
{
    return VerifiedFile::open(path).status();
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
        logging::error(UM_HERE, L"Unexpected exception while installing the catalog %ls.", candidate);
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

std::wstring inprocServerPath(DWORD valueType, const std::wstring& value)
{
    std::wstring path = value;
    if (valueType == REG_EXPAND_SZ) {
        const DWORD length = ::ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
        if (length == 0)
            return {};
        path.assign(length, L'\0');
        if (::ExpandEnvironmentStringsW(value.c_str(), &path[0], length) != length)
            return {};
        path.resize(length - 1);
    } else if (valueType == REG_SZ && path.size() >= 2 && path.front() == L'"') {
        const std::size_t close = path.find(L'"', 1);
        if (close == std::wstring::npos)
            return {};
        path = path.substr(1, close - 1);
    } else if (valueType != REG_SZ) {
        return {};
    }
    // A bare or relative name would be found through a search order.
    const bool drivePath = path.size() > 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool uncPath = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    return drivePath || uncPath ? path : std::wstring();
}

HRESULT machineInprocServer(REFCLSID clsid, std::wstring* path, std::wstring* threadingModel)
{
    InprocServer server;
    const HRESULT hr = registeredInprocServer(clsid, &server);
    if (path != nullptr)
        *path = server.path;
    if (threadingModel != nullptr)
        *threadingModel = server.threadingModel;
    return hr;
}

bool apartmentTakesThreadingModel(APTTYPE apartment, const std::wstring& threadingModel)
{
    const auto is = [&threadingModel](const wchar_t* name) {
        return ::CompareStringOrdinal(threadingModel.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
    };
    const bool sta = apartment == APTTYPE_STA || apartment == APTTYPE_MAINSTA;
    if (is(L"Both"))
        return sta || apartment == APTTYPE_MTA;
    if (is(L"Free"))
        return apartment == APTTYPE_MTA;
    if (is(L"Apartment"))
        return sta;
    if (threadingModel.empty() || is(L"Single"))
        return apartment == APTTYPE_MAINSTA;
    return false;  // "Neutral" and anything unknown always come through a proxy
}

HRESULT createVerifiedInstanceWith(const TrustValidator& validator, REFCLSID clsid, IUnknown* outer,
                                   DWORD classContext, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    // Only an in-process server's file can be checked before its code runs.
    if ((classContext & CLSCTX_INPROC_SERVER) == 0)
        return E_ACCESSDENIED;
    InprocServer server;
    HRESULT hr = registeredInprocServer(clsid, &server);
    if (FAILED(hr))
        return hr;
    // The object is made on this thread; where COM would have put it in
    // another apartment and handed back a proxy, it is not made at all.
    APTTYPE apartment = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    hr = ::CoGetApartmentType(&apartment, &qualifier);
    if (FAILED(hr))
        return hr;
    if (!apartmentTakesThreadingModel(apartment, server.threadingModel))
        return E_ACCESSDENIED;

    const VerifiedFile file = VerifiedFile::open(server.path.c_str(), validator);
    if (!file.trusted())
        return E_ACCESSDENIED;
    win::UniqueLibrary library = file.load(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library)
        return HRESULT_FROM_WIN32(::GetLastError());
    const win::ImageRange image = win::loadedImageRange(library.get());
    if (image.size == 0)
        return E_ACCESSDENIED;
    using AnyFunction = void (*)();
    const auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<AnyFunction>(::GetProcAddress(library.get(), "DllGetClassObject")));
    if (getClassObject == nullptr)
        return CO_E_ERRORINDLL;

    // From here on the server's code may hold objects of its own; like COM,
    // which unloads a server only when it says it can, the module keeps it
    // loaded, for the life of the process.
    HMODULE pinned = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(library.get()), &pinned);
    win::ComPtr<IClassFactory> classObject;
    hr = getClassObject(clsid, firstFactoryInterface(), classObject.putVoid());
    if (FAILED(hr))
        hr = getClassObject(clsid, secondFactoryInterface(), classObject.putVoid());
    if (FAILED(hr))
        return hr;
    if (!classObject)
        return E_UNEXPECTED;
    if (!servedBy(classObject.get(), image)) {
        // Not one function of it is called, Release included.
        static_cast<void>(classObject.detach());
        return E_ACCESSDENIED;
    }
    return classObject->CreateInstance(outer, iid, out);
}

} // namespace trust

} // namespace Orvik
