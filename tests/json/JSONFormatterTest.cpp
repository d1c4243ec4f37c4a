#include "json/JSONFormatter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

using Orvik::JSONFormatter;

namespace {

TEST(JSONFormatter, NewFormatterIsTheEmptyObject)
{
    JSONFormatter f;
    EXPECT_EQ(f.toString(), L"{}");
}

TEST(JSONFormatter, ParseRequiresAnObjectRootAndTheWholeText)
{
    JSONFormatter f;
    EXPECT_FALSE(f.parse(L"[1,2]"));
    EXPECT_FALSE(f.parse(L"\"text\""));
    EXPECT_FALSE(f.parse(std::wstring(L"{}\0{}", 5)));
    EXPECT_TRUE(f.parse(std::wstring(L"{} \r\n")));
    ASSERT_TRUE(f.parse(L"{\"n\":12}"));
    std::int32_t n = 0;
    EXPECT_TRUE(f.getInt(L"n", n));
    EXPECT_EQ(n, 12);
}

TEST(JSONFormatter, WithoutAnObjectRootNothingIsReadOrWritten)
{
    JSONFormatter f;
    ASSERT_FALSE(f.parse(L"[\"a\"]"));
    std::vector<std::wstring> strings;
    std::vector<JSONFormatter> objects;
    EXPECT_FALSE(f.getStringArray(L"a", strings));
    EXPECT_FALSE(f.getObjectArray(L"a", objects));
    f.setInt(L"a", 1);
    f.appendString(L"b", L"x");
    f.appendObject(L"c", JSONFormatter());
    EXPECT_EQ(f.toString(), L"[\"a\"]");
}

TEST(JSONFormatter, StringsKeepEmbeddedZeroCodeUnits)
{
    for (std::size_t length = 0; length <= 300; ++length) {
        std::wstring value(length, L'x');
        for (std::size_t i = 0; i < length; i += 3)
            value[i] = L'\0';
        JSONFormatter f;
        f.setString(L"s", value);
        f.setStringArray(L"list", {value, value});
        std::wstring got;
        ASSERT_TRUE(f.getString(L"s", got)) << length;
        EXPECT_EQ(got, value) << length;

        JSONFormatter copy(f);
        JSONFormatter parsed;
        ASSERT_TRUE(parsed.parse(f.toString())) << length;
        for (const JSONFormatter* g : {&copy, &parsed}) {
            got.clear();
            ASSERT_TRUE(g->getString(L"s", got)) << length;
            EXPECT_EQ(got, value) << length;
            std::vector<std::wstring> list;
            ASSERT_TRUE(g->getStringArray(L"list", list));
            EXPECT_EQ(list, (std::vector<std::wstring>{value, value})) << length;
        }
    }
}

TEST(JSONFormatter, NamesWithZeroCodeUnitsAreDistinct)
{
    JSONFormatter f;
    f.setInt(std::wstring(L"a\0b", 3), 1);
    f.setInt(L"a", 2);
    std::int32_t v = 0;
    EXPECT_TRUE(f.getInt(std::wstring(L"a\0b", 3), v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(f.getInt(L"a", v));
    EXPECT_EQ(v, 2);
}

TEST(JSONFormatter, StringArrays)
{
    JSONFormatter f;
    ASSERT_TRUE(f.parse(L"{\"s\":\"x\",\"mixed\":[\"a\",1,\"b\"],\"good\":[\"p\",\"q\"],\"empty\":[]}"));
    std::vector<std::wstring> list{L"old"};
    EXPECT_TRUE(f.getStringArray(L"missing", list));
    EXPECT_EQ(list, std::vector<std::wstring>{L"old"});
    EXPECT_FALSE(f.getStringArray(L"s", list));
    EXPECT_FALSE(f.getStringArray(L"mixed", list));
    EXPECT_EQ(list, (std::vector<std::wstring>{L"old", L"a"}));
    list.clear();
    EXPECT_TRUE(f.getStringArray(L"good", list));
    EXPECT_TRUE(f.getStringArray(L"empty", list));
    EXPECT_EQ(list, (std::vector<std::wstring>{L"p", L"q"}));

    f.setStringArray(L"good", {L"z"});
    EXPECT_EQ(f.toString(),
              L"{\"s\":\"x\",\"mixed\":[\"a\",1,\"b\"],\"empty\":[],\"good\":[\"z\"]}");
}

TEST(JSONFormatter, AppendAddsTheArrayOnceAndLeavesOtherKindsAlone)
{
    JSONFormatter f;
    f.appendString(L"x", L"x");
    f.appendString(L"x", L"x");
    EXPECT_EQ(f.toString(), L"{\"x\":[\"x\",\"x\"]}");

    // A missing member is added at the end, without disturbing the others.
    JSONFormatter g;
    g.setInt(L"a", 1);
    g.setInt(L"b", 2);
    g.appendString(L"a2", L"v");
    g.setInt(L"n", 3);
    g.appendString(L"n", L"ignored");
    EXPECT_EQ(g.toString(), L"{\"a\":1,\"b\":2,\"a2\":[\"v\"],\"n\":3}");
}

TEST(JSONFormatter, CopiesAreDeepAndIndependent)
{
    std::unique_ptr<JSONFormatter> original(new JSONFormatter);
    original->setString(L"s", L"a longer string value kept in the pool");
    original->appendString(L"list", L"one");
    JSONFormatter copy(*original);
    JSONFormatter assigned;
    assigned.setInt(L"gone", 1);
    assigned = *original;
    original->setString(L"s", L"changed");
    original.reset();

    for (JSONFormatter* f : {&copy, &assigned}) {
        EXPECT_EQ(f->toString(),
                  L"{\"s\":\"a longer string value kept in the pool\",\"list\":[\"one\"]}");
        f->appendString(L"list", L"two");
    }
    assigned = assigned;
    EXPECT_EQ(assigned.toString(),
              L"{\"s\":\"a longer string value kept in the pool\",\"list\":[\"one\",\"two\"]}");
}

TEST(JSONFormatter, ObjectsAndObjectArrays)
{
    JSONFormatter inner;
    inner.setString(L"name", L"p");
    inner.setBool(L"status", true);

    JSONFormatter outer;
    outer.setObject(L"one", inner);
    outer.setObjectArray(L"many", {inner, JSONFormatter()});
    outer.appendObject(L"added", inner);
    inner.setInt(L"later", 1); // the outer object holds copies
    EXPECT_EQ(outer.toString(),
              L"{\"one\":{\"name\":\"p\",\"status\":true},"
              L"\"many\":[{\"name\":\"p\",\"status\":true},{}],"
              L"\"added\":[{\"name\":\"p\",\"status\":true}]}");

    JSONFormatter got;
    got.setInt(L"replaced", 1);
    ASSERT_TRUE(outer.getObject(L"one", got));
    EXPECT_EQ(got.toString(), L"{\"name\":\"p\",\"status\":true}");
    EXPECT_FALSE(outer.getObject(L"many", got));
    EXPECT_FALSE(outer.getObject(L"missing", got));

    std::vector<JSONFormatter> list;
    EXPECT_TRUE(outer.getObjectArray(L"missing", list));
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(outer.getObjectArray(L"many", list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].toString(), L"{\"name\":\"p\",\"status\":true}");
    EXPECT_EQ(list[1].toString(), L"{}");
    EXPECT_FALSE(outer.getObjectArray(L"one", list));

    JSONFormatter mixed;
    ASSERT_TRUE(mixed.parse(L"{\"r\":[{\"a\":1},2,{\"b\":3}]}"));
    list.clear();
    EXPECT_FALSE(mixed.getObjectArray(L"r", list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].toString(), L"{\"a\":1}");
}

TEST(JSONFormatter, AFormatterCanBeNestedIntoItself)
{
    JSONFormatter f;
    f.setInt(L"a", 1);
    f.setObject(L"self", f);
    f.appendObject(L"list", f);
    EXPECT_EQ(f.toString(),
              L"{\"a\":1,\"self\":{\"a\":1},\"list\":[{\"a\":1,\"self\":{\"a\":1}}]}");
    ASSERT_TRUE(f.getObject(L"self", f));
    EXPECT_EQ(f.toString(), L"{\"a\":1}");
}

TEST(JSONFormatter, SetMemberTakesValuesFromItsOwnPool)
{
    JSONFormatter f;
    f.setInt(L"a", 1);
    f.setInt(L"b", 2);
    JSONFormatter::Value name(L"a", f.allocator());
    JSONFormatter::Value value(rapidjson::kArrayType);
    value.PushBack(JSONFormatter::Value(true), f.allocator());
    f.setMember(name, value);
    EXPECT_EQ(f.toString(), L"{\"b\":2,\"a\":[true]}");
}

} // namespace

namespace {

TEST(JSONFormatter, ExhaustedMemoryThrowsInsteadOfHandingOutNull)
{
    JSONFormatter f;
    EXPECT_THROW(f.allocator().Malloc(std::size_t(1) << 62), std::bad_alloc);
    f.setInt(L"still", 1);
    EXPECT_EQ(f.toString(), L"{\"still\":1}");
}

} // namespace
