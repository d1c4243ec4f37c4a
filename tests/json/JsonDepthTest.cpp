// Hostile nesting: a payload from any peer must not be able to exhaust the
// stack of the thread that parses it.

#include "json/JSONFormatter.h"
#include "json/JSONParser.h"

#include "JsonTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using Orvik::JSONFormatter;
using Orvik::JSONParser;
using Orvik::internal::kMaxJsonNestingDepth;

namespace {

constexpr std::size_t kMillion = 1000000;
// Much smaller than any thread the bus or host would deliver on.
constexpr SIZE_T kSmallStack = 256 * 1024;

const std::wstring& millionArrays()
{
    static const std::wstring text = std::wstring(kMillion, L'[') + std::wstring(kMillion, L']');
    return text;
}

const std::wstring& millionMixed()
{
    // {"a":[{"a":[ ... ]}]} : objects inside arrays inside objects.
    static const std::wstring text = jsontest::repeat(L"{\"a\":[", kMillion / 2) + L"1" +
                                     jsontest::repeat(L"]}", kMillion / 2);
    return text;
}

const std::wstring& unclosedArrays()
{
    static const std::wstring text(kMillion, L'[');
    return text;
}

TEST(JsonDepth, DeepTextsAreRefusedByBothClasses)
{
    struct Work {
        bool parserAccepted = true;
        bool formatterAccepted = true;
        std::wstring parserAfter, formatterAfter;
        void operator()()
        {
            parserAccepted = false;
            formatterAccepted = false;
            for (const std::wstring* text : {&millionArrays(), &millionMixed(), &unclosedArrays()}) {
                JSONParser p;
                parserAccepted |= p.parse(*text);
                parserAfter += p.toString();
                JSONFormatter f;
                formatterAccepted |= f.parse(*text);
                formatterAfter += f.toString();
            }
        }
    } work;
    ASSERT_TRUE(jsontest::runOnSmallStack(work, kSmallStack));
    EXPECT_FALSE(work.parserAccepted);
    EXPECT_FALSE(work.formatterAccepted);
    EXPECT_EQ(work.parserAfter, L"nullnullnull");
    EXPECT_EQ(work.formatterAfter, L"nullnullnull");
}

TEST(JsonDepth, DeepTextsAreRefusedBySetJsonAndAppendJson)
{
    struct Work {
        std::wstring result;
        void operator()()
        {
            JSONParser p;
            p.setInt(L"a", 1);
            for (const std::wstring* text : {&millionArrays(), &millionMixed(), &unclosedArrays()}) {
                p.setJson(L"a", text->c_str());
                p.setJson(L"b", text->c_str());
                p.appendJson(L"c", text->c_str());
            }
            result = p.toString();
        }
    } work;
    ASSERT_TRUE(jsontest::runOnSmallStack(work, kSmallStack));
    EXPECT_EQ(work.result, L"{\"a\":1}");
}

TEST(JsonDepth, DeepFileIsRefused)
{
    jsontest::TempFile file;
    ASSERT_FALSE(file.path().empty());
    file.write(jsontest::utf16le(millionMixed(), true));
    auto in = jsontest::openFile(file.path(), L"rb");
    ASSERT_TRUE(in);
    struct Work {
        explicit Work(FILE* f) : in(f) {}
        FILE* in;
        bool accepted = true;
        void operator()()
        {
            JSONParser p;
            accepted = p.parseFile(in);
        }
    } work(in.get());
    ASSERT_TRUE(jsontest::runOnSmallStack(work, kSmallStack));
    EXPECT_FALSE(work.accepted);
}

TEST(JsonDepth, TheBoundItselfIsAcceptedAndUsableOnASmallStack)
{
    const std::wstring atBound = jsontest::nestedObjects(kMaxJsonNestingDepth);
    const std::wstring belowBound = jsontest::nestedObjects(kMaxJsonNestingDepth - 1);
    const std::wstring overBound = jsontest::nestedObjects(kMaxJsonNestingDepth + 1);
    const std::wstring arraysAtBound = std::wstring(kMaxJsonNestingDepth, L'[') +
                                       std::wstring(kMaxJsonNestingDepth, L']');
    const std::wstring arraysOverBound = L"[" + arraysAtBound + L"]";
    struct Work {
        Work(const std::wstring& a, const std::wstring& b, const std::wstring& o,
             const std::wstring& aa, const std::wstring& ao)
            : atBound(a), belowBound(b), overBound(o), arraysAtBound(aa), arraysOverBound(ao)
        {
        }
        const std::wstring &atBound, &belowBound, &overBound, &arraysAtBound, &arraysOverBound;
        bool formatterAt = false, formatterOver = true, parserAt = false, parserOver = true;
        bool arraysAt = false, arraysOver = true;
        std::wstring formatterText, copyText, nestedText, parserText, objectText;
        void operator()()
        {
            JSONFormatter f;
            formatterAt = f.parse(atBound);
            formatterText = f.toString();
            JSONFormatter copy(f);
            copyText = copy.toString();
            JSONFormatter nested;
            if (f.getObject(L"a", nested))
                nestedText = nested.toString();
            formatterOver = JSONFormatter().parse(overBound);

            JSONParser p;
            parserAt = p.parse(atBound);
            parserText = p.toString();
            parserOver = JSONParser().parse(overBound);
            arraysAt = JSONParser().parse(arraysAtBound);
            arraysOver = JSONParser().parse(arraysOverBound);

            JSONParser holder;
            holder.setJson(L"x", L"[]");
            // One level down, the deepest value that keeps the whole within the bound.
            holder.setJson(L"x", belowBound.c_str());
            objectText = holder.toString();
        }
    } work(atBound, belowBound, overBound, arraysAtBound, arraysOverBound);
    ASSERT_TRUE(jsontest::runOnSmallStack(work, kSmallStack));
    EXPECT_TRUE(work.formatterAt);
    EXPECT_FALSE(work.formatterOver);
    EXPECT_TRUE(work.parserAt);
    EXPECT_FALSE(work.parserOver);
    EXPECT_TRUE(work.arraysAt);
    EXPECT_FALSE(work.arraysOver);
    EXPECT_EQ(work.formatterText, atBound);
    EXPECT_EQ(work.copyText, atBound);
    EXPECT_EQ(work.nestedText, jsontest::nestedObjects(kMaxJsonNestingDepth - 1));
    EXPECT_EQ(work.parserText, atBound);
    EXPECT_EQ(work.objectText, L"{\"x\":" + belowBound + L"}");
}

} // namespace
