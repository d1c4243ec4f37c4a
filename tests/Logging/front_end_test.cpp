#include "LogCapture.h"
#include "Logging/Logger.h"
#include "Logging/LoggerTestSeam.h"
#include "Logging/WideFormat.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::LogCapture;

namespace {

TEST(LoggerFrontEnd, LevelTestFollowsTheBackEndThreshold)
{
    LogCapture log(3);
    EXPECT_EQ(0, IsLoggingEnabled(1));
    EXPECT_EQ(0, IsLoggingEnabled(2));
    EXPECT_NE(0, IsLoggingEnabled(3));
    EXPECT_NE(0, IsLoggingEnabled(4));
    Orvik::logging::warning({L"F", L"f", 1}, L"dropped");
    Orvik::logging::error({L"F", L"f", 2}, L"kept");
    auto records = log.records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"kept", records[0].text);
}

TEST(LoggerFrontEnd, WithoutBackEndNothingIsEnabledAndWritesFail)
{
    auto previous = ETWLogging::testing::replaceBackEndForTesting(nullptr);
    EXPECT_EQ(0, IsLoggingEnabled(4));
    EXPECT_EQ(1627u, WriteLog(4, L"F", L"f", 1, L"text"));
    ETWLogging::testing::replaceBackEndForTesting(std::move(previous));
}

TEST(LoggerFrontEnd, RecordCarriesFileFunctionLineAndMicrosoftStyleArguments)
{
    LogCapture log;
    const std::wstring wide = L"wide";
    WriteLog(4, L"performance\\PerfTimer", L"Orvik::internal::PerfTimer::stop", 321,
             L"%s|%ls|%hs|%lu|%ls(%lu)", wide.c_str(), L"also wide", "narrow", 4294967295ul,
             L"MODULE_STATUS_UNSUCCESSFUL", 0x80000002ul);
    auto records = log.records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(4u, records[0].level);
    EXPECT_EQ(L"performance\\PerfTimer", records[0].file);
    EXPECT_EQ(L"Orvik::internal::PerfTimer::stop", records[0].function);
    EXPECT_EQ(321, records[0].line);
    EXPECT_EQ(L"wide|also wide|narrow|4294967295|MODULE_STATUS_UNSUCCESSFUL(2147483650)", records[0].text);
}

TEST(LoggerFrontEnd, LongMessagesReachAPlainBackEndWholeOrCutToHalf)
{
    LogCapture log;
    const std::wstring exact(4160, L'a');
    const std::wstring mid(3000, L'b');
    const std::wstring huge(5000, L'c');
    WriteLog(4, L"F", L"f", 1, L"%s", mid.c_str());
    WriteLog(4, L"F", L"f", 1, L"%s", exact.c_str());
    WriteLog(4, L"F", L"f", 1, L"%s", huge.c_str());
    WriteLog(4, L"F", L"f", 1, L"%s!", exact.c_str());
    auto records = log.records();
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(mid, records[0].text);
    EXPECT_EQ(exact, records[1].text);
    EXPECT_EQ(std::wstring(2080, L'c'), records[2].text);
    EXPECT_EQ(std::wstring(2080, L'a'), records[3].text);
}

// An extended back end gets the format and arguments, filtered by its own level test.
class ExtendedBackEnd : public ETWLogging::CLoggingIf_ex {
public:
    testsupport::CapturingBackEnd inner;
    int prepareCalls = 0;
    std::uint32_t prepareResult = 0;

    std::uint32_t Initialize(const wchar_t*, HMODULE, const wchar_t*, ETWLogging::CLoggingListenerIf*) override { return 0; }
    std::uint32_t PrepareWrite() override
    {
        ++prepareCalls;
        return prepareResult;
    }
    std::uint32_t Uninitialize() override { return 0; }
    void SetEnabled(std::uint32_t) override {}
    bool IsEnabled() override { return true; }
    std::uint32_t LogFormat(std::uint32_t, const wchar_t*, const wchar_t*, std::int32_t, const wchar_t*, ...) override
    {
        return 0;
    }
    std::uint32_t WriteFormatted(const wchar_t* f, const wchar_t* fn, std::int32_t l, std::uint32_t lv,
                                 const wchar_t* m) override
    {
        return inner.WriteFormatted(f, fn, l, lv, m);
    }
    bool IsLevelEnabled(std::uint32_t level) override { return level >= 3; }
    void SetMaxEntries(std::uint32_t) override {}
    std::uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(std::uint32_t) override {}
    std::uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(std::uint32_t) override {}
    std::uint32_t GetSeverity() override { return 3; }
    std::uint32_t Initialize_ex(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*,
                                ETWLogging::CLoggingListenerIf*) override
    {
        return 0;
    }
    std::uint32_t WriteFormatted_ex(std::uint32_t level, const wchar_t* f, const wchar_t* fn, std::int32_t l,
                                    const wchar_t* m) override
    {
        return inner.WriteFormatted(f, fn, l, level, m);
    }
    std::uint32_t LogV_ex(std::uint32_t level, const wchar_t* f, const wchar_t* fn, std::int32_t l,
                          const wchar_t* format, va_list args) override
    {
        const std::wstring text = Basalt::formatWideV(format, args);
        return inner.WriteFormatted(f, fn, l, level, text.c_str());
    }
};

TEST(LoggerFrontEnd, ExtendedBackEndGetsUncutTextAboveItsThresholdOnly)
{
    auto owned = std::make_unique<ExtendedBackEnd>();
    ExtendedBackEnd* backEnd = owned.get();
    auto previous = ETWLogging::testing::replaceBackEndForTesting(std::move(owned));
    const std::wstring huge(5000, L'x');
    EXPECT_EQ(0u, WriteLog(4, L"F", L"f", 9, L"%s", huge.c_str()));
    EXPECT_EQ(0u, WriteLog(2, L"F", L"f", 9, L"below"));
    backEnd->prepareResult = 5;
    EXPECT_EQ(5u, WriteLog(4, L"F", L"f", 9, L"refused by PrepareWrite"));
    ASSERT_EQ(1u, backEnd->inner.records.size());
    EXPECT_EQ(huge, backEnd->inner.records[0].text);
    EXPECT_EQ(3, backEnd->prepareCalls);
    ETWLogging::testing::replaceBackEndForTesting(std::move(previous));
}

TEST(BackEndInterface, FixedLevelOperationsFormatBoundedWithoutLevelTest)
{
    testsupport::CapturingBackEnd backEnd;
    backEnd.threshold = 6; // ignored by the fixed-level operations
    const std::wstring huge(5000, L'z');
    backEnd.LogNormal(L"F", L"f", 1, L"%s", L"n");
    backEnd.LogWarning(L"F", L"f", 1, L"w");
    backEnd.LogInformation(L"F", L"f", 1, L"i");
    backEnd.LogError(L"F", L"f", 1, L"e");
    backEnd.LogCritical(L"F", L"f", 1, L"%s", huge.c_str());
    ASSERT_EQ(5u, backEnd.records.size());
    EXPECT_EQ(1u, backEnd.records[0].level);
    EXPECT_EQ(L"n", backEnd.records[0].text);
    EXPECT_EQ(2u, backEnd.records[1].level);
    EXPECT_EQ(3u, backEnd.records[2].level);
    EXPECT_EQ(4u, backEnd.records[3].level);
    EXPECT_EQ(5u, backEnd.records[4].level);
    EXPECT_EQ(std::wstring(4159, L'z'), backEnd.records[4].text);
}

} // namespace
