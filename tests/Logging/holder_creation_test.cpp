#include "LogCapture.h"
#include "Logging/Logger.h"
#include "Logging/LoggerTestSeam.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using testsupport::CapturingBackEnd;

namespace {

// Builds capturing back ends; the first `failures` builds fail (by answering
// false or by throwing). Slow enough that concurrent first callers pile up.
class ScriptedBuilder : public ETWLogging::CLogBuilderIf {
public:
    int failures = 0;
    bool failByThrowing = false;
    std::atomic<int> builds{0};
    CapturingBackEnd* built = nullptr;

    bool Build(const wchar_t*, HMODULE, const wchar_t*, std::int32_t, ETWLogging::CLoggingIf** output,
               ETWLogging::CLogConfigSourceIf*) override
    {
        ++builds;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (failures > 0) {
            --failures;
            if (failByThrowing)
                throw std::runtime_error("transient");
            return false;
        }
        built = new CapturingBackEnd;
        *output = built;
        return true;
    }
};

// Each test gets a logger that does not exist yet and leaves none behind.
class LoggerCreation : public ::testing::Test {
protected:
    void SetUp() override { ETWLogging::testing::resetLoggerForTesting(&builder); }
    void TearDown() override { ETWLogging::testing::resetLoggerForTesting(nullptr); }
    ScriptedBuilder builder;
};

TEST_F(LoggerCreation, ConcurrentFirstCallersWaitForOneBuildAndLoseNoRecord)
{
    constexpr int kThreads = 8;
    constexpr int kRecords = 25;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ready, t] {
            ++ready;
            while (ready.load() < kThreads)
                std::this_thread::yield();
            for (int r = 0; r < kRecords; ++r)
                Orvik::logging::error({L"F", L"f", 1}, L"%d/%d", t, r);
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(1, builder.builds.load());
    ASSERT_NE(nullptr, builder.built);
    std::set<std::wstring> texts;
    for (const auto& record : builder.built->records)
        texts.insert(record.text);
    EXPECT_EQ(static_cast<std::size_t>(kThreads * kRecords), builder.built->records.size());
    EXPECT_EQ(static_cast<std::size_t>(kThreads * kRecords), texts.size());
}

TEST_F(LoggerCreation, FailedBuildIsRetriedLater)
{
    for (const bool throwing : {false, true}) {
        SCOPED_TRACE(throwing ? "builder throws" : "builder answers false");
        ETWLogging::testing::resetLoggerForTesting(&builder);
        builder.builds = 0;
        builder.failures = 1;
        builder.failByThrowing = throwing;

        EXPECT_EQ(0, IsLoggingEnabled(LOG_LEVEL_ERROR));
        EXPECT_EQ(1, builder.builds.load());
        if (!throwing) {
            // A builder that found nothing to build is not asked again at once.
            EXPECT_EQ(0, IsLoggingEnabled(LOG_LEVEL_ERROR));
            EXPECT_EQ(1, builder.builds.load());
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        }
        EXPECT_EQ(0u, WriteLog(LOG_LEVEL_ERROR, L"F", L"f", 1, L"after %ls", L"retry"));
        EXPECT_EQ(2, builder.builds.load());
        ASSERT_NE(nullptr, builder.built);
        ASSERT_EQ(1u, builder.built->records.size());
        EXPECT_EQ(L"after retry", builder.built->records[0].text);
        EXPECT_NE(0, IsLoggingEnabled(LOG_LEVEL_ERROR));
        EXPECT_EQ(2, builder.builds.load());
    }
}

// A back end that throws from every operation the front end uses.
class ThrowingBackEnd : public CapturingBackEnd {
public:
    std::uint32_t WriteFormatted(const wchar_t*, const wchar_t*, std::int32_t, std::uint32_t,
                                 const wchar_t*) override
    {
        throw std::runtime_error("write");
    }
    bool IsLevelEnabled(std::uint32_t) override { throw std::runtime_error("level"); }
};

TEST(LoggerFrontEnd, ThrowingBackEndLosesTheRecordNotTheProcess)
{
    auto previous = ETWLogging::testing::replaceBackEndForTesting(std::make_unique<ThrowingBackEnd>());
    EXPECT_EQ(0, IsLoggingEnabled(LOG_LEVEL_ERROR));
    EXPECT_EQ(1627u, WriteLog(LOG_LEVEL_ERROR, L"F", L"f", 1, L"dropped"));
    ETWLogging::testing::replaceBackEndForTesting(std::move(previous));
}

} // namespace
