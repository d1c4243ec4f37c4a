#pragma once
// The file-check interface of the product's trust-validation service
// ("ilexval.dll", asked for "IlexValidationControl"). Only the call contract
// below is relied on: three reference-management slots, two further slots,
// then the file check in the sixth slot.

#include <windows.h>
#include <unknwn.h>

namespace Orvik {
namespace trust {

struct IlexValidationResult {
    BYTE status;        // bit 1: the verdict below is valid
    BYTE reserved[3];
    DWORD verdict;      // verdict bits; which bit means "trusted" depends on the core version
};
static_assert(sizeof(IlexValidationResult) == 8, "the service writes an 8-byte result");

constexpr BYTE kIlexVerdictValid = 0x02;

struct IlexValidationControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE ValidateFile(const wchar_t* path, DWORD flags,
                                                   IlexValidationResult* result) = 0;
};

} // namespace trust
} // namespace Orvik
