// The owner types every other layer relies on: closing keeps the caller's
// last error, COM references balance, a closing gate waits for the call
// inside and lets no later one in, and a whole-file lock gives up in time.

#include "win/CallbackGate.h"
#include "win/ComPtr.h"
#include "win/FileLock.h"
#include "win/LoadedImage.h"
#include "win/ModulePath.h"
#include "win/MutexHold.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

TEST(UniqueHandle, ClosingKeepsTheLastErrorOfTheCallersFailure)
{
    Orvik::win::UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    event.reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(event);

    // A file handle's empty value is INVALID_HANDLE_VALUE, not null.
    Orvik::win::UniqueFile missing(::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
    EXPECT_FALSE(missing);
    const DWORD openError = ::GetLastError();
    missing.reset();
    EXPECT_EQ(openError, ::GetLastError());
}

// Counts its references; deletes nothing (it lives on the test's stack).
class Counted : public IUnknown {
public:
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST(ComPtr, CopiesAddReferencesAndEveryOwnerReleasesOnce)
{
    Counted object;
    {
        Orvik::win::ComPtr<IUnknown> first;
        *first.put() = &object;  // takes the reference the object was made with
        {
            Orvik::win::ComPtr<IUnknown> copy(first);
            EXPECT_EQ(2u, object.references);
            Orvik::win::ComPtr<IUnknown> moved(std::move(copy));
            EXPECT_EQ(2u, object.references);
            Orvik::win::ComPtr<IUnknown> assigned;
            assigned = moved;
            EXPECT_EQ(3u, object.references);
            assigned = assigned;
            EXPECT_EQ(3u, object.references);
        }
        EXPECT_EQ(1u, object.references);
        IUnknown* detached = first.detach();
        EXPECT_EQ(1u, object.references);
        *first.put() = detached;
        first.put();  // releases what it held before handing out the slot
        EXPECT_EQ(0u, object.references);
    }
    EXPECT_EQ(0u, object.references);
}

TEST(CallbackGate, ClosingWaitsForTheCallInsideAndKeepsLaterOnesOut)
{
    auto gate = std::make_unique<Orvik::win::CallbackGate>();
    const Orvik::win::CallbackGate::Pass pass = gate->pass();
    std::atomic<bool> inside{false}, release{false}, finished{false};
    std::thread caller([&] {
        pass.run([&] {
            inside = true;
            while (!release)
                ::Sleep(1);
            finished = true;
        });
    });
    while (!inside)
        ::Sleep(1);
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        gate->close();
        closed = true;
    });
    ::Sleep(100);
    EXPECT_FALSE(closed) << "close returned while a call was inside";
    release = true;
    closer.join();
    caller.join();
    EXPECT_TRUE(finished);
    bool ran = false;
    EXPECT_FALSE(pass.run([&] { ran = true; }));
    gate.reset();  // the pass outlives the gate
    EXPECT_FALSE(pass.run([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(WholeFileLock, GivesUpAfterItsPatienceAndTakesAFreeFile)
{
    wchar_t folder[MAX_PATH] = {}, path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    ::GetTempFileNameW(folder, L"uml", 0, path);
    auto open = [&] {
        return Orvik::win::UniqueFile(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                    nullptr));
    };
    Orvik::win::UniqueFile holder = open(), waiter = open();
    ASSERT_TRUE(holder && waiter);
    {
        const Orvik::win::WholeFileLock held(holder.get(), true, 0);
        ASSERT_TRUE(held.locked());
        const ULONGLONG start = ::GetTickCount64();
        const Orvik::win::WholeFileLock refused(waiter.get(), false, 200, 10);
        EXPECT_FALSE(refused.locked());
        EXPECT_GE(::GetTickCount64() - start, 150u);
    }
    const Orvik::win::WholeFileLock free(waiter.get(), true, 0);
    EXPECT_TRUE(free.locked());
    holder.reset();
    waiter.reset();
    ::DeleteFileW(path);
}

TEST(ModulePath, NamesTheWholeFileOfALoadedModule)
{
    wchar_t expected[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, expected, MAX_PATH));
    EXPECT_EQ(expected, Orvik::win::modulePath(nullptr));
    const std::wstring kernel = Orvik::win::modulePath(::GetModuleHandleW(L"kernel32.dll"));
    EXPECT_EQ(L"kernel32.dll", Orvik::win::moduleFileName(::GetModuleHandleW(L"kernel32.dll")));
    EXPECT_EQ(kernel.size() - 13, kernel.find_last_of(L'\\'));
    EXPECT_EQ(L"", Orvik::win::modulePath(reinterpret_cast<HMODULE>(0x10)));
}

// The range read from a library's headers is the one the loader reports; a
// library mapped as data has none, so no address can be said to lie in its code.
TEST(LoadedImage, RangeIsTheLoadersAndADataMappingHasNone)
{
    for (const wchar_t* name : {L"kernel32.dll", L"crypt32.dll"}) {
        const HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        ASSERT_NE(nullptr, module);
        MODULEINFO info{};
        ASSERT_TRUE(::GetModuleInformation(::GetCurrentProcess(), module, &info, sizeof(info)));
        const Orvik::win::ImageRange range = Orvik::win::loadedImageRange(module);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll), range.base);
        EXPECT_EQ(info.SizeOfImage, range.size);
        EXPECT_TRUE(range.contains(static_cast<const char*>(info.lpBaseOfDll) + info.SizeOfImage - 1));
        EXPECT_FALSE(range.contains(static_cast<const char*>(info.lpBaseOfDll) + info.SizeOfImage));
        ::FreeLibrary(module);
    }
    // Mapped as data only while not loaded as code already.
    ASSERT_EQ(nullptr, ::GetModuleHandleW(L"msi.dll"));
    const HMODULE data =
        ::LoadLibraryExW(L"msi.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(0u, Orvik::win::loadedImageRange(data).size);
    ::FreeLibrary(data);
    EXPECT_EQ(0u, Orvik::win::loadedImageRange(nullptr).size);
}

} // namespace

// A mutex another thread holds is not had within the limit; one whose owner
// died holding it is (abandoned counts as owned); a held one is released at
// scope end, so the other thread can take it again.
TEST(MutexHold, TakesAFreeOrAbandonedMutexAndLeavesAHeldOneAlone)
{
    Orvik::win::UniqueKernelHandle mutex(::CreateMutexW(nullptr, FALSE, nullptr));
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(Orvik::win::MutexHold(nullptr, 0).held());

    std::atomic<bool> taken{false}, release{false};
    std::thread holder([&] {
        ::WaitForSingleObject(mutex.get(), INFINITE);
        taken = true;
        while (!release)
            ::Sleep(1);
        ::ReleaseMutex(mutex.get());
    });
    while (!taken)
        ::Sleep(1);
    EXPECT_FALSE(Orvik::win::MutexHold(mutex.get(), 20).held());
    release = true;
    holder.join();

    {
        const Orvik::win::MutexHold hold(mutex.get(), 0);
        EXPECT_TRUE(hold.held());
    }
    std::thread dies([&] { ::WaitForSingleObject(mutex.get(), INFINITE); });
    dies.join();
    const Orvik::win::MutexHold abandoned(mutex.get(), 0);
    EXPECT_TRUE(abandoned.held());
}
