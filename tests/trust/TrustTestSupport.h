#pragma once
// Paths of the signed samples and sandbox binaries, temporary folders, and the
// product registry key, for the trust tests.

#include "ScratchFolder.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace trusttest {

// A file made by make-samples.sh.
std::wstring sample(const std::wstring& name);
// A file in the build's sandbox folder.
std::wstring sandboxFile(const std::wstring& name);

// A new empty folder under the temporary folder, deleted with its content.
class TempFolder : public testsupport::ScratchFolder {
public:
    TempFolder() : ScratchFolder(L"um-trust-") {}
};

bool copyFileTo(const std::wstring& from, const std::wstring& to);
bool fileExists(const std::wstring& path);
// Names of the entries of a folder (not "." and "..").
std::vector<std::wstring> folderEntries(const std::wstring& folder);
std::string readBytes(const std::wstring& path);

// An atom name no other test or process uses.
std::wstring uniqueName(const wchar_t* prefix);

// Sets values of HKLM\Software\Corvane\Ferrule (32-bit view) for one test and
// removes the key again when it did not exist before.
class ProductKey {
public:
    ProductKey();
    ~ProductKey();
    ProductKey(const ProductKey&) = delete;
    ProductKey& operator=(const ProductKey&) = delete;

    bool set(const wchar_t* name, const std::wstring& value);

private:
    Orvik::win::UniqueRegKey key_;
    bool created_ = false;
};

// A manual-reset event with a name other processes (and the sandbox's test
// hooks) can open.
class NamedEvent {
public:
    explicit NamedEvent(const std::wstring& name)
        : event_(CreateEventW(nullptr, TRUE, FALSE, name.c_str()))
    {
    }
    void set() const { SetEvent(event_.get()); }
    bool wait(DWORD milliseconds) const { return WaitForSingleObject(event_.get(), milliseconds) == WAIT_OBJECT_0; }

private:
    Orvik::win::UniqueEvent event_;
};

// Sets an environment variable of this process (inherited by processes it
// starts) and removes it again.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name)
    {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_, nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* name_;
};

// Starts trust_helper.exe with these arguments.
Orvik::win::UniqueKernelHandle startHelper(const std::wstring& arguments);
// The process's exit code, or STILL_ACTIVE when it has not ended within `milliseconds`.
DWORD exitCodeWithin(HANDLE process, DWORD milliseconds);

// Collects what the process writes with OutputDebugString while alive.
class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    std::vector<std::wstring> lines() const;

private:
    void* handler_ = nullptr;
};

} // namespace trusttest
