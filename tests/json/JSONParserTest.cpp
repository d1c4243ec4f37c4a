#include "json/JSONParser.h"

#include "JsonTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Orvik::JSONParser;

namespace {

TEST(JSONParser, NewParserHoldsNull)
{
    JSONParser p;
    EXPECT_TRUE(p.isEmpty());
    EXPECT_EQ(p.toString(), L"null");
    std::wstring s;
    bool b = false;
    std::vector<std::wstring> list;
    EXPECT_FALSE(p.getString(L"a", s));
    EXPECT_FALSE(p.getBool(L"a", b));
    EXPECT_FALSE(p.getValueText(L"a", s));
    EXPECT_FALSE(p.getStringArray(L"a", list));
    p.clear();
    EXPECT_EQ(p.toString(), L"null");
}

TEST(JSONParser, AnyRootParsesButOnlyAnObjectHasMembers)
{
    JSONParser p;
    ASSERT_TRUE(p.parse(L"[1,2]"));
    std::int32_t v = 0;
    std::vector<std::int32_t> ints;
    EXPECT_FALSE(p.getInt(L"0", v));
    EXPECT_FALSE(p.getIntArray(L"", ints));
    EXPECT_TRUE(p.isEmpty());
    p.clear();
    EXPECT_EQ(p.toString(), L"[1,2]");
    p.setInt(L"a", 1);
    EXPECT_EQ(p.toString(), L"{\"a\":1}");
    EXPECT_FALSE(p.isEmpty());

    EXPECT_TRUE(p.parse(L"\"text\""));
    EXPECT_TRUE(p.parse(L"5"));
    EXPECT_EQ(p.toString(), L"5");

    // A failed parse leaves null behind; a null text changes nothing.
    EXPECT_FALSE(p.parse(L"{\"a\":1} x"));
    EXPECT_EQ(p.toString(), L"null");
    ASSERT_TRUE(p.parse(L"{\"a\":1}"));
    EXPECT_FALSE(p.parse(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(p.toString(), L"{\"a\":1}");
}

TEST(JSONParser, NullNamesDoNothing)
{
    const wchar_t* none = nullptr;
    JSONParser p;
    p.setInt(L"a", 1);
    p.setInt(none, 2);
    p.setString(none, L"x");
    p.setString(L"b", none);
    p.setStringArray(none, std::vector<const wchar_t*>{L"x"});
    p.appendString(none, L"x");
    p.appendString(L"c", none);
    p.setJson(none, L"1");
    p.appendJson(none, L"1");
    EXPECT_EQ(p.toString(), L"{\"a\":1}");
    std::int32_t v = 0;
    std::wstring s;
    EXPECT_FALSE(p.getInt(none, v));
    EXPECT_FALSE(p.getValueText(none, s));
}

TEST(JSONParser, ValueTextOfEveryKind)
{
    JSONParser p;
    ASSERT_TRUE(p.parse(L"{\"n\":null,\"i\":5,\"d\":0.5,\"b\":false,\"s\":\"a\\\"b\","
                        L"\"a\":[1, \"x\"],\"o\":{\"k\": {}}}"));
    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"n", L""}, {L"i", L"5"}, {L"d", L"0.5"}, {L"b", L"false"},
        {L"s", L"a\"b"}, {L"a", L"[1,\"x\"]"}, {L"o", L"{\"k\":{}}"}};
    for (const auto& e : expected) {
        std::wstring text = L"unset";
        EXPECT_TRUE(p.getValueText(std::wstring(e.first), text)) << e.first;
        EXPECT_EQ(text, e.second) << e.first;
    }
    std::wstring text = L"keep";
    EXPECT_FALSE(p.getValueText(L"missing", text));
    EXPECT_EQ(text, L"keep");
}

TEST(JSONParser, ArrayGettersWithAndWithoutFieldName)
{
    JSONParser p;
    ASSERT_TRUE(p.parse(L"{\"plain\":[\"a\",\"b\"],\"ints\":[1,-2,3],"
                        L"\"objs\":[{\"f\":\"x\",\"n\":1},{\"f\":\"y\",\"n\":2}],"
                        L"\"gap\":[{\"f\":\"x\",\"n\":1},{\"g\":\"y\"},{\"f\":\"z\"}],"
                        L"\"big\":[1,3000000000,2],\"s\":\"a\",\"empty\":[]}"));
    std::vector<std::wstring> strings;
    std::vector<std::int32_t> ints;

    EXPECT_FALSE(p.getStringArray(L"missing", strings));
    EXPECT_FALSE(p.getStringArray(L"s", strings));
    EXPECT_TRUE(p.getStringArray(L"empty", strings));
    EXPECT_TRUE(p.getStringArray(L"plain", strings, L""));
    EXPECT_TRUE(p.getStringArray(std::wstring(L"objs"), strings, std::wstring(L"f")));
    EXPECT_EQ(strings, (std::vector<std::wstring>{L"a", L"b", L"x", L"y"}));

    strings.clear();
    EXPECT_FALSE(p.getStringArray(L"gap", strings, L"f"));
    EXPECT_EQ(strings, std::vector<std::wstring>{L"x"});
    strings.clear();
    EXPECT_FALSE(p.getStringArray(L"plain", strings, L"f")); // not objects
    EXPECT_FALSE(p.getStringArray(L"objs", strings, L"n"));  // wrong kind
    EXPECT_FALSE(p.getStringArray(L"ints", strings));
    EXPECT_TRUE(strings.empty());

    EXPECT_TRUE(p.getIntArray(L"ints", ints));
    EXPECT_TRUE(p.getIntArray(L"objs", ints, L"n"));
    EXPECT_EQ(ints, (std::vector<std::int32_t>{1, -2, 3, 1, 2}));
    ints.clear();
    EXPECT_FALSE(p.getIntArray(L"big", ints));
    EXPECT_EQ(ints, std::vector<std::int32_t>{1});
    EXPECT_FALSE(p.getIntArray(L"missing", ints));
    EXPECT_FALSE(p.getIntArray(L"plain", ints));
}

TEST(JSONParser, ObjectArrayGivesOneTextPerElement)
{
    JSONParser p;
    ASSERT_TRUE(p.parse(L"{\"list\":[{\"s\":\"x\\u0000y\",\"n\":1.5,\"o\":{\"k\":[1,{}]},\"z\":null},"
                        L"{},{\"a\":1,\"b\":2,\"c\":3,\"a\":4,\"c\":5}],"
                        L"\"bad\":[{\"a\":1},[],{\"b\":2}],\"s\":\"x\"}"));
    std::vector<std::wstring> texts;
    ASSERT_TRUE(p.getObjectArray(L"list", texts));
    // A repeated name is set again, so it moves to the end with its last value.
    EXPECT_EQ(texts, (std::vector<std::wstring>{
                         L"{\"s\":\"x\\u0000y\",\"n\":1.5,\"o\":{\"k\":[1,{}]},\"z\":null}", L"{}",
                         L"{\"a\":4,\"b\":2,\"c\":5}"}));
    texts.clear();
    EXPECT_FALSE(p.getObjectArray(L"bad", texts));
    EXPECT_EQ(texts, std::vector<std::wstring>{L"{\"a\":1}"});
    EXPECT_FALSE(p.getObjectArray(L"s", texts));
    EXPECT_FALSE(p.getObjectArray(L"missing", texts));
}

TEST(JSONParser, StringSetterForms)
{
    JSONParser p;
    const std::wstring name = L"n";
    const std::wstring value = L"v";
    p.setString(name, value);
    p.setString(name, L"w");
    p.setString(L"m", value);
    p.setString(L"k", L"");
    EXPECT_EQ(p.toString(), L"{\"n\":\"w\",\"m\":\"v\",\"k\":\"\"}");

    p.setStringArray(L"arr", std::vector<std::wstring>{L"a", L"", L"b"});
    p.setStringArray(std::wstring(L"ptrs"), std::vector<std::wstring>{L"p"});
    p.setStringArray(L"ptrs", std::vector<const wchar_t*>{L"x", nullptr, L"y"});
    EXPECT_EQ(p.toString(), L"{\"n\":\"w\",\"m\":\"v\",\"k\":\"\",\"arr\":[\"a\",\"\",\"b\"],"
                            L"\"ptrs\":[\"x\",\"y\"]}");
}

TEST(JSONParser, AppendString)
{
    JSONParser p;
    p.appendString(L"list", L"plain", L"");
    p.appendString(L"list", L"plain2");
    p.appendString(std::wstring(L"list"), std::wstring(L"v"), std::wstring(L"id"));
    p.setInt(L"n", 1);
    p.appendString(L"n", L"ignored");
    EXPECT_EQ(p.toString(), L"{\"list\":[\"plain\",\"plain2\",{\"id\":\"v\"}],\"n\":1}");
}

TEST(JSONParser, SetJsonAndAppendJsonTakeAnyKindAndIgnoreBadText)
{
    JSONParser p;
    p.setJson(L"a", L"{\"x\":[1,2]}");
    p.setJson(L"b", L"\"s\"");
    p.setJson(L"c", L" 5 ");
    p.setJson(L"a", L"null");
    EXPECT_EQ(p.toString(), L"{\"c\":5,\"b\":\"s\",\"a\":null}");

    for (const wchar_t* bad : {L"", L"{", L"1 2", L"[1]x", L"nul"}) {
        p.setJson(L"c", bad);
        p.appendJson(L"list", bad);
    }
    EXPECT_EQ(p.toString(), L"{\"c\":5,\"b\":\"s\",\"a\":null}");

    p.appendJson(L"list", L"{\"k\":true}");
    p.appendJson(L"list", L"[]");
    p.appendJson(L"c", L"1"); // not an array: left alone
    EXPECT_EQ(p.toString(), L"{\"c\":5,\"b\":\"s\",\"a\":null,\"list\":[{\"k\":true},[]]}");

    JSONParser fresh;
    fresh.setJson(L"bad", L"}");
    EXPECT_EQ(fresh.toString(), L"null");
}

TEST(JSONParser, ClearAndIsEmpty)
{
    JSONParser p;
    ASSERT_TRUE(p.parse(L"{}"));
    EXPECT_TRUE(p.isEmpty());
    p.setBool(L"b", true);
    p.setDouble(L"d", 0.25);
    EXPECT_FALSE(p.isEmpty());
    p.clear();
    EXPECT_TRUE(p.isEmpty());
    EXPECT_EQ(p.toString(), L"{}");
}

// File forms: real files in the temp folder through the C runtime's streams.
class JSONParserFile : public ::testing::Test {
protected:
    jsontest::TempFile file;
};

TEST_F(JSONParserFile, WriteStartsWithTheMarkFollowedByLittleEndianText)
{
    ASSERT_FALSE(file.path().empty());
    JSONParser p;
    p.setString(L"s", L"\x00E9\xD83D\xDE00");
    p.setUInt64(L"timestamp", 1700000000000ull);
    {
        auto out = jsontest::openFile(file.path(), L"wb");
        ASSERT_TRUE(out);
        p.writeFile(out.get());
    }
    EXPECT_EQ(file.bytes(), jsontest::utf16le(p.toString(), true));

    JSONParser back;
    auto in = jsontest::openFile(file.path(), L"rb");
    ASSERT_TRUE(in);
    ASSERT_TRUE(back.parseFile(in.get()));
    EXPECT_EQ(back.toString(), p.toString());
}

TEST_F(JSONParserFile, ReadsWithOrWithoutTheMark)
{
    const std::wstring text = L" {\"a\":[\"\x4E2D\",\"\\uD83D\\uDE00\"],\"b\":{}}\r\n";
    for (bool mark : {true, false}) {
        file.write(jsontest::utf16le(text, mark));
        JSONParser p;
        auto in = jsontest::openFile(file.path(), L"rb");
        ASSERT_TRUE(in);
        ASSERT_TRUE(p.parseFile(in.get())) << mark;
        std::vector<std::wstring> list;
        ASSERT_TRUE(p.getStringArray(L"a", list));
        EXPECT_EQ(list, (std::vector<std::wstring>{L"\x4E2D", L"\xD83D\xDE00"}));
    }
}

TEST_F(JSONParserFile, BadFileContentLeavesNull)
{
    for (const std::wstring& text : {std::wstring(L""), std::wstring(L"{} x"), std::wstring(L"{\"a\":")}) {
        file.write(jsontest::utf16le(text, true));
        JSONParser p;
        p.setInt(L"old", 1);
        auto in = jsontest::openFile(file.path(), L"rb");
        ASSERT_TRUE(in);
        EXPECT_FALSE(p.parseFile(in.get()));
        EXPECT_EQ(p.toString(), L"null");
    }
    JSONParser p;
    p.setInt(L"old", 1);
    EXPECT_FALSE(p.parseFile(nullptr));
    p.writeFile(nullptr);
    EXPECT_EQ(p.toString(), L"{\"old\":1}");
}

} // namespace
