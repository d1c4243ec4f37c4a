#include "TrustTestSupport.h"

#include "TrustTestPaths.h"

#include <atomic>
#include <mutex>

namespace trusttest {

std::wstring sample(const std::wstring& name)
{
    return std::wstring(UM_TRUST_SAMPLES_DIR) + L"\\" + name;
}

std::wstring sandboxFile(const std::wstring& name)
{
    return std::wstring(UM_SANDBOX_DIR) + L"\\" + name;
}

std::wstring uniqueName(const wchar_t* prefix)
{
    static std::atomic<unsigned> counter{0};
    wchar_t text[128];
    _snwprintf(text, 127, L"%ls-%lu-%lu-%lu", prefix, GetCurrentProcessId(), GetTickCount(), ++counter);
    text[127] = L'\0';
    return text;
}

namespace {

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) noexcept { FindClose(handle); }
};
using UniqueFind = Orvik::win::UniqueHandle<FindHandleTraits>;

} // namespace

bool copyFileTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> folderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    const UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::string readBytes(const std::wstring& path)
{
    std::string bytes;
    const Orvik::win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

ProductKey::ProductKey()
{
    DWORD disposition = 0;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Corvane\\Ferrule", 0, nullptr, 0,
                    KEY_READ | KEY_WRITE | KEY_WOW64_32KEY, nullptr, key_.put(), &disposition);
    created_ = disposition == REG_CREATED_NEW_KEY;
}

ProductKey::~ProductKey()
{
    key_.reset();
    if (created_)
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Corvane\\Ferrule", KEY_WOW64_32KEY, 0);
}

bool ProductKey::set(const wchar_t* name, const std::wstring& value)
{
    return key_ &&
           RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

namespace {

std::mutex g_debugLock;
std::vector<std::wstring> g_debugLines;

LONG CALLBACK captureDebugOutput(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C && record->NumberParameters >= 2) {
        const auto* text = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
        std::lock_guard<std::mutex> guard(g_debugLock);
        g_debugLines.emplace_back(text != nullptr ? text : L"");
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        std::wstring wide;
        for (const char* p = text; p != nullptr && *p != '\0'; ++p)
            wide.push_back(static_cast<unsigned char>(*p));
        std::lock_guard<std::mutex> guard(g_debugLock);
        g_debugLines.push_back(wide);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

DebugOutputCapture::DebugOutputCapture()
{
    {
        std::lock_guard<std::mutex> guard(g_debugLock);
        g_debugLines.clear();
    }
    handler_ = AddVectoredExceptionHandler(1, captureDebugOutput);
}

DebugOutputCapture::~DebugOutputCapture()
{
    if (handler_ != nullptr)
        RemoveVectoredExceptionHandler(handler_);
}

std::vector<std::wstring> DebugOutputCapture::lines() const
{
    std::lock_guard<std::mutex> guard(g_debugLock);
    return g_debugLines;
}

Orvik::win::UniqueKernelHandle startHelper(const std::wstring& arguments)
{
    std::wstring command = L"\"" + std::wstring(UM_TRUST_HELPER) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return {};
    Orvik::win::UniqueKernelHandle thread(info.hThread);
    return Orvik::win::UniqueKernelHandle(info.hProcess);
}

DWORD exitCodeWithin(HANDLE process, DWORD milliseconds)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    return code;
}

} // namespace trusttest
