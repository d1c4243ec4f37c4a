// Stand-in for the product's trust-validation service library "ilexval.dll".
// Its verdict is scripted by the name of the file asked about, so tests can
// reach every answer:
//   "...ilexval-bit0..."    verdict valid, verdict bits 0x1
//   "...ilexval-bit3..."    verdict valid, verdict bits 0x8
//   "...ilexval-novalid..." verdict bits 0x9 but not marked valid
//   anything else           verdict valid, no bit set (not accepted)
// It records the flags of the last call for the tests.

#include "ComObject.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

std::atomic<long> g_liveObjects{0};
std::atomic<DWORD> g_lastFlags{0};

struct ValidationResult {
    BYTE status;       // bit 1: the verdict is valid
    BYTE reserved[3];
    DWORD verdict;     // bit 0 (core <= 15.4) or bit 3 (later cores): trusted
};
static_assert(sizeof(ValidationResult) == 8, "8-byte result");

// The object the service hands out: IUnknown's three slots, then its own.
class ValidationControl final : public sandbox::ComObject<ValidationControl, IUnknown> {
public:
    ValidationControl() : ComObject(IID_IUnknown, g_liveObjects) {}

    virtual HRESULT STDMETHODCALLTYPE GetServiceVersion(DWORD* version)
    {
        if (version == nullptr)
            return E_POINTER;
        *version = 0x00010000;
        return S_OK;
    }
    virtual HRESULT STDMETHODCALLTYPE SetOption(DWORD, DWORD) { return S_OK; }
    virtual HRESULT STDMETHODCALLTYPE ValidateFile(const wchar_t* path, DWORD flags, ValidationResult* result)
    {
        g_lastFlags = flags;
        if (path == nullptr || result == nullptr)
            return E_POINTER;
        std::memset(result, 0, sizeof(*result));
        if (std::wcsstr(path, L"ilexval-novalid") != nullptr) {
            result->verdict = 0x9;
            return S_OK;
        }
        result->status = 0x2;
        if (std::wcsstr(path, L"ilexval-bit0") != nullptr)
            result->verdict = 0x1;
        else if (std::wcsstr(path, L"ilexval-bit3") != nullptr)
            result->verdict = 0x8;
        return S_OK;
    }
};

} // namespace

extern "C" {

__attribute__((dllexport)) DWORD NotComDllGetInterface(const char* name, void** out)
{
    if (out == nullptr)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    if (name == nullptr || std::strcmp(name, "IlexValidationControl") != 0)
        return static_cast<DWORD>(E_NOINTERFACE);
    ValidationControl* control = new (std::nothrow) ValidationControl();
    if (control == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    *out = control;
    return 0;
}

__attribute__((dllexport)) DWORD IlexvalLastFlags()
{
    return g_lastFlags;
}

__attribute__((dllexport)) long IlexvalLiveObjects()
{
    return g_liveObjects;
}

} // extern "C"
