// The edges of what a document holds: numbers at and beyond the ends of the
// double range, and values placed right at the nesting bound. Whatever goes
// in must come out as text that the same class parses back to the same thing.

#include "json/JSONFormatter.h"
#include "json/JSONParser.h"

#include "JsonTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using Orvik::JSONFormatter;
using Orvik::JSONParser;
using Orvik::internal::kMaxJsonNestingDepth;

namespace {

template <typename Json>
class JsonLimits : public ::testing::Test {};

using JsonClasses = ::testing::Types<JSONParser, JSONFormatter>;
TYPED_TEST_SUITE(JsonLimits, JsonClasses);

bool sameDouble(double a, double b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

struct NumberCase {
    std::wstring text;
    bool accepted;
    double value; // the correctly rounded value (the compiler's reading of the same literal)
};

TYPED_TEST(JsonLimits, NumbersReadCorrectlyRoundedOrNotAtAll)
{
    const double kNaN = std::numeric_limits<double>::quiet_NaN();
    const std::vector<NumberCase> cases = {
        {L"8e308", false, kNaN},
        {L"-1.8e308", false, kNaN},
        {L"1.7976931348623159e308", false, kNaN}, // rounds above the largest double
        {L"1" + std::wstring(40, L'0') + L"e308", false, kNaN},
        {L"1e400", false, kNaN},
        {L"1.7976931348623158e308", true, DBL_MAX},
        {L"3e30", true, 3e30},
        {L"2.2250738585072011e-308", true, 2.2250738585072011e-308},
        {L"4.9406564584124654e-324", true, 4.9406564584124654e-324}, // the smallest subnormal
        {L"0.1", true, 0.1},
        {L"18446744073709551616", true, 18446744073709551616.0},
        {L"0E600", true, 0.0},
        {L"-0.0e+309", true, -0.0},
        {L"1e-400", true, 0.0},
        {L"-0." + std::wstring(400, L'0') + L"1", true, -0.0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        TypeParam json;
        // Zeros after the number, and a text that only looks like one.
        ASSERT_EQ(json.parse(L"{\"n\":" + c.text + L",\"s\":\"\\\"0e999\",\"z\":[0e309]}"),
                  c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(json.toString(), L"null");
            continue;
        }
        double value = kNaN;
        ASSERT_TRUE(json.getDouble(L"n", value));
        EXPECT_TRUE(sameDouble(value, c.value)) << value;
        std::wstring s;
        ASSERT_TRUE(json.getString(L"s", s));
        EXPECT_EQ(s, L"\"0e999");

        // Text, value and text again are stable.
        const std::wstring written = json.toString();
        TypeParam again;
        ASSERT_TRUE(again.parse(written)) << testing::PrintToString(written);
        double reread = kNaN;
        ASSERT_TRUE(again.getDouble(L"n", reread));
        EXPECT_TRUE(sameDouble(reread, c.value)) << reread;
        EXPECT_EQ(again.toString(), written);
    }

    // A double without JSON text is refused; the document stays as it was.
    TypeParam json;
    json.setInt(L"keep", 1);
    for (double bad : {kNaN, HUGE_VAL, -HUGE_VAL})
        EXPECT_FALSE(json.setDouble(L"keep", bad));
    EXPECT_EQ(json.toString(), L"{\"keep\":1}");
    EXPECT_TRUE(json.setDouble(L"keep", -DBL_MAX));
    EXPECT_EQ(json.toString(), L"{\"keep\":-1.7976931348623157e308}");
}

// Places a value nesting `depth` containers into a holder that has one member
// "keep"; gives the call's answer and the holder's text afterwards.
using Place = std::function<bool(std::size_t depth, std::wstring& text)>;

template <typename Json, typename Op>
Place placeInto(Op op)
{
    return [op](std::size_t depth, std::wstring& text) {
        Json holder;
        holder.setInt(L"keep", 1);
        const bool placed = op(holder, jsontest::nestedObjects(depth));
        text = holder.toString();
        return placed;
    };
}

JSONFormatter formatterOf(const std::wstring& text)
{
    JSONFormatter f;
    EXPECT_TRUE(f.parse(text));
    return f;
}

TEST(JsonLimitsDepth, PlacedValuesStayWithinTheBound)
{
    struct Case {
        const char* what;
        std::size_t deepest; // containers the placed value may nest
        Place place;
        std::function<bool(const std::wstring&)> parsesAgain;
    };
    const auto parserParses = [](const std::wstring& t) { return JSONParser().parse(t); };
    const auto formatterParses = [](const std::wstring& t) { return JSONFormatter().parse(t); };
    const Case cases[] = {
        {"JSONParser::setJson", kMaxJsonNestingDepth - 1,
         placeInto<JSONParser>(
             [](JSONParser& p, const std::wstring& v) { return p.setJson(L"x", v.c_str()); }),
         parserParses},
        {"JSONParser::appendJson", kMaxJsonNestingDepth - 2,
         placeInto<JSONParser>(
             [](JSONParser& p, const std::wstring& v) { return p.appendJson(L"x", v.c_str()); }),
         parserParses},
        {"JSONFormatter::setObject", kMaxJsonNestingDepth - 1,
         placeInto<JSONFormatter>([](JSONFormatter& f, const std::wstring& v) {
             return f.setObject(L"x", formatterOf(v));
         }),
         formatterParses},
        {"JSONFormatter::appendObject", kMaxJsonNestingDepth - 2,
         placeInto<JSONFormatter>([](JSONFormatter& f, const std::wstring& v) {
             return f.appendObject(L"x", formatterOf(v));
         }),
         formatterParses},
        {"JSONFormatter::setObjectArray", kMaxJsonNestingDepth - 2,
         placeInto<JSONFormatter>([](JSONFormatter& f, const std::wstring& v) {
             return f.setObjectArray(L"x", {JSONFormatter(), formatterOf(v)});
         }),
         formatterParses},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring text;
        EXPECT_TRUE(c.place(c.deepest, text));
        EXPECT_TRUE(c.parsesAgain(text));
        EXPECT_NE(text, L"{\"keep\":1}");

        EXPECT_FALSE(c.place(c.deepest + 1, text));
        EXPECT_EQ(text, L"{\"keep\":1}");
    }
}

} // namespace
