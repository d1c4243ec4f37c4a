// The folder search on real folders: list order decides, a folder named like
// the file does not count, and the existence test is the object's own.

#include "LogCapture.h"
#include "SystemTestSupport.h"

#include "dll/PathSearch.h"

#include <gmock/gmock.h>

using namespace systemtest;

namespace {

// Believes only in paths under one folder.
class OnlyUnder : public Orvik::PathSearch {
public:
    explicit OnlyUnder(std::wstring folder) : folder_(std::move(folder)) {}
    bool checkIfExists(const std::wstring& path) override { return path.compare(0, folder_.size(), folder_) == 0; }

private:
    std::wstring folder_;
};

} // namespace

TEST(PathSearch, FirstFolderHoldingTheFileWins)
{
    const TempFolder temp;
    const std::wstring a = temp.folder(L"a"), b = temp.folder(L"b"), c = temp.folder(L"c");
    temp.folder(L"a\\Lib.dll");
    temp.write(L"b\\Lib.dll", "");
    temp.write(L"c\\Lib.dll", "");
    const struct {
        std::vector<std::wstring> folders;
        std::wstring found; // "untouched": not found
    } cases[] = {
        {{a, b, c}, b}, {{c, b, a}, c}, {{a, b + L"\\", c}, b}, {{a, temp.file(L"none")}, L"untouched"}, {{}, L"untouched"},
    };
    for (const auto& t : cases) {
        testsupport::LogCapture log;
        Orvik::PathSearch search;
        search.addSearchPaths(t.folders);
        std::wstring folder = L"untouched";
        EXPECT_EQ(t.found != L"untouched", search.findFilePath(L"Lib.dll", folder));
        EXPECT_EQ(t.found, folder);
        EXPECT_EQ(t.found != L"untouched" ? 0u : 1u, log.matching(L"File not found.").size());
    }

    OnlyUnder onlyC(c);
    onlyC.addSearchPath(b);
    onlyC.addSearchPath(static_cast<const wchar_t*>(nullptr));
    onlyC.addSearchPath(c.c_str());
    EXPECT_EQ((std::vector<std::wstring>{b, c}), onlyC.getSearchPaths());
    std::wstring folder;
    ASSERT_TRUE(onlyC.findFilePath(L"Lib.dll", folder));
    EXPECT_EQ(c, folder);
}
