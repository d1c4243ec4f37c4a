// A host that hands the module no bus: the module finds, verifies, loads and
// binds BusBroker.dll on its own, or refuses with a clear status and stays safe
// to uninitialise and destroy.
#include "ModuleLibrary.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::buildFolder;
using testsupport::ModuleLibrary;

namespace {

std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}

TEST(BusBinding, FirstVersionInitialisationBindsTheSignedBrokerBesideTheHost)
{
    ModuleLibrary library;
    const Orvik::ModuleEntryTable* t = library.entries();
    ASSERT_NE(nullptr, t);
    Orvik::ModuleHandle handle = nullptr;
    ASSERT_EQ(0u, t->newModule(&handle, L"UpdateModule"));
    EXPECT_EQ(0u, t->initializeModule(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload));
    EXPECT_EQ(0u, t->uninitializeModule(handle));
    EXPECT_EQ(0u, t->destroyModule(handle));
}

// Runs the probe host from a folder that holds it, the module and `broker`
// (copied in as BusBroker.dll; none when empty) and returns what it printed.
std::string runProbeWith(const std::wstring& broker)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"um-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring probe = folder + L"\\host_probe.exe";
    const std::wstring module = folder + L"\\UpdateModule.dll";
    CopyFileW((buildFolder() + L"tests\\host_probe.exe").c_str(), probe.c_str(), FALSE);
    CopyFileW((buildFolder() + L"UpdateModule.dll").c_str(), module.c_str(), FALSE);
    if (!broker.empty())
        CopyFileW(broker.c_str(), (folder + L"\\BusBroker.dll").c_str(), FALSE);

    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Orvik::win::UniqueKernelHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0))
        return "no pipe";
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + probe + L"\" \"" + module + L"\"";
    std::string output;
    if (CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                       &startup, &process)) {
        const Orvik::win::UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
        writeEnd.reset();
        char buffer[512];
        DWORD read = 0;
        while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            for (DWORD i = 0; i < read; ++i) {
                if (buffer[i] != '\r')
                    output.push_back(buffer[i]);
            }
        }
        WaitForSingleObject(processHandle.get(), 60000);
        DWORD exitCode = 1;
        GetExitCodeProcess(processHandle.get(), &exitCode);
        output += "exit=" + std::to_string(exitCode) + "\n";
    }
    for (const wchar_t* name : {L"\\host_probe.exe", L"\\UpdateModule.dll", L"\\BusBroker.dll"})
        DeleteFileW((folder + name).c_str());
    RemoveDirectoryW(folder.c_str());
    return output;
}

TEST(BusBinding, AMissingOrUnsignedBrokerIsRefusedAndTheModuleStaysSafe)
{
    const struct {
        const char* situation;
        std::wstring broker;
        const char* expected;
    } cases[] = {
        {"signed broker beside the host", buildFolder() + L"sandbox\\BusBroker.dll",
         "initialize=00000000\nstart=00000000\nstop=00000000\nuninitialize=00000000\ndestroy=00000000\nexit=0\n"},
        {"no broker anywhere", L"",
         "initialize=8000000f\nstart=80000002\nstop=00000000\nuninitialize=800000ff\ndestroy=00000000\nexit=0\n"},
        {"unsigned copy in its place", buildFolder() + L"sandbox\\BusBrokerUnsigned.dll",
         "initialize=8000000f\nstart=80000002\nstop=00000000\nuninitialize=800000ff\ndestroy=00000000\nexit=0\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, runProbeWith(c.broker)) << c.situation;
}

} // namespace

namespace {

// One library load serves any number of modules, each binding the broker itself.
TEST(BusBinding, TwoModulesBindTheBrokerSideBySide)
{
    for (const bool firstGoesFirst : {true, false}) {
        ModuleLibrary library;
        const Orvik::ModuleEntryTable* t = library.entries();
        ASSERT_NE(nullptr, t);
        Orvik::ModuleHandle first = nullptr, second = nullptr;
        ASSERT_EQ(0u, t->newModule(&first, L"UpdateModule"));
        ASSERT_EQ(0u, t->newModule(&second, L"UpdateModule"));
        for (Orvik::ModuleHandle handle : {first, second})
            EXPECT_EQ(0u, t->initializeModule(handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr,
                                              &acceptUnload));
        for (Orvik::ModuleHandle handle : firstGoesFirst ? std::vector<Orvik::ModuleHandle>{first, second}
                                                         : std::vector<Orvik::ModuleHandle>{second, first}) {
            EXPECT_EQ(0u, t->uninitializeModule(handle));
            EXPECT_EQ(0u, t->destroyModule(handle));
        }
    }
}

} // namespace
