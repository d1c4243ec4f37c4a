// Cost of a log site whose level is disabled, against an empty function call,
// measured side by side in one run. A disabled site must not format or allocate.

#include "Logging/Logger.h"
#include "CountingBackEnd.h"
#include "Logging/LoggerTestSeam.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

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

int main()
{
    // Nothing below level 4 passes: the measured site is disabled.
    auto owned = std::make_unique<benchsupport::CountingBackEnd>(4);
    benchsupport::CountingBackEnd* backEnd = owned.get();
    ETWLogging::testing::replaceBackEndForTesting(std::move(owned));

    const long iterations = 20000000;
    const wchar_t* text = L"argument";
    // Warm up both paths once.
    UM_LOG(LOG_LEVEL_NORMAL, L"Bench", L"bench", __LINE__, L"%ls %d", text, 0);
    emptyFunction(0);

    double emptyRate = 0, disabledRate = 0;
    long allocationsDuringDisabled = 0;
    for (int round = 0; round < 3; ++round) {
        emptyRate = callsPerSecond(iterations, [](int i) { emptyFunction(i); });
        const long before = g_allocations.load();
        disabledRate = callsPerSecond(iterations, [&](int i) {
            UM_LOG(LOG_LEVEL_NORMAL, L"Bench", L"bench", __LINE__, L"disabled %ls %d", text, i);
        });
        allocationsDuringDisabled = g_allocations.load() - before;
    }
    std::printf("empty function call     : %12.0f calls/s\n", emptyRate);
    std::printf("disabled log site       : %12.0f calls/s\n", disabledRate);
    std::printf("ratio (empty/disabled)  : %12.2f\n", emptyRate / disabledRate);
    std::printf("allocations while disabled: %ld, messages written: %ld\n", allocationsDuringDisabled,
                backEnd->writes);
    return allocationsDuringDisabled == 0 && backEnd->writes == 0 ? 0 : 1;
}
