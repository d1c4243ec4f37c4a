#include "ZuSandboxAgent.h"

#include "ComObject.h"

#include "update/IZuUpdateAgent.h"
#include "win/ComPtr.h"
#include "win/UniqueHandle.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <new>
#include <mutex>
#include <string>

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// Properties live in the registry: COM unloads this library whenever the last
// apartment of the process closes, and the values must outlive that.
constexpr wchar_t kPropertyRoot[] = L"Software\\Corvane\\SandboxUpdateAgent\\";

class PropertyKey {
public:
    PropertyKey(const std::wstring& package, bool create)
    {
        const std::wstring path = kPropertyRoot + package;
        const LONG result = create ? RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                                     KEY_READ | KEY_WRITE, nullptr, key_.put(), nullptr)
                                   : RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key_.put());
        if (result != ERROR_SUCCESS)
            (void)key_.release();  // the call left no key behind
    }

    bool read(const std::wstring& name, std::wstring& value) const
    {
        wchar_t buffer[1024];
        DWORD size = sizeof buffer;
        if (!key_ ||
            RegGetValueW(key_.get(), nullptr, name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
            return false;
        value = buffer;
        return true;
    }
    bool write(const std::wstring& name, const std::wstring& value) const
    {
        return key_ &&
               RegSetValueExW(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    Orvik::win::UniqueRegKey key_;
};

bool environment(const wchar_t* name, std::wstring& value)
{
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    if (length == 0 || length >= 1024)
        return false;
    value.assign(buffer, length);
    return true;
}

HRESULT scripted(const wchar_t* name, HRESULT otherwise)
{
    std::wstring text;
    if (!environment(name, text))
        return otherwise;
    return static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 0));
}

std::wstring textOf(BSTR text)
{
    return text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

void record(const std::wstring& call)
{
    std::wstring path;
    if (!environment(L"ZU_AGENT_CALL_LOG", path))
        return;
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (FILE* log = _wfopen(path.c_str(), L"ab")) {
        std::string line;
        for (wchar_t c : call)
            line.push_back(c < 128 ? static_cast<char>(c) : '?');
        line += "\n";
        std::fwrite(line.data(), 1, line.size(), log);
        std::fclose(log);
    }
}

class SandboxAgent final : public sandbox::ComObject<SandboxAgent, IZuUpdateAgent> {
public:
    SandboxAgent() : ComObject(IID_IZuUpdateAgent, g_objects) {}

    HRESULT STDMETHODCALLTYPE Initialize(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(BSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CancelUpdate(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CheckForUpdates(BSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLastResult(BSTR, HRESULT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVersion(BSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Uninstall(BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsInstalled(BSTR, BSTR, BOOL*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE StartUpdate(BSTR package) override
    {
        record(L"StartUpdate(" + textOf(package) + L")");
        return scripted(L"ZU_AGENT_STARTUPDATE_RESULT", S_OK);
    }

    HRESULT STDMETHODCALLTYPE Install(BSTR package, BSTR appIdList) override
    {
        record(L"Install(" + textOf(package) + L"," + textOf(appIdList) + L")");
        return scripted(L"ZU_AGENT_INSTALL_RESULT", S_OK);
    }

    HRESULT STDMETHODCALLTYPE GetProperty(BSTR package, BSTR name, BSTR* value) override
    {
        record(L"GetProperty(" + textOf(package) + L"," + textOf(name) + L")");
        if (value == nullptr)
            return E_POINTER;
        *value = nullptr;
        const HRESULT result = scripted(L"ZU_AGENT_GETPROPERTY_RESULT", S_OK);
        if (result != S_OK)
            return result;
        std::wstring text;
        if (!(textOf(name) == L"autochk" && environment(L"ZU_AGENT_AUTOCHK", text)) &&
            !PropertyKey(textOf(package), false).read(textOf(name), text))
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        *value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *value != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE SetProperty(BSTR package, BSTR name, BSTR value) override
    {
        record(L"SetProperty(" + textOf(package) + L"," + textOf(name) + L"," + textOf(value) + L")");
        const HRESULT result = scripted(L"ZU_AGENT_SETPROPERTY_RESULT", S_OK);
        if (result != S_OK)
            return result;
        return PropertyKey(textOf(package), true).write(textOf(name), textOf(value)) ? S_OK : E_FAIL;
    }
};

class AgentFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        ++g_locks;
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        --g_locks;
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        // "null": a faulty server that reports success without an object.
        std::wstring createResult;
        if (environment(L"ZU_AGENT_CREATE_RESULT", createResult) && createResult == L"null")
            return S_OK;
        const HRESULT scriptedResult = scripted(L"ZU_AGENT_CREATE_RESULT", S_OK);
        if (scriptedResult != S_OK)
            return scriptedResult;
        const Orvik::win::ComPtr<SandboxAgent> agent(new (std::nothrow) SandboxAgent);
        if (!agent)
            return E_OUTOFMEMORY;
        return agent->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

AgentFactory g_factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_ZuUpdateAgent) && !IsEqualCLSID(clsid, CLSID_ZuUpdateAgentUnsignedCopy))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
