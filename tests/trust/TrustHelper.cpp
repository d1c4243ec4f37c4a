// Another process for the trust tests:
//   trust_helper lock <file> <event name>
//       holds an exclusive lock on the whole file, signals "<name>-locked" and
//       keeps the lock until "<name>-release" is signalled (60 s at most)
//   trust_helper install <catalog path> <atom name> <candidate>
//       installs the candidate catalog; exit code 0 when it was installed

#include "trust/TrustAnchors.h"
#include "trust/TrustCatalog.h"
#include "win/FileLock.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

using Orvik::win::UniqueKernelHandle;

int holdLock(const std::wstring& file, const std::wstring& eventName)
{
    Orvik::win::UniqueFile handle(CreateFileW(file.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    if (!handle)
        return 2;
    Orvik::win::WholeFileLock lock(handle.get(), true, 5000);
    UniqueKernelHandle locked(OpenEventW(EVENT_MODIFY_STATE, FALSE, (eventName + L"-locked").c_str()));
    UniqueKernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, (eventName + L"-release").c_str()));
    if (!lock.locked() || !locked || !release)
        return 3;
    SetEvent(locked.get());
    WaitForSingleObject(release.get(), 60000);
    return 0;
}

int install(const std::wstring& catalogPath, const std::wstring& atomName, const std::wstring& candidate)
{
    Orvik::trust::TrustCatalog catalog(catalogPath, atomName, Orvik::trust::catalogSignerThumbprint());
    return catalog.installCatalog(candidate) ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wcscmp(argv[1], L"lock") == 0)
        return holdLock(argv[2], argv[3]);
    if (argc == 5 && std::wcscmp(argv[1], L"install") == 0)
        return install(argv[2], argv[3], argv[4]);
    return 2;
}
