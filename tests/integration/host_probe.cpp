// A host in a folder of its own: loads the module given on its command line,
// initialises it through the first-version entry (so the module must find and
// bind BusBroker.dll itself, beside this program), starts it (its settings
// client binds the broker too), stops, uninitialises and destroys it. Prints each status; exits 0 when every entry returned.
#include "entry/ModuleFunctions.h"
#include "win/ProcAddress.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <cstdio>

namespace {
extern "C" std::uint32_t acceptUnload(void*, const wchar_t*, std::uint32_t)
{
    return 0;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const Orvik::win::UniqueLibrary library(LoadLibraryW(argv[1]));
    auto create = Orvik::win::procAddress<const Orvik::ModuleEntryTable* (*)()>(library.get(), "CreateObject");
    if (create == nullptr)
        return 3;
    const Orvik::ModuleEntryTable* t = create();
    Orvik::ModuleHandle handle = nullptr;
    if (t->newModule(&handle, L"UpdateModule") != 0)
        return 4;
    std::printf("initialize=%08lx\n", static_cast<unsigned long>(t->initializeModule(
                                          handle, L"UpdateModule", L"", 0, nullptr, nullptr, nullptr, &acceptUnload)));
    std::printf("start=%08lx\n", static_cast<unsigned long>(t->startModule(handle)));
    std::printf("stop=%08lx\n", static_cast<unsigned long>(t->stopModule(handle)));
    std::printf("uninitialize=%08lx\n", static_cast<unsigned long>(t->uninitializeModule(handle)));
    std::printf("destroy=%08lx\n", static_cast<unsigned long>(t->destroyModule(handle)));
    return 0;
}
