#pragma once
// The update agent's COM interface and the identifiers of its class and
// interface. The agent lives outside the module; these identifiers are fixed.

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

// {6E1F3C52-8B7A-4D2E-9F31-2C4B5A6D7E81}
constexpr CLSID CLSID_ZuUpdateAgent = {0x6e1f3c52, 0x8b7a, 0x4d2e, {0x9f, 0x31, 0x2c, 0x4b, 0x5a, 0x6d, 0x7e, 0x81}};
// {A93D7B10-4C65-4F8E-B2D7-13E5F09C6A24}
constexpr IID IID_IZuUpdateAgent = {0xa93d7b10, 0x4c65, 0x4f8e, {0xb2, 0xd7, 0x13, 0xe5, 0xf0, 0x9c, 0x6a, 0x24}};

// Slots 0-2 are IUnknown's. The module calls StartUpdate (7), Install (11),
// GetProperty (14) and SetProperty (15); the others belong to the agent.
struct IZuUpdateAgent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(BSTR package) = 0;                          // 3
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;                                        // 4
    virtual HRESULT STDMETHODCALLTYPE GetStatus(BSTR package, LONG* status) = 0;             // 5
    virtual HRESULT STDMETHODCALLTYPE CancelUpdate(BSTR package) = 0;                        // 6
    virtual HRESULT STDMETHODCALLTYPE StartUpdate(BSTR package) = 0;                         // 7
    virtual HRESULT STDMETHODCALLTYPE CheckForUpdates(BSTR package, LONG* count) = 0;        // 8
    virtual HRESULT STDMETHODCALLTYPE GetLastResult(BSTR package, HRESULT* result) = 0;      // 9
    virtual HRESULT STDMETHODCALLTYPE GetVersion(BSTR package, BSTR* version) = 0;           // 10
    virtual HRESULT STDMETHODCALLTYPE Install(BSTR package, BSTR appIdList) = 0;             // 11
    virtual HRESULT STDMETHODCALLTYPE Uninstall(BSTR package, BSTR appIdList) = 0;           // 12
    virtual HRESULT STDMETHODCALLTYPE IsInstalled(BSTR package, BSTR appId, BOOL* installed) = 0; // 13
    virtual HRESULT STDMETHODCALLTYPE GetProperty(BSTR package, BSTR name, BSTR* value) = 0; // 14
    virtual HRESULT STDMETHODCALLTYPE SetProperty(BSTR package, BSTR name, BSTR value) = 0;  // 15
};
