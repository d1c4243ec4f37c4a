// A timed scope whose record is off (level 1 below the default threshold 3)
// against a scope that reads the performance counter twice by hand, in
// alternating rounds of one run. The timer may cost no more than the two reads.

#include "Logging/Logger.h"
#include "CountingBackEnd.h"
#include "Logging/LoggerTestSeam.h"
#include "performance/PerfTimer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr double kLimit = 1.0;
constexpr int kRounds = 11;
constexpr int kIterations = 200000;

volatile long long g_sink = 0; // keeps the work observable


__attribute__((noinline)) void twoCounterReads()
{
    LARGE_INTEGER start, stop;
    ::QueryPerformanceCounter(&start);
    ::QueryPerformanceCounter(&stop);
    g_sink = g_sink + (stop.QuadPart - start.QuadPart);
}

__attribute__((noinline)) void disabledTimer()
{
    Orvik::internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");
    g_sink = g_sink + 1;
}

template <typename Work>
double secondsFor(Work work)
{
    LARGE_INTEGER frequency, start, stop;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < kIterations; ++i)
        work();
    ::QueryPerformanceCounter(&stop);
    return static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    // The default severity: levels 3 and up pass, the timer's level 1 does not.
    auto owned = std::make_unique<benchsupport::CountingBackEnd>(3);
    benchsupport::CountingBackEnd* backEnd = owned.get();
    ETWLogging::testing::replaceBackEndForTesting(std::move(owned));

    secondsFor(twoCounterReads);
    secondsFor(disabledTimer);

    std::vector<double> reads, timers;
    for (int round = 0; round < kRounds; ++round) {
        // Alternate the order so neither side always runs second.
        if (round % 2 == 0) {
            reads.push_back(secondsFor(twoCounterReads));
            timers.push_back(secondsFor(disabledTimer));
        } else {
            timers.push_back(secondsFor(disabledTimer));
            reads.push_back(secondsFor(twoCounterReads));
        }
    }
    const double readSeconds = median(reads);
    const double timerSeconds = median(timers);
    const double ratio = timerSeconds / readSeconds;
    std::printf("%d rounds of %d scopes (median round)\n", kRounds, kIterations);
    std::printf("two QueryPerformanceCounter calls : %8.1f ns per scope\n", readSeconds * 1e9 / kIterations);
    std::printf("disabled PerfTimer scope          : %8.1f ns per scope\n", timerSeconds * 1e9 / kIterations);
    std::printf("cost ratio (timer / two reads): %.3f (limit %.1f) %s\n", ratio, kLimit,
                ratio <= kLimit ? "within limit" : "OVER LIMIT");
    std::printf("records written: %ld\n", backEnd->writes);
    return backEnd->writes == 0 ? 0 : 1;
}
