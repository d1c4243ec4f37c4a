// Rules the parser and the formatter share, run against both classes.

#include "json/JSONFormatter.h"
#include "json/JSONParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

using Orvik::JSONFormatter;
using Orvik::JSONParser;

namespace {

template <typename Json>
class JsonCommon : public ::testing::Test {};

using JsonClasses = ::testing::Types<JSONParser, JSONFormatter>;
TYPED_TEST_SUITE(JsonCommon, JsonClasses);

// Which typed getters accept the member "n".
struct Kinds {
    bool asInt, asInt64, asUInt, asUInt64, asDouble;
};

template <typename Json>
Kinds kindsOf(const Json& json)
{
    std::int32_t i = 0;
    std::int64_t i64 = 0;
    std::uint32_t u = 0;
    std::uint64_t u64 = 0;
    double d = 0;
    return {json.getInt(L"n", i), json.getInt64(L"n", i64), json.getUInt(L"n", u),
            json.getUInt64(L"n", u64), json.getDouble(L"n", d)};
}

#define EXPECT_KINDS(json, i, i64, u, u64, d)                                                  \
    do {                                                                                       \
        const Kinds k = kindsOf(json);                                                         \
        EXPECT_EQ(k.asInt, i);                                                                 \
        EXPECT_EQ(k.asInt64, i64);                                                             \
        EXPECT_EQ(k.asUInt, u);                                                                \
        EXPECT_EQ(k.asUInt64, u64);                                                            \
        EXPECT_EQ(k.asDouble, d);                                                              \
    } while (0)

TYPED_TEST(JsonCommon, IntegerKindsOfSetValues)
{
    TypeParam json;
    json.setInt(L"n", 5);
    EXPECT_KINDS(json, true, true, true, true, false);
    std::int32_t i = 0;
    std::uint64_t u64 = 0;
    EXPECT_TRUE(json.getInt(L"n", i));
    EXPECT_EQ(i, 5);
    EXPECT_TRUE(json.getUInt64(L"n", u64));
    EXPECT_EQ(u64, 5u);

    json.setInt(L"n", -1);
    EXPECT_KINDS(json, true, true, false, false, false);
    std::int64_t i64 = 0;
    EXPECT_TRUE(json.getInt64(L"n", i64));
    EXPECT_EQ(i64, -1);

    json.setUInt64(L"n", 3000000000ull);
    EXPECT_KINDS(json, false, true, true, true, false);
    std::uint32_t u = 0;
    EXPECT_TRUE(json.getUInt(L"n", u));
    EXPECT_EQ(u, 3000000000u);

    json.setUInt64(L"n", 0xFFFFFFFFFFFFFFFFull);
    EXPECT_KINDS(json, false, false, false, true, false);

    json.setInt64(L"n", -5000000000ll);
    EXPECT_KINDS(json, false, true, false, false, false);

    json.setDouble(L"n", 5.0);
    EXPECT_KINDS(json, false, false, false, false, true);
    double d = 0;
    EXPECT_TRUE(json.getDouble(L"n", d));
    EXPECT_EQ(d, 5.0);
}

TYPED_TEST(JsonCommon, IntegerKindsOfParsedValues)
{
    TypeParam json;
    ASSERT_TRUE(json.parse(L"{\"n\":5}"));
    EXPECT_KINDS(json, true, true, true, true, false);
    ASSERT_TRUE(json.parse(L"{\"n\":-1}"));
    EXPECT_KINDS(json, true, true, false, false, false);
    ASSERT_TRUE(json.parse(L"{\"n\":3000000000}"));
    EXPECT_KINDS(json, false, true, true, true, false);
    ASSERT_TRUE(json.parse(L"{\"n\":18446744073709551615}"));
    EXPECT_KINDS(json, false, false, false, true, false);
    ASSERT_TRUE(json.parse(L"{\"n\":5.0}"));
    EXPECT_KINDS(json, false, false, false, false, true);
    ASSERT_TRUE(json.parse(L"{\"n\":5e0}"));
    EXPECT_KINDS(json, false, false, false, false, true);
}

TYPED_TEST(JsonCommon, FailedGettersLeaveTheOutParameterAlone)
{
    TypeParam json;
    ASSERT_TRUE(json.parse(L"{\"s\":\"x\",\"b\":true,\"n\":-1,\"z\":null}"));
    std::wstring s = L"keep";
    bool b = false;
    std::uint32_t u = 7;
    double d = 1.5;
    EXPECT_FALSE(json.getString(L"b", s));
    EXPECT_FALSE(json.getString(L"z", s));
    EXPECT_FALSE(json.getString(L"missing", s));
    EXPECT_FALSE(json.getBool(L"s", b));
    EXPECT_FALSE(json.getUInt(L"n", u));
    EXPECT_FALSE(json.getDouble(L"n", d));
    EXPECT_EQ(s, L"keep");
    EXPECT_FALSE(b);
    EXPECT_EQ(u, 7u);
    EXPECT_EQ(d, 1.5);
    // Names compare exactly.
    EXPECT_FALSE(json.getBool(L"B", b));
    EXPECT_TRUE(json.getBool(L"b", b));
    EXPECT_TRUE(b);
}

TYPED_TEST(JsonCommon, ReplacedMemberMovesToTheEnd)
{
    TypeParam json;
    json.setString(L"a", std::wstring(L"1"));
    json.setInt(L"b", 2);
    json.setBool(L"c", true);
    json.setString(L"a", std::wstring(L"4"));
    EXPECT_EQ(json.toString(), L"{\"c\":true,\"b\":2,\"a\":\"4\"}");

    // Replacing the last member keeps the others where they are.
    json.setInt(L"a", 5);
    EXPECT_EQ(json.toString(), L"{\"c\":true,\"b\":2,\"a\":5}");

    TypeParam single;
    single.setInt(L"x", 1);
    single.setInt(L"x", 2);
    EXPECT_EQ(single.toString(), L"{\"x\":2}");
}

TYPED_TEST(JsonCommon, ASetOverARepeatedNameIsWhatTheNextGetReads)
{
    using Json = TypeParam;
    // Each sets "k" and reads it back.
    using SetAndGet = bool (*)(Json&);
    const SetAndGet setters[] = {
        [](Json& j) {
            std::wstring s;
            j.setString(L"k", std::wstring(L"new"));
            return j.getString(L"k", s) && s == L"new";
        },
        [](Json& j) { bool b = false; j.setBool(L"k", true); return j.getBool(L"k", b) && b; },
        [](Json& j) { std::int32_t i = 0; j.setInt(L"k", 42); return j.getInt(L"k", i) && i == 42; },
        [](Json& j) { std::uint32_t u = 0; j.setUInt(L"k", 43u); return j.getUInt(L"k", u) && u == 43u; },
        [](Json& j) { std::int64_t i = 0; j.setInt64(L"k", -44); return j.getInt64(L"k", i) && i == -44; },
        [](Json& j) { std::uint64_t u = 0; j.setUInt64(L"k", 45u); return j.getUInt64(L"k", u) && u == 45u; },
        [](Json& j) { double d = 0; j.setDouble(L"k", 4.5); return j.getDouble(L"k", d) && d == 4.5; },
        [](Json& j) {
            std::vector<std::wstring> list;
            j.setStringArray(L"k", std::vector<std::wstring>{L"new"});
            return j.getStringArray(L"k", list) && list == std::vector<std::wstring>{L"new"};
        },
    };
    for (std::size_t n = 0; n < std::size(setters); ++n) {
        SCOPED_TRACE(n);
        Json json;
        ASSERT_TRUE(json.parse(L"{\"k\":\"first\",\"x\":1,\"k\":\"last\"}"));
        EXPECT_TRUE(setters[n](json));
    }
    { // and each class's object setter
        Json json;
        ASSERT_TRUE(json.parse(L"{\"k\":\"first\",\"k\":\"last\"}"));
        if constexpr (std::is_same_v<Json, JSONFormatter>) {
            JSONFormatter inner, got;
            inner.setInt(L"a", 1);
            EXPECT_TRUE(json.setObject(L"k", inner));
            EXPECT_TRUE(json.getObject(L"k", got));
            EXPECT_EQ(got.toString(), L"{\"a\":1}");
        } else {
            std::wstring text;
            EXPECT_TRUE(json.setJson(L"k", L"{\"a\":1}"));
            EXPECT_TRUE(json.getValueText(L"k", text));
            EXPECT_EQ(text, L"{\"a\":1}");
        }
    }

    // A plain get reads the first of the repeated members; a set leaves one
    // member of that name, so the text says no more than the getters do.
    Json json;
    ASSERT_TRUE(json.parse(L"{\"k\":1,\"x\":0,\"k\":2,\"y\":0,\"k\":3}"));
    std::int32_t i = 0;
    EXPECT_TRUE(json.getInt(L"k", i));
    EXPECT_EQ(i, 1);
    json.setInt(L"k", 4);
    EXPECT_EQ(json.toString(), L"{\"y\":0,\"x\":0,\"k\":4}");
}

TYPED_TEST(JsonCommon, StringsOfEveryLengthRoundTrip)
{
    for (std::size_t length = 0; length <= 300; ++length) {
        std::wstring value;
        for (std::size_t i = 0; i < length; ++i)
            value += static_cast<wchar_t>(L'a' + i % 26);
        TypeParam json;
        json.setString(L"s", value);
        std::wstring got;
        ASSERT_TRUE(json.getString(L"s", got)) << length;
        EXPECT_EQ(got, value) << length;

        TypeParam reparsed;
        ASSERT_TRUE(reparsed.parse(json.toString())) << length;
        got.clear();
        ASSERT_TRUE(reparsed.getString(L"s", got)) << length;
        EXPECT_EQ(got, value) << length;
    }
}

TYPED_TEST(JsonCommon, EscapedZeroCodeUnitsSurviveParsing)
{
    TypeParam json;
    ASSERT_TRUE(json.parse(L"{\"s\":\"a\\u0000b\\u0000\"}"));
    std::wstring got;
    ASSERT_TRUE(json.getString(L"s", got));
    EXPECT_EQ(got, std::wstring(L"a\0b\0", 4));
    EXPECT_EQ(json.toString(), L"{\"s\":\"a\\u0000b\\u0000\"}");
}

TYPED_TEST(JsonCommon, EscapesAndSurrogatePairsRoundTrip)
{
    const std::wstring controls = L"q\"b\\s/n\nt\tr\rf\fb\bc\x01\x1f";
    const std::wstring smiley = L"\xD83D\xDE00";
    const std::wstring text = L"\x00E9\x4E2D" + smiley + L"z";

    TypeParam json;
    json.setString(L"controls", controls);
    json.setString(L"text", text);
    EXPECT_EQ(json.toString(),
              L"{\"controls\":\"q\\\"b\\\\s/n\\nt\\tr\\rf\\fb\\bc\\u0001\\u001F\","
              L"\"text\":\"\x00E9\x4E2D\xD83D\xDE00z\"}");

    TypeParam back;
    ASSERT_TRUE(back.parse(json.toString()));
    std::wstring got;
    ASSERT_TRUE(back.getString(L"controls", got));
    EXPECT_EQ(got, controls);
    ASSERT_TRUE(back.getString(L"text", got));
    EXPECT_EQ(got, text);

    // Escaped pairs and escaped characters decode to the same code units.
    TypeParam escaped;
    ASSERT_TRUE(escaped.parse(L"{\"t\":\"\\u00e9\\u4E2D\\uD83D\\uDE00z\",\"p\":\"\\/\\\"\"}"));
    ASSERT_TRUE(escaped.getString(L"t", got));
    EXPECT_EQ(got, text);
    ASSERT_TRUE(escaped.getString(L"p", got));
    EXPECT_EQ(got, L"/\"");
    // A lone or reversed escaped surrogate is not valid text.
    EXPECT_FALSE(escaped.parse(L"{\"t\":\"\\uD83Dx\"}"));
    EXPECT_FALSE(escaped.parse(L"{\"t\":\"\\uDE00\\uD83D\"}"));
}

TYPED_TEST(JsonCommon, MalformedTextDoesNotParse)
{
    for (const wchar_t* text : {L"", L"   ", L"{} x", L"{}{}", L"{\"a\":1,}", L"{\"a\" 1}",
                                L"{'a':1}", L"{\"a\":01}", L"{\"a\":\"x}", L"[1,2"}) {
        TypeParam json;
        json.setInt(L"keep", 1);
        EXPECT_FALSE(json.parse(text)) << "text: " << testing::PrintToString(std::wstring(text));
        std::int32_t v = 0;
        EXPECT_FALSE(json.getInt(L"keep", v));
        EXPECT_EQ(json.toString(), L"null");
    }
    TypeParam json;
    EXPECT_TRUE(json.parse(L" \t\r\n{ \"a\" : 7 }\r\n "));
    std::int32_t v = 0;
    EXPECT_TRUE(json.getInt(L"a", v));
    EXPECT_EQ(v, 7);
    EXPECT_EQ(json.toString(), L"{\"a\":7}");
}

} // namespace
