// ZuLogConfig: shows and changes how the module logs on this machine.

#include "LogConfigTool.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    Orvik::tools::LogConfigTool tool([](const std::wstring& line) { std::wprintf(L"%ls\n", line.c_str()); });
    return tool.run(arguments);
}
