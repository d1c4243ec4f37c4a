// Library loading: a file is mapped only after it validates, a refusal leaves
// the validation's code in the last error, and every failure is logged once.

#include "LogCapture.h"
#include "SystemTestSupport.h"

#include "dll/DllLoader.h"
#include "Logging/Logger.h"
#include "trust/SignedLibraryValidation.h"

#include <gmock/gmock.h>

#include <functional>
#include <stdexcept>

using namespace systemtest;

namespace {

bool isMapped(const std::wstring& path)
{
    HMODULE module = nullptr;
    return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &module) != FALSE;
}

class ThrowingDllAPI : public Orvik::DllAPI {
public:
    bool loadLibrary(const std::wstring&, HMODULE*) override { throw std::runtime_error("loader broke"); }
    FARPROC GetProcAddress(HMODULE, LPCSTR) override { throw std::runtime_error("lookup broke"); }
};

} // namespace

TEST(DllAPI, SignedLibraryLoads)
{
    const std::wstring path = sandboxFile(L"ZuSandboxAgent.dll");
    Orvik::DllAPI api;
    HMODULE raw = nullptr;
    ASSERT_TRUE(api.loadLibrary(path, &raw));
    const Orvik::win::UniqueLibrary library(raw);
    EXPECT_TRUE(isMapped(path));
    EXPECT_TRUE(api.isTrusted(path));
}

TEST(DllAPI, RefusedFilesAreNeverMappedAndLeaveTheValidationCode)
{
    const TempFolder temp;
    const std::pair<const char*, std::wstring> cases[] = {
        {"unsigned copy", sandboxFile(L"ZuSandboxAgentUnsigned.dll")},
        {"directory", temp.folder(L"Folder.dll")},
        {"zero bytes", temp.write(L"Empty.dll", "")},
        {"longer than MAX_PATH", temp.file(std::wstring(300, L'x') + L".dll")},
        {"empty path", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const DWORD expected = Orvik::validateFile(c.second.c_str());
        ASSERT_NE(0u, expected);
        testsupport::LogCapture log;
        Orvik::DllAPI api;
        HMODULE module = reinterpret_cast<HMODULE>(1);
        EXPECT_FALSE(api.loadLibrary(c.second, &module));
        EXPECT_EQ(expected, ::GetLastError());
        EXPECT_EQ(nullptr, module);
        EXPECT_FALSE(!c.second.empty() && isMapped(c.second));
        EXPECT_FALSE(api.isTrusted(c.second));
        const auto lines = log.matching(L"LoadLibrary Failed. GLE: " + std::to_wstring(expected));
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(LOG_LEVEL_ERROR, lines[0].level);
        EXPECT_EQ(L"Orvik::DllAPI::loadLibrary", lines[0].function);
    }
}

TEST(DllAPI, AVerifiedLibraryTakesItsImportsOnlyFromItsOwnFolderAndTheSystem)
{
    // A signed library that imports PlantedHelper.dll, alone in its folder; an
    // unsigned PlantedHelper.dll waits in the current directory.
    const TempFolder library, current;
    const std::wstring importer = library.file(L"HelperImporter.dll");
    ASSERT_TRUE(::CopyFileW(sandboxFile(L"HelperImporter.dll").c_str(), importer.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(sandboxFile(L"planted\\PlantedHelper.dll").c_str(),
                            current.file(L"PlantedHelper.dll").c_str(), FALSE));
    ASSERT_EQ(0u, Orvik::validateFile(importer.c_str()));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(current.path().c_str()));

    testsupport::LogCapture log;
    Orvik::DllAPI api;
    HMODULE module = nullptr;
    const bool loaded = api.loadLibrary(importer, &module);
    const DWORD error = ::GetLastError();
    const bool helperMapped = ::GetModuleHandleW(L"PlantedHelper.dll") != nullptr;
    const Orvik::win::UniqueLibrary owner(module);
    ::SetCurrentDirectoryW(previous);

    EXPECT_FALSE(loaded);
    EXPECT_FALSE(helperMapped);
    EXPECT_EQ(nullptr, module);
    EXPECT_NE(0u, error);
    EXPECT_EQ(1u, log.matching(L"LoadLibrary Failed. GLE: " + std::to_wstring(error)).size());

    // Beside it, its dependency is found.
    ASSERT_TRUE(::CopyFileW(sandboxFile(L"planted\\PlantedHelper.dll").c_str(),
                            library.file(L"PlantedHelper.dll").c_str(), FALSE));
    HMODULE beside = nullptr;
    EXPECT_TRUE(api.loadLibrary(importer, &beside));
    const Orvik::win::UniqueLibrary besideOwner(beside);
}

TEST(DllLoader, LibraryAlreadyInTheProcessIsHandedOutWithoutValidation)
{
    const std::wstring self = ownExecutable(); // unsigned: a fresh load would be refused
    ASSERT_NE(0u, Orvik::validateFile(self.c_str()));
    HMODULE raw = nullptr;
    ASSERT_TRUE(Orvik::DllLoader().loadDLL(self, &raw));
    const Orvik::win::UniqueLibrary library(raw);
    EXPECT_EQ(::GetModuleHandleW(nullptr), raw);
}

TEST(DllLoader, FailuresAreLoggedWithTheirStatusAndNeverThrow)
{
    const auto throwing = std::make_shared<ThrowingDllAPI>();
    const std::pair<std::shared_ptr<Orvik::DllAPI>, const wchar_t*> cases[] = {
        {nullptr, L"Failed to load library. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."},
        {throwing, L"Failed to load library. Error code: MODULE_STATUS_UNKNOWN_EXCEPTION(2147483663)."},
    };
    for (const auto& c : cases) {
        testsupport::LogCapture log;
        HMODULE module = nullptr;
        EXPECT_FALSE(Orvik::DllLoader(c.first).loadDLL(sandboxFile(L"ZuSandboxAgentUnsigned.dll"), &module));
        EXPECT_EQ(nullptr, module);
        const auto lines = log.matching(c.second);
        ASSERT_EQ(1u, lines.size()) << label(c.second);
        EXPECT_EQ(L"Orvik::DllLoader::loadDLL", lines[0].function);
    }

    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    testsupport::LogCapture log;
    EXPECT_NE(nullptr, Orvik::DllLoader().getProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(nullptr, Orvik::DllLoader().getProcAddress(kernel, "NoSuchExportAnywhere"));
    EXPECT_EQ(nullptr, Orvik::DllLoader(throwing).getProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(2u, log.matching(L"getProcAddress was unsuccessful in finding the handle's address").size());
}
