// Writes numbered lines through the file back end, for the test that runs
// several writers into one log folder at once; or holds a writer mutex for
// the test of a first log call while another process writes.
// Usage: log_writer <data folder> <writer id> <lines> [<level>]
//        log_writer --hold <mutex name> <held event name> <release event name>
#include "Logging/CLogging.h"
#include "win/UniqueHandle.h"

#include <cwchar>
#include <string>

namespace {

// Takes the mutex, says so through the first event and keeps it until the
// second one is set (at most a minute).
int holdMutex(const wchar_t* mutexName, const wchar_t* heldName, const wchar_t* releaseName)
{
    Orvik::win::UniqueMutex mutex(::CreateMutexW(nullptr, FALSE, mutexName));
    Orvik::win::UniqueEvent held(::OpenEventW(EVENT_MODIFY_STATE, FALSE, heldName));
    Orvik::win::UniqueEvent release(::OpenEventW(SYNCHRONIZE, FALSE, releaseName));
    if (!mutex || !held || !release || ::WaitForSingleObject(mutex.get(), 10000) != WAIT_OBJECT_0)
        return 4;
    ::SetEvent(held.get());
    const DWORD waited = ::WaitForSingleObject(release.get(), 60000);
    ::ReleaseMutex(mutex.get());
    return waited == WAIT_OBJECT_0 ? 0 : 5;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5 && std::wcscmp(argv[1], L"--hold") == 0)
        return holdMutex(argv[2], argv[3], argv[4]);
    if (argc < 4)
        return 2;
    ETWLogging::CLogging log(argv[1]);
    if (log.Initialize(L"G", nullptr, nullptr, nullptr) != 0)
        return 3;
    const long lines = std::wcstol(argv[3], nullptr, 10);
    const unsigned long level = argc > 4 ? std::wcstoul(argv[4], nullptr, 10) : 3;
    int failures = 0;
    for (long i = 0; i < lines; ++i) {
        const std::wstring message = L"writer " + std::wstring(argv[2]) + L" line " + std::to_wstring(i) + L" end";
        if (log.WriteFormatted(L"log_writer.cpp", L"wmain", 20, level, message.c_str()) != 0)
            ++failures;
    }
    return failures == 0 ? 0 : 10;
}
