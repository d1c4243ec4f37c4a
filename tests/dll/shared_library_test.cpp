// Loading a framework library and binding the bus through it, with a scripted
// loader and searcher where the real ones cannot show the case, and the real
// registry and files for the block list.
#include "LogCapture.h"
#include "ModuleLibrary.h"
#include "dll/DllLoader.h"
#include "dll/PathSearch.h"
#include "dll/SharedLibrary.h"
#include "message/MessageBusLib.h"
#include "registry/CRegKey.h"
#include "status/ModuleException.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

using namespace Orvik;

namespace {

// Stands in for BusBroker.dll: its entries are this program's functions.
struct ScriptedBroker {
    static const MessageBusFunctions* table;
    static std::uint32_t openStatus;
    static std::uint32_t closeStatus;
    static int closes;
};
const MessageBusFunctions* ScriptedBroker::table = nullptr;
std::uint32_t ScriptedBroker::openStatus = 0;
std::uint32_t ScriptedBroker::closeStatus = 0;
int ScriptedBroker::closes = 0;
int g_handleStorage = 0;

extern "C" {
const void* scriptedCreateObject(std::uint32_t version)
{
    return version == kMessageBusInterfaceVersion ? ScriptedBroker::table : nullptr;
}
void scriptedReleaseObject() {}
const char* scriptedVersionStr() { return "2.1.0"; }
std::uint32_t scriptedVersionNum() { return 2001000; }
std::uint32_t scriptedOpen(void** handle)
{
    *handle = &g_handleStorage;
    return ScriptedBroker::openStatus;
}
std::uint32_t scriptedClose(void*)
{
    ++ScriptedBroker::closes;
    return ScriptedBroker::closeStatus;
}
std::uint32_t scriptedCancel(void*, BusReplyCallback) { return 0; }
}

// A loader that "loads" any path, hands out this program's functions and
// records what it was asked.
class ScriptedLoader : public DllLoader {
public:
    std::set<std::string> missing;
    std::vector<std::wstring> loaded;
    int frees = 0;
    std::function<void(const std::wstring&)> beforeLoad;

    bool loadDLL(const std::wstring& path, HMODULE* module) override
    {
        if (beforeLoad)
            beforeLoad(path);
        loaded.push_back(path);
        *module = reinterpret_cast<HMODULE>(&g_handleStorage);
        return true;
    }
    FARPROC getProcAddress(HMODULE, const char* name) override
    {
        if (missing.count(name) != 0)
            return nullptr;
        const std::string n(name);
        void (*f)() = n == "CreateObject"    ? reinterpret_cast<void (*)()>(&scriptedCreateObject)
                      : n == "ReleaseObject" ? reinterpret_cast<void (*)()>(&scriptedReleaseObject)
                      : n == "GetVersionStr" ? reinterpret_cast<void (*)()>(&scriptedVersionStr)
                                             : reinterpret_cast<void (*)()>(&scriptedVersionNum);
        return reinterpret_cast<FARPROC>(f);
    }
    bool free(HMODULE) override
    {
        ++frees;
        return true;
    }
};

// A searcher whose files are the paths it is told about.
class ScriptedSearch : public PathSearch {
public:
    std::set<std::wstring> files;
    bool checkIfExists(const std::wstring& path) override { return files.count(path) != 0; }
};

struct Scripted {
    std::shared_ptr<ScriptedLoader> loader = std::make_shared<ScriptedLoader>();
    std::shared_ptr<ScriptedSearch> search = std::make_shared<ScriptedSearch>();
    std::shared_ptr<SharedLibrary> load(const std::vector<std::wstring>& folders, const wchar_t* name = L"Lib.dll")
    {
        return std::make_shared<SharedLibrary>(LibraryInfo{name, folders}, loader, nullptr, search);
    }
};

std::string thrownBy(const std::function<void()>& work)
{
    try {
        work();
    } catch (const ModuleException& e) {
        return e.what();
    }
    return "";
}

TEST(SharedLibrary, FirstUsableFolderWinsAndALibraryMissingAnEntryIsFreedFirst)
{
    Scripted s;
    s.search->files = {L"C:\\first\\\\Lib.dll", L"C:\\second\\Lib.dll", L"$(No.Such)\\Lib.dll"};
    // An unknown macro stays literal and names no folder of ours, so it is not searched.
    auto library = s.load({L"$(No.Such)", L"C:\\first\\", L"C:\\second"});
    ASSERT_EQ(1u, s.loader->loaded.size());
    EXPECT_EQ(L"C:\\first\\Lib.dll", s.loader->loaded[0]);
    EXPECT_EQ(&scriptedVersionNum, library->getLibraryFunctions()->getVersionNum);
    library.reset();
    EXPECT_EQ(1, s.loader->frees);

    Scripted lacking;
    lacking.search->files = {L"C:\\second\\Lib.dll"};
    lacking.loader->missing = {"GetVersionNum"};
    testsupport::LogCapture log;
    EXPECT_EQ("Failed to import functions from library", thrownBy([&] { lacking.load({L"C:\\second"}); }));
    EXPECT_EQ(1, lacking.loader->frees);
    EXPECT_TRUE(log.contains(L"Failed to load GetVersionNum function from library: Lib.dll."));

    Scripted nowhere;
    EXPECT_EQ("Failed to load library", thrownBy([&] { nowhere.load({L"C:\\first"}); }));
    EXPECT_TRUE(nowhere.loader->loaded.empty());
}

// The block list of the real registry, read through the scrambled key, against
// the version resource of a real file (a copy of the module: FileVersion 2.1.0).
TEST(SharedLibrary, BlockListNamesOneVersionAndNeverAFrameworkLibrary)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"um-blocklist-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring module = testsupport::buildFolder() + L"UpdateModule.dll";
    ASSERT_TRUE(CopyFileW(module.c_str(), (folder + L"\\Plugin.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(module.c_str(), (folder + L"\\BusBroker.dll").c_str(), FALSE));

    Scripted s;
    s.search->files = {folder + L"\\Plugin.dll"};
    auto library = s.load({folder}, L"Plugin.dll");
    const auto listVersion = [](const wchar_t* name, const wchar_t* version) {
        Basalt::CObfuscatedRegKey key;
        const std::wstring path = std::wstring(L"SOFTWARE\\Corvane\\Tesl\\List\\") + name;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, path.c_str()));
        ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(version, version));
    };
    EXPECT_FALSE(library->isBlocked(folder, L"Plugin.dll"));
    listVersion(L"plugin.dll", L"2.0.9");
    EXPECT_FALSE(library->isBlocked(folder, L"Plugin.dll"));
    listVersion(L"plugin.dll", L"2.1.0");
    EXPECT_TRUE(library->isBlocked(folder, L"Plugin.dll"));
    listVersion(L"busbroker.dll", L"2.1.0");
    EXPECT_FALSE(library->isBlocked(folder, L"BusBroker.dll"));

    for (const wchar_t* name : {L"plugin.dll", L"busbroker.dll"})
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(L"SOFTWARE\\Corvane\\Tesl\\List\\") + name).c_str());
    library.reset();
    DeleteFileW((folder + L"\\Plugin.dll").c_str());
    DeleteFileW((folder + L"\\BusBroker.dll").c_str());
    RemoveDirectoryW(folder.c_str());
}

// Between the block-list check and the load nobody can put a listed version
// in place of the file that was checked.
TEST(SharedLibrary, TheFileCheckedAgainstTheBlockListIsTheFileLoaded)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"um-blockswap-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring plugin = folder + L"\\Plugin.dll";
    const std::wstring listed = folder + L"\\Listed.dll";
    // The checked file has no version resource; its replacement is a listed version.
    ASSERT_TRUE(CopyFileW((testsupport::buildFolder() + L"tests\\host_probe.exe").c_str(), plugin.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((testsupport::buildFolder() + L"UpdateModule.dll").c_str(), listed.c_str(), FALSE));
    Basalt::CObfuscatedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane\\Tesl\\List\\plugin.dll"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"2.1.0", L"2.1.0"));

    Scripted s;
    s.search->files = {plugin};
    bool swapped = false, replaceable = false;
    s.loader->beforeLoad = [&](const std::wstring& path) {
        swapped = MoveFileExW(listed.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        replaceable = writer != INVALID_HANDLE_VALUE;
        if (replaceable)
            CloseHandle(writer);
    };
    auto library = s.load({folder}, L"Plugin.dll");
    EXPECT_FALSE(swapped);
    EXPECT_FALSE(replaceable);
    EXPECT_EQ(1u, s.loader->loaded.size());
    // Once loaded, the file is free again, and the listed version is refused.
    library.reset();
    ASSERT_TRUE(MoveFileExW(listed.c_str(), plugin.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("Failed to load library", thrownBy([&] { s.load({folder}, L"Plugin.dll"); }));

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane\\Tesl\\List\\plugin.dll");
    DeleteFileW(plugin.c_str());
    DeleteFileW(listed.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(MessageBusLib, ConstructionFailuresThrowAndAFailingCloseIsOnlyLogged)
{
    MessageBusFunctions functions{};
    functions.open = &scriptedOpen;
    functions.close = &scriptedClose;
    functions.cancelRequests = &scriptedCancel;
    testsupport::LogCapture log;

    Scripted noTable;
    noTable.search->files = {L"C:\\bus\\Lib.dll"};
    ScriptedBroker::table = nullptr;
    EXPECT_EQ("Failed to get message bus functions object",
              thrownBy([&] { MessageBusLib bus(noTable.load({L"C:\\bus"})); }));
    EXPECT_EQ(1, noTable.loader->frees);

    ScriptedBroker::table = &functions;
    ScriptedBroker::openStatus = 0x80000002;
    Scripted refused;
    refused.search->files = {L"C:\\bus\\Lib.dll"};
    EXPECT_EQ("Failed to get message bus handle", thrownBy([&] { MessageBusLib bus(refused.load({L"C:\\bus"})); }));
    EXPECT_TRUE(log.contains(L"Failed to get message bus handle. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."));

    ScriptedBroker::openStatus = 0;
    ScriptedBroker::closeStatus = 0x80000002;
    ScriptedBroker::closes = 0;
    Scripted closing;
    closing.search->files = {L"C:\\bus\\Lib.dll"};
    EXPECT_EQ("", thrownBy([&] { MessageBusLib bus(closing.load({L"C:\\bus"})); }));
    EXPECT_EQ(1, ScriptedBroker::closes);
    EXPECT_EQ(1, closing.loader->frees);
    EXPECT_TRUE(log.contains(L"Failed to release message bus. Error code MODULE_STATUS_UNSUCCESSFUL(2147483650)."));
}

} // namespace
