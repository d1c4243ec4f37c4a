#include "dll/PathSearch.h"

#include "Logging/Logger.h"

#include <utility>

namespace Orvik {
namespace {

UM_LOG_SOURCE_NAMED(L"paths\\PathSearch", L"Orvik::PathSearch");

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
    logging::normal(UM_HERE, L"Entering findFilePath for file %ls", fileName.c_str());
    for (const std::wstring& candidate : folders_) {
        if (!checkIfExists(candidate + L'\\' + fileName))
            continue;
        folder = candidate;
        if (!folder.empty() && folder.back() == L'\\')
            folder.pop_back();
        logging::normal(UM_HERE, L"File found at path %ls. Returning success.",
               folder.c_str());
        return true;
    }
    logging::warning(UM_HERE, L"File not found.");
    return false;
}

bool PathSearch::checkIfExists(const std::wstring& path)
{
    logging::normal(UM_HERE, L"Entering checkIfExists for %ls", path.c_str());
    if (pathApi_->fileExists(path)) {
        logging::normal(UM_HERE, L"File exists");
        return true;
    }
    logging::warning(UM_HERE, L"File does not exist.");
    return false;
}

} // namespace Orvik
