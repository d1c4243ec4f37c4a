#pragma once
// What the stand-alone benchmarks share: the median of a set of samples and
// the folder the benchmark program runs from.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace benchsupport {

inline double medianOf(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// With a trailing backslash.
inline std::wstring programFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder;
}

} // namespace benchsupport
