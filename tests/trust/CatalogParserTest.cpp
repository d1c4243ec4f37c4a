// The catalog text format, without signatures.

#include "trust/CatalogParser.h"

#include <gtest/gtest.h>

using namespace Orvik::trust;

namespace {

std::vector<std::wstring> entries(const CatalogContent& content, const wchar_t* section)
{
    const auto found = content.sections.find(section);
    return found == content.sections.end() ? std::vector<std::wstring>{} : found->second;
}

} // namespace

TEST(CatalogParser, SectionsCommentsAndTrimming)
{
    const auto content = parseCatalog(L"ignored before any section\r\n"
                                      L"/* comment */\r\n"
                                      L"  // SIG // Begin signature block\r\n"
                                      L"*/ closing comment\r\n"
                                      L"\t[ VER ] \r\n"
                                      L" 12 \r\n"
                                      L"\r\n"
                                      L"[ORG]\n"
                                      L"\t Orvik Corporation \t\n"
                                      L"[SER]\n"
                                      L"0A0B\n"
                                      L"[ORG]\n"
                                      L"Corvane, Inc.\n"
                                      L"[\n");
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(content->version, 12u);
    EXPECT_EQ(entries(*content, L"ORG"), (std::vector<std::wstring>{L"Orvik Corporation", L"Corvane, Inc.", L"["}));
    ASSERT_TRUE(content->lists.signerNames.has_value());
    EXPECT_EQ(content->lists.signerNames->size(), 3u);
    EXPECT_EQ(content->lists.deniedSerials, (std::vector<std::wstring>{L"0A0B"}));
    // No "SHA" section: any root is accepted.
    EXPECT_TRUE(content->lists.acceptsAnyRoot());
    EXPECT_EQ(content->sections.count(L"ignored before any section"), 0u);
}

TEST(CatalogParser, VersionMustBeExactlyOnePositiveDecimalNumber)
{
    EXPECT_FALSE(parseCatalog(L"[ORG]\nOrvik Corporation\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n7\n8\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n7\n[VER]\n8\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n0\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n7a\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n-7\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n4294967296\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n").has_value());
    ASSERT_TRUE(parseCatalog(L"[VER]\n4294967295\n").has_value());
    EXPECT_EQ(parseCatalog(L"[VER]\n4294967295\n")->version, 4294967295u);
}

TEST(CatalogParser, EmptySectionNameInvalidatesTheWholeFile)
{
    EXPECT_FALSE(parseCatalog(L"[VER]\n6\n[ ]\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n6\n[]\n").has_value());
    EXPECT_FALSE(parseCatalog(L"[VER]\n6\n[\t]\n").has_value());
    EXPECT_TRUE(parseCatalog(L"[VER]\n6\n[x]\n").has_value());
}

TEST(CatalogParser, ThumbprintEntries)
{
    const auto content = parseCatalog(L"[VER]\n6\n[SHA]\n"
                                      L"00112233445566778899aabbccddeeff00112233\n"
                                      L"abc\n"
                                      L"zz112233445566778899aabbccddeeff00112233\n");
    ASSERT_TRUE(content.has_value());
    ASSERT_EQ(content->lists.rootThumbprints.size(), 3u);
    EXPECT_EQ(content->lists.rootThumbprints[0].size(), 20u);
    EXPECT_EQ(content->lists.rootThumbprints[0][10], 0xAA);
    // Odd length and non-hex entries are kept, empty, and match nothing.
    EXPECT_TRUE(content->lists.rootThumbprints[1].empty());
    EXPECT_TRUE(content->lists.rootThumbprints[2].empty());
    EXPECT_FALSE(content->lists.acceptsAnyRoot());
    const BYTE nothing[20] = {};
    EXPECT_FALSE(content->lists.isPinnedRoot(nothing, 0));
}

TEST(CatalogParser, OverlongLineInvalidatesTheFile)
{
    std::wstring text = L"[VER]\n6\n[ORG]\n";
    text += std::wstring(kMaxCatalogLineLength, L'x') + L"\n";
    EXPECT_TRUE(parseCatalog(text).has_value());
    text += std::wstring(kMaxCatalogLineLength + 1, L'y') + L"\n";
    EXPECT_FALSE(parseCatalog(text).has_value());
}

TEST(CatalogParser, DecodesUtf8AndUtf16Text)
{
    EXPECT_EQ(decodeCatalogText("[VER]\r\n6"), L"[VER]\r\n6");
    EXPECT_EQ(decodeCatalogText("\xEF\xBB\xBF[ORG]\nCorvane \xC3\xA9"), L"[ORG]\nCorvane \u00e9");
    const std::string utf16("\xFF\xFE[\0V\0E\0R\0]\0", 12);
    EXPECT_EQ(decodeCatalogText(utf16), L"[VER]");
    EXPECT_EQ(decodeCatalogText(""), L"");
}
