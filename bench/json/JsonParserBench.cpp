// Reads "timestamp" and "status" from a typical update progress payload, once
// through JSONParser and once on a bare RapidJSON document, in alternating
// rounds of the same run, and prints both rates and their ratio.

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

const std::wstring kPayload =
    L"{\"timestamp\":1733680123456,\"status\":\"running\",\"progress\":42,"
    L"\"phase\":\"download\",\"product\":\"Corvane Suite\",\"version\":\"2.1.0.1534\","
    L"\"bytesDone\":73400320,\"bytesTotal\":174763008}";

constexpr double kLimit = 1.3;
constexpr int kRounds = 15;
constexpr int kIterations = 20000;

std::uint64_t g_sink = 0; // keeps the work observable

void fail(const char* what)
{
    std::fprintf(stderr, "benchmark payload not read: %s\n", what);
    std::exit(2);
}

void throughParser()
{
    Orvik::JSONParser parser;
    if (!parser.parse(kPayload))
        fail("JSONParser::parse");
    std::uint64_t timestamp = 0;
    std::wstring status;
    if (!parser.getUInt64(L"timestamp", timestamp) || !parser.getString(L"status", status))
        fail("JSONParser getters");
    g_sink += timestamp + status.size();
}

void throughBareDocument()
{
    BareDocument doc;
    doc.Parse(kPayload.c_str());
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

template <typename Work>
double secondsFor(Work work)
{
    const auto start = Clock::now();
    for (int i = 0; i < kIterations; ++i)
        work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    // Warm up caches and the heap before measuring.
    secondsFor(throughBareDocument);
    secondsFor(throughParser);

    std::vector<double> bare, wrapped;
    for (int round = 0; round < kRounds; ++round) {
        // Alternate the order so neither side always runs on a warmer heap.
        if (round % 2 == 0) {
            bare.push_back(secondsFor(throughBareDocument));
            wrapped.push_back(secondsFor(throughParser));
        } else {
            wrapped.push_back(secondsFor(throughParser));
            bare.push_back(secondsFor(throughBareDocument));
        }
    }

    const double bareSeconds = median(bare);
    const double wrappedSeconds = median(wrapped);
    const double ratio = wrappedSeconds / bareSeconds;
    std::printf("progress payload: %zu code units, %d rounds of %d reads (median round)\n",
                kPayload.size(), kRounds, kIterations);
    std::printf("bare RapidJSON document : %10.0f reads/s\n", kIterations / bareSeconds);
    std::printf("JSONParser              : %10.0f reads/s\n", kIterations / wrappedSeconds);
    std::printf("cost ratio (JSONParser / bare): %.3f (limit %.1f) %s\n", ratio, kLimit,
                ratio <= kLimit ? "within limit" : "OVER LIMIT");
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
    return 0;
}
