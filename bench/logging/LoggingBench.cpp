// Cost of a log site whose level is disabled, against an empty function call,
// measured side by side in one run, with each back end installed in turn: a
// counting one, the file back end and the event-trace back end. A disabled
// site must not format or allocate.

#include "Logging/Logger.h"
#include "CountingBackEnd.h"
#include "NullTracePlatform.h"
#include "Logging/LoggerTestSeam.h"
#include "Logging/CETWLogging.h"
#include "Logging/CLogging.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <algorithm>
#include <vector>

namespace {

UM_LOG_SOURCE_NAMED(L"Bench", L"bench");

std::atomic<long> g_allocations{0};

__attribute__((noinline)) void emptyFunction(int value)
{
    asm volatile("" : : "r"(value) : "memory");
}


template <typename Body>
double callsPerSecond(long iterations, Body body)
{
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < iterations; ++i)
        body(static_cast<int>(i));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return iterations / elapsed.count();
}

} // namespace

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Measurement {
    double emptyRate = 0;
    double disabledRate = 0;
    double ratio = 0; // median of the paired rounds' empty/disabled
    long allocations = 0;
};

// Short rounds of each side in pairs, the order alternating; the machine's
// speed drifts slowly against a pair, so the median of the pairs' ratios holds
// still where separate best times do not.
Measurement measureDisabledSite()
{
    const long iterations = 5000000;
    const wchar_t* text = L"argument";
    Orvik::logging::normal(UM_HERE, L"%ls %d", text, 0);
    emptyFunction(0);
    Measurement result;
    std::vector<double> ratios, empties, disableds;
    for (int round = 0; round < 15; ++round) {
        double empty = 0, disabled = 0;
        const auto runEmpty = [&] { empty = callsPerSecond(iterations, [](int i) { emptyFunction(i); }); };
        const auto runDisabled = [&] {
            const long before = g_allocations.load();
            disabled = callsPerSecond(iterations, [&](int i) {
                Orvik::logging::normal(UM_HERE, L"disabled %ls %d", text, i);
            });
            result.allocations += g_allocations.load() - before;
        };
        if (round % 2 == 0) {
            runEmpty();
            runDisabled();
        } else {
            runDisabled();
            runEmpty();
        }
        ratios.push_back(empty / disabled);
        empties.push_back(empty);
        disableds.push_back(disabled);
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    result.ratio = median(ratios);
    result.emptyRate = median(empties);
    result.disabledRate = median(disableds);
    return result;
}

void report(const char* backEnd, const Measurement& m)
{
    std::printf("%-16s empty call %12.0f/s  disabled site %12.0f/s  ratio %5.2f  allocations %ld\n", backEnd,
                m.emptyRate, m.disabledRate, m.ratio, m.allocations);
}

} // namespace

int main()
{
    // Nothing below level 4 passes: the measured site is disabled.
    auto owned = std::make_unique<benchsupport::CountingBackEnd>(4);
    benchsupport::CountingBackEnd* backEnd = owned.get();
    ETWLogging::testing::replaceBackEndForTesting(std::move(owned));
    const Measurement counting = measureDisabledSite();

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    auto file = std::make_unique<ETWLogging::CLogging>(std::wstring(temp) + L"um-bench-logging");
    file->Initialize(L"Bench", nullptr, nullptr, nullptr);
    file->SetSeverity(4);
    // The replaced back ends stay alive until the end (the counting one is read last).
    std::unique_ptr<ETWLogging::CLoggingIf> retired[2];
    retired[0] = ETWLogging::testing::replaceBackEndForTesting(std::move(file));
    const Measurement fileBackEnd = measureDisabledSite();

    static benchsupport::NullTracePlatform platform;
    auto trace = std::make_unique<ETWLogging::CETWLogging>(&platform);
    trace->Initialize_ex(nullptr, L"Bench", nullptr, nullptr, nullptr);
    trace->SetSeverity(4);
    retired[1] = ETWLogging::testing::replaceBackEndForTesting(std::move(trace));
    const Measurement traceBackEnd = measureDisabledSite();

    std::printf("A disabled log site (level 1, threshold 4) against an empty out-of-line call\n"
                "(medians of 15 paired rounds; ratio = disabled-site time / empty-call time, target <= 2):\n");
    report("counting", counting);
    report("file", fileBackEnd);
    report("event trace", traceBackEnd);
    const long allocations = counting.allocations + fileBackEnd.allocations + traceBackEnd.allocations;
    return allocations == 0 && backEnd->writes == 0 ? 0 : 1;
}
