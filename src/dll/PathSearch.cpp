#include "dll/PathSearch.h"

#include "Logging/Logger.h"

#include <utility>

namespace Orvik {
namespace {

constexpr wchar_t kLogFile[] = L"paths\\PathSearch";

} // namespace

PathSearch::PathSearch(std::shared_ptr<PathAPI> pathApi, std::shared_ptr<DllAPI> dllApi)
    : pathApi_(pathApi ? std::move(pathApi) : std::make_shared<PathAPI>()),
      dllApi_(dllApi ? std::move(dllApi) : std::make_shared<DllAPI>())
{
}

std::vector<std::wstring> PathSearch::getSearchPaths() const
{
    return folders_;
}

void PathSearch::addSearchPaths(const std::vector<std::wstring>& folders)
{
    folders_.insert(folders_.end(), folders.begin(), folders.end());
}

void PathSearch::addSearchPath(const wchar_t* folder)
{
    if (folder != nullptr)
        folders_.emplace_back(folder);
}

void PathSearch::addSearchPath(const std::wstring& folder)
{
    folders_.push_back(folder);
}

bool PathSearch::findFilePath(const std::wstring& fileName, std::wstring& folder)
{
    constexpr wchar_t kFunction[] = L"Orvik::PathSearch::findFilePath";
    UM_LOG(LOG_LEVEL_NORMAL, kLogFile, kFunction, __LINE__, L"Entering findFilePath for file %ls", fileName.c_str());
    for (const std::wstring& candidate : folders_) {
        if (!checkIfExists(candidate + L'\\' + fileName))
            continue;
        folder = candidate;
        if (!folder.empty() && folder.back() == L'\\')
            folder.pop_back();
        UM_LOG(LOG_LEVEL_NORMAL, kLogFile, kFunction, __LINE__, L"File found at path %ls. Returning success.",
               folder.c_str());
        return true;
    }
    UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"File not found.");
    return false;
}

bool PathSearch::checkIfExists(const std::wstring& path)
{
    constexpr wchar_t kFunction[] = L"Orvik::PathSearch::checkIfExists";
    UM_LOG(LOG_LEVEL_NORMAL, kLogFile, kFunction, __LINE__, L"Entering checkIfExists for %ls", path.c_str());
    if (pathApi_->fileExists(path)) {
        UM_LOG(LOG_LEVEL_NORMAL, kLogFile, kFunction, __LINE__, L"File exists");
        return true;
    }
    UM_LOG(LOG_LEVEL_WARNING, kLogFile, kFunction, __LINE__, L"File does not exist.");
    return false;
}

} // namespace Orvik
