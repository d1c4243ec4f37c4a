// ZuDiagnose: why the module would not work on this machine, check by check.

#include "Diagnostics.h"

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    return Orvik::tools::runDiagnose(arguments, [](const std::wstring& line) { std::wprintf(L"%ls\n", line.c_str()); });
}
