// The timer's counter arithmetic where a plain product overflows, and its one
// record per timer.

#include "LogCapture.h"

#include "Logging/Logger.h"
#include "performance/PerfTimer.h"

#include <gmock/gmock.h>

#include <cwchar>
#include <limits>
#include <stdexcept>

using Orvik::internal::PerfTimer;

TEST(PerfTimer, NanosecondsAreExactWhereCounterTimesBillionOverflows)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (const std::int64_t f : {1LL, 3LL, 3579545LL, 10000000LL, 14318180LL, 2900000000LL, 9000000000LL}) {
        // Up to the largest counter whose answer still fits.
        const auto largest = static_cast<std::int64_t>(static_cast<__int128>(kMax) * f / 1000000000);
        for (const std::int64_t c : {0LL, f - 1, f, f + 1, kMax / 1000000000 + 1, largest / 3, largest - 1, largest}) {
            if (c > largest)
                continue;
            const auto exact = static_cast<std::int64_t>(static_cast<__int128>(c) * 1000000000 / f);
            EXPECT_EQ(exact, PerfTimer::toNanoseconds(c, f)) << c << " at " << f << " Hz";
        }
    }
}

TEST(PerfTimer, WritesOneRecordPerTimerOnlyWhenLevelOneIsOn)
{
    const struct {
        std::uint32_t threshold;
        std::wstring name;
        bool stopTwice, throwInScope;
    } cases[] = {
        {3, L"MessageBusLib::MessageBusLib", false, false},
        {1, L"MessageBusLib::MessageBusLib", false, false},
        {1, L"stopped", true, false},
        {1, L"thrown", false, true},
        {1, std::wstring(300, L'n'), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.begin() + 8));
        testsupport::LogCapture log(c.threshold);
        const std::int64_t before = PerfTimer::nowNanoseconds();
        try {
            std::wstring name = c.name;
            PerfTimer timer(name);
            name.assign(name.size(), L'?'); // the timer keeps its own copy
            ::Sleep(2);
            if (c.stopTwice) {
                timer.stop();
                timer.stop();
            }
            if (c.throwInScope)
                throw std::runtime_error("scope left");
        } catch (const std::runtime_error&) {
        }
        const std::int64_t after = PerfTimer::nowNanoseconds();

        const auto records = log.records();
        ASSERT_EQ(c.threshold == 1 ? 1u : 0u, records.size());
        if (records.empty())
            continue;
        EXPECT_EQ(LOG_LEVEL_NORMAL, records[0].level);
        EXPECT_EQ(L"performance\\PerfTimer", records[0].file);
        EXPECT_EQ(L"Orvik::internal::PerfTimer::stop", records[0].function);
        EXPECT_EQ(49, records[0].line);
        const std::wstring prefix = L"Q4RTPerfTimer|" + c.name + L"|";
        ASSERT_EQ(prefix, records[0].text.substr(0, prefix.size()));
        long long start = 0, stop = 0, elapsed = 0;
        ASSERT_EQ(3, swscanf(records[0].text.c_str() + prefix.size(), L"%lld|%lld|%lld", &start, &stop, &elapsed));
        EXPECT_LE(before, start);
        EXPECT_LE(stop, after);
        EXPECT_EQ(stop - start, elapsed);
        EXPECT_GE(elapsed, 1000000); // the 2 ms sleep
    }
}
