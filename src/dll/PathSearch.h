#pragma once
// An ordered list of folders and the search for the first one that holds a
// given file. The existence test is virtual and the search calls it through
// the object, so a replacement test changes the search.

#include "dll/DllAPI.h"
#include "wrappers/PathAPI.h"

#include <memory>
#include <string>
#include <vector>

namespace Orvik {

class PathSearch {
public:
    // Empty arguments mean the real wrappers.
    explicit PathSearch(std::shared_ptr<PathAPI> pathApi = {}, std::shared_ptr<DllAPI> dllApi = {});
    virtual ~PathSearch() = default;

    virtual std::vector<std::wstring> getSearchPaths() const;
    virtual void addSearchPaths(const std::vector<std::wstring>& folders);
    // A null folder is ignored.
    virtual void addSearchPath(const wchar_t* folder);
    virtual void addSearchPath(const std::wstring& folder);
    // The first folder, in list order, that holds `fileName` as a file; one
    // trailing backslash is dropped. `folder` is left alone when none does.
    virtual bool findFilePath(const std::wstring& fileName, std::wstring& folder);
    virtual bool checkIfExists(const std::wstring& path);

private:
    std::shared_ptr<PathAPI> pathApi_;
    std::shared_ptr<DllAPI> dllApi_;
    std::vector<std::wstring> folders_;
};

} // namespace Orvik
