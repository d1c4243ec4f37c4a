// Writes numbered lines through the file back end, for the test that runs
// several writers into one log folder at once.
// Usage: log_writer <data folder> <writer id> <lines>
#include "Logging/CLogging.h"

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 2;
    ETWLogging::CLogging log(argv[1]);
    if (log.Initialize(L"G", nullptr, nullptr, nullptr) != 0)
        return 3;
    const long lines = std::wcstol(argv[3], nullptr, 10);
    int failures = 0;
    for (long i = 0; i < lines; ++i) {
        const std::wstring message = L"writer " + std::wstring(argv[2]) + L" line " + std::to_wstring(i) + L" end";
        if (log.WriteFormatted(L"log_writer.cpp", L"wmain", 20, 3, message.c_str()) != 0)
            ++failures;
    }
    return failures == 0 ? 0 : 10;
}
