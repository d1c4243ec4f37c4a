// JSONParser against a bare RapidJSON document parsing with the same flags
// (RapidJSON's defaults), in alternating rounds of one run, and the growth of
// JSONParser::getObjectArray with the number of members of one element.
//
// Each side builds its document afresh for every read, as the update module
// does for every message it receives. JSONParser reads every floating number
// correctly rounded; RapidJSON's own full-precision mode, which is not safe
// on hostile text in the version we build with, is shown beside it as a
// yardstick for that extra work.

#include "json/JSONFormatter.h"
#include "json/JSONParser.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using BareDocument = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
using Clock = std::chrono::steady_clock;

constexpr unsigned kFlags = rapidjson::kParseDefaultFlags;
constexpr double kLimit = 1.1;
constexpr int kRounds = 21;

// What the update agent bridge sends while an update runs.
const std::wstring kProgress =
    L"{\"timestamp\":1765200000000,\"status\":\"running\",\"percent\":40}";

// A larger payload of every kind: a result with its product list.
const std::wstring kResult =
    L"{\"timestamp\":1733680123456,\"status\":\"succeeded\",\"progress\":100,"
    L"\"percent\":99.75,\"phase\":\"install\",\"error\":null,\"reboot\":false,"
    L"\"bytesDone\":174763008,\"bytesTotal\":174763008,"
    L"\"message\":\"Update complete.\\nRestart \\\"Corvane\\\" to finish.\","
    L"\"products\":["
    L"{\"id\":\"corvane.suite\",\"name\":\"Corvane Suite\",\"version\":\"2.1.0.1534\","
    L"\"size\":98304000,\"ok\":true},"
    L"{\"id\":\"corvane.vault\",\"name\":\"Corvane Vault\",\"version\":\"1.4.2.77\","
    L"\"size\":41943040,\"ok\":true},"
    L"{\"id\":\"corvane.scan\",\"name\":\"Corvane Scan \\u00e9dition\",\"version\":\"3.0.9.12\","
    L"\"size\":34515968,\"ok\":true}],"
    L"\"channels\":[\"stable\",\"beta\"],\"ratios\":[0.5,0.25,1.5e-3],"
    L"\"agent\":{\"pid\":4312,\"session\":1,\"started\":1733680000000,\"host\":\"WS-0042\"}}";

std::uint64_t g_sink = 0; // keeps the work observable

void fail(const char* what)
{
    std::fprintf(stderr, "benchmark payload not read: %s\n", what);
    std::exit(2);
}

void readProgressWithParser()
{
    Orvik::JSONParser parser;
    if (!parser.parse(kProgress))
        fail("JSONParser::parse");
    std::uint64_t timestamp = 0;
    std::wstring status;
    if (!parser.getUInt64(L"timestamp", timestamp) || !parser.getString(L"status", status))
        fail("JSONParser getters");
    g_sink += timestamp + status.size();
}

void readProgressBare()
{
    BareDocument doc;
    doc.Parse<kFlags>(kProgress.c_str());
    if (doc.HasParseError() || !doc.IsObject())
        fail("GenericDocument::Parse");
    auto ts = doc.FindMember(L"timestamp");
    auto st = doc.FindMember(L"status");
    if (ts == doc.MemberEnd() || !ts->value.IsUint64() || st == doc.MemberEnd() ||
        !st->value.IsString())
        fail("bare members");
    std::wstring status(st->value.GetString(), st->value.GetStringLength());
    g_sink += ts->value.GetUint64() + status.size();
}

void parseResultWithParser()
{
    Orvik::JSONParser parser;
    if (!parser.parse(kResult))
        fail("JSONParser::parse of the result");
    g_sink += parser.isEmpty() ? 0 : 1;
}

template <unsigned Flags>
void parseResultBare()
{
    BareDocument doc;
    doc.Parse<Flags>(kResult.c_str());
    if (doc.HasParseError() || !doc.IsObject())
        fail("GenericDocument::Parse of the result");
    g_sink += doc.MemberCount() == 0 ? 0 : 1;
}

using Work = void (*)();

double secondsFor(Work work, int iterations)
{
    const auto start = Clock::now();
    for (int i = 0; i < iterations; ++i)
        work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median round times of JSONParser, bare RapidJSON with the same flags and,
// when given, a yardstick, measured in rotating order so that no side always
// runs on a warmer heap.
void compare(const char* title, std::size_t codeUnits, Work wrapped, Work bare, int iterations,
             Work yardstick = nullptr, const char* yardstickName = nullptr)
{
    std::vector<Work> sides{bare, wrapped};
    if (yardstick)
        sides.push_back(yardstick);
    std::vector<std::vector<double>> times(sides.size());
    for (Work w : sides)
        secondsFor(w, iterations);
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < sides.size(); ++i) {
            const std::size_t side = (i + round) % sides.size();
            times[side].push_back(secondsFor(sides[side], iterations));
        }
    }
    const double bareSeconds = median(times[0]);
    const double wrappedSeconds = median(times[1]);
    const double ratio = wrappedSeconds / bareSeconds;
    std::printf("%s (%zu code units, median of %d rounds of %d)\n", title, codeUnits, kRounds,
                iterations);
    std::printf("  bare RapidJSON : %8.0f ns each\n", 1e9 * bareSeconds / iterations);
    std::printf("  JSONParser     : %8.0f ns each\n", 1e9 * wrappedSeconds / iterations);
    if (yardstick) {
        const double yardstickSeconds = median(times[2]);
        std::printf("  %s: %8.0f ns each (JSONParser / it: %.3f)\n", yardstickName,
                    1e9 * yardstickSeconds / iterations, wrappedSeconds / yardstickSeconds);
    }
    std::printf("  cost ratio (JSONParser / bare): %.3f (limit %.1f) %s\n", ratio, kLimit,
                ratio <= kLimit ? "within limit" : "OVER LIMIT");
}

// One element with `members` members, as text.
std::wstring wideElement(int members)
{
    std::wstring text = L"{\"list\":[{";
    for (int i = 0; i < members; ++i) {
        if (i)
            text += L',';
        text += L"\"member" + std::to_wstring(i) + L"\":" + std::to_wstring(i);
    }
    return text + L"}]}";
}

template <typename Json, typename List>
double objectArraySeconds(const std::wstring& text)
{
    Json json;
    json.parse(text);
    std::vector<double> times;
    for (int round = 0; round < 3; ++round) {
        List list;
        const auto start = Clock::now();
        if (!json.getObjectArray(L"list", list) || list.size() != 1)
            fail("getObjectArray");
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return median(times);
}

// JSONParser::getObjectArray gives the text of each element; the formatter's
// deep copy of each element is the linear yardstick.
void objectArrayGrowth()
{
    std::printf("getObjectArray of one element (median of 3)\n");
    double parserTimes[2], formatterTimes[2];
    const int sizes[2] = {25000, 100000};
    for (int i = 0; i < 2; ++i) {
        const std::wstring text = wideElement(sizes[i]);
        parserTimes[i] = objectArraySeconds<Orvik::JSONParser, std::vector<std::wstring>>(text);
        formatterTimes[i] =
            objectArraySeconds<Orvik::JSONFormatter, std::vector<Orvik::JSONFormatter>>(text);
        std::printf("  %6d members: JSONParser %8.1f ms, JSONFormatter %8.1f ms\n", sizes[i],
                    1e3 * parserTimes[i], 1e3 * formatterTimes[i]);
    }
    const double parserGrowth = parserTimes[1] / parserTimes[0];
    const double formatterGrowth = formatterTimes[1] / formatterTimes[0];
    std::printf("  growth for 4x the members: JSONParser %.1f, JSONFormatter %.1f "
                "(linear 4, quadratic 16) %s\n",
                parserGrowth, formatterGrowth,
                parserGrowth < 2 * formatterGrowth ? "linear" : "NOT LINEAR");
}

} // namespace

int main()
{
    compare("progress message: construct, parse, read timestamp and status, destroy",
            kProgress.size(), readProgressWithParser, readProgressBare, 20000);
    compare("result payload: construct, parse, destroy", kResult.size(), parseResultWithParser,
            parseResultBare<kFlags>, 5000, parseResultBare<rapidjson::kParseFullPrecisionFlag>,
            "bare, full precision");
    objectArrayGrowth();
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
    return 0;
}
