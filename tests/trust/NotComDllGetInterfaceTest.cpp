// Binding the validation service: where the library is looked for, which
// signatures are accepted, and what is reported.

#include "TrustTestSupport.h"

#include "trust/IlexValidationControl.h"
#include "trust/NotComDllGetInterface.h"
#include "win/ComPtr.h"

#include <gtest/gtest.h>

using namespace Orvik::trust;
using Orvik::win::ComPtr;
using trusttest::sandboxFile;

namespace {

const std::wstring kServiceFolder = sandboxFile(L"ilexval");

InstallFolderReader folderReader(const std::wstring& folder)
{
    return [folder](std::wstring* out) {
        *out = folder;
        return true;
    };
}

const InstallFolderReader kNoInstallFolder = [](std::wstring*) { return false; };

bool answersFileChecks(void* control)
{
    auto* service = static_cast<IlexValidationControl*>(control);
    IlexValidationResult result{};
    service->ValidateFile(L"C:\\x-ilexval-bit0.dll", 4, &result);
    return (result.status & kIlexVerdictValid) != 0 && result.verdict == 1;
}

class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& folder)
    {
        GetCurrentDirectoryW(MAX_PATH, saved_);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(saved_); }

private:
    wchar_t saved_[MAX_PATH] = {};
};

std::wstring hostPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

} // namespace

TEST(NotComDllGetInterface, AbsolutePathToTheSignedServiceBindsAUsableInterface)
{
    ComPtr<IUnknown> control;
    ASSERT_EQ(Orvik::NotComDllGetInterface((kServiceFolder + L"\\ilexval.dll").c_str(), "IlexValidationControl",
                                           control.putVoid(), nullptr),
              0u);
    ASSERT_TRUE(control);
    // The library stayed loaded: the interface still works.
    EXPECT_TRUE(answersFileChecks(control.get()));
    control.reset();

    // The library's own refusal is passed on.
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(Orvik::NotComDllGetInterface((kServiceFolder + L"\\ilexval.dll").c_str(), "NoSuchInterface", &refused,
                                           nullptr),
              static_cast<DWORD>(E_NOINTERFACE));
    EXPECT_EQ(refused, nullptr);
}

TEST(NotComDllGetInterface, RefusalsAndTheirDebugOutput)
{
    void* control = reinterpret_cast<void*>(1);
    const std::wstring longName(MAX_PATH, L'a');
    EXPECT_EQ(Orvik::NotComDllGetInterface(longName.c_str(), "IlexValidationControl", &control, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(control, nullptr);

    trusttest::DebugOutputCapture debug;
    const std::wstring unsignedService = kServiceFolder + L"\\unsigned\\ilexval.dll";
    control = reinterpret_cast<void*>(1);
    EXPECT_EQ(Orvik::NotComDllGetInterface(unsignedService.c_str(), "IlexValidationControl", &control, nullptr),
              static_cast<DWORD>(TRUST_E_NOSIGNATURE));
    EXPECT_EQ(control, nullptr);
    EXPECT_EQ(GetModuleHandleW(unsignedService.c_str()), nullptr);
    const std::wstring expected = L"NotComDllGetInterface: " + hostPath() + L" loading " + unsignedService +
                                  L", WinVerifyTrust failed with 800b0100\n";
    const auto lines = debug.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], expected);

    // A signed library without the export.
    EXPECT_EQ(Orvik::NotComDllGetInterface(trusttest::sample(L"signed-rfc3161.dll").c_str(),
                                           "IlexValidationControl", &control, nullptr),
              static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(control, nullptr);
}

TEST(NotComDllGetInterface, RelativeNameIsLookedForInTheInstallFolderFirst)
{
    ComPtr<IUnknown> control;
    trusttest::DebugOutputCapture debug;
    ASSERT_EQ(notComDllGetInterface(L"ilexval.dll", "IlexValidationControl", control.putVoid(), nullptr,
                                    folderReader(kServiceFolder)),
              0u);
    ASSERT_TRUE(control);
    control.reset();
    EXPECT_TRUE(debug.lines().empty());

    // The install folder holds an unsigned copy: refused, no fallback.
    EXPECT_EQ(notComDllGetInterface(L"ilexval.dll", "IlexValidationControl", control.putVoid(), nullptr,
                                    folderReader(kServiceFolder + L"\\unsigned")),
              static_cast<DWORD>(TRUST_E_NOSIGNATURE));
    EXPECT_FALSE(control);
}

TEST(NotComDllGetInterface, MissingFromTheInstallFolderFallsBackToTheModuleFolder)
{
    // A module loaded from the service's folder names the fallback folder.
    const Orvik::win::UniqueLibrary neighbour(LoadLibraryW((kServiceFolder + L"\\ilexval.dll").c_str()));
    ASSERT_TRUE(neighbour);
    trusttest::DebugOutputCapture debug;
    ComPtr<IUnknown> control;
    // The install folder exists but holds no service library.
    EXPECT_EQ(notComDllGetInterface(L"ilexval.dll", "IlexValidationControl", control.putVoid(), neighbour.get(),
                                    folderReader(trusttest::sandboxFile(L"."))),
              0u);
    ASSERT_TRUE(control);
    control.reset();
    const auto lines = debug.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0],
              L"NotComDllGetInterface: DLL not found in install location, looking in current directory");

    // Absolute names get no second chance.
    EXPECT_NE(notComDllGetInterface(trusttest::sample(L"ilexval-missing\\ilexval.dll").c_str(),
                                    "IlexValidationControl", control.putVoid(), neighbour.get(),
                                    folderReader(kServiceFolder)),
              0u);
    EXPECT_FALSE(control);
}

TEST(NotComDllGetInterface, CurrentDirectoryIsNeverSearched)
{
    // A signed service in the current directory; no install folder, and none
    // next to the host.
    CurrentDirectory inServiceFolder(kServiceFolder);
    ComPtr<IUnknown> control;
    EXPECT_EQ(notComDllGetInterface(L"ilexval.dll", "IlexValidationControl", control.putVoid(), nullptr,
                                    kNoInstallFolder),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(control);
}

TEST(NotComDllGetInterface, VettingRefusalKeepsTheLibraryUnloaded)
{
    const std::wstring copy = trusttest::sample(L"ilexval-other-signer\\ilexval.dll");
    void* control = nullptr;
    std::wstring vetted;
    EXPECT_EQ(notComDllGetInterface(copy.c_str(), "IlexValidationControl", &control, nullptr, kNoInstallFolder,
                                    [&vetted](const Orvik::win::HeldFile& library) {
                                        vetted = library.path();
                                        return false;
                                    }),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(vetted, copy);
    EXPECT_EQ(control, nullptr);
    EXPECT_EQ(GetModuleHandleW(copy.c_str()), nullptr);
}

TEST(NotComDllGetInterface, AcceptedTrustResults)
{
    EXPECT_TRUE(isAcceptedServiceTrustResult(0));
    EXPECT_TRUE(isAcceptedServiceTrustResult(static_cast<LONG>(0x80092026)));
    EXPECT_TRUE(isAcceptedServiceTrustResult(static_cast<LONG>(0x800B0101)));
    EXPECT_TRUE(isAcceptedServiceTrustResult(static_cast<LONG>(0x800B010E)));
    EXPECT_FALSE(isAcceptedServiceTrustResult(static_cast<LONG>(0x800B0100)));
    EXPECT_FALSE(isAcceptedServiceTrustResult(static_cast<LONG>(0x800B0109)));
    EXPECT_FALSE(isAcceptedServiceTrustResult(ERROR_FILE_NOT_FOUND));
}
