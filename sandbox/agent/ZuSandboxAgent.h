#pragma once
// The sandbox update agent: an in-process COM server implementing
// IZuUpdateAgent for the demo and the tests.
//
// Behaviour is steered through environment variables of the process that
// loads it, read at every call, so a test can change them between requests:
//   ZU_AGENT_CREATE_RESULT       HRESULT the class factory answers instead of creating
//   ZU_AGENT_INSTALL_RESULT      HRESULT of Install (e.g. 1 for S_FALSE)
//   ZU_AGENT_STARTUPDATE_RESULT  HRESULT of StartUpdate (e.g. 0x80004005)
//   ZU_AGENT_GETPROPERTY_RESULT  HRESULT of GetProperty
//   ZU_AGENT_SETPROPERTY_RESULT  HRESULT of SetProperty
//   ZU_AGENT_AUTOCHK             text GetProperty answers for "autochk", whatever was set
//   ZU_AGENT_CALL_LOG            file every call is appended to, one line each:
//                                "StartUpdate(default)", "Install(default,A;B;)",
//                                "GetProperty(default,autochk)", "SetProperty(default,autochk,1)"
// Values are decimal or 0x-prefixed hexadecimal. Properties set through
// SetProperty are kept per package under
// HKCU\Software\Corvane\SandboxUpdateAgent\<package>.

#include <windows.h>

// The same server registered from an unsigned copy, for refusal tests.
// {0C4A7E2B-91D3-4F6A-8B25-7E9D1C3F5A60}
constexpr CLSID CLSID_ZuUpdateAgentUnsignedCopy = {
    0x0c4a7e2b, 0x91d3, 0x4f6a, {0x8b, 0x25, 0x7e, 0x9d, 0x1c, 0x3f, 0x5a, 0x60}};
