// The one failure path: a status that keeps its number and cannot be mixed
// with platform codes or tested as a bool, log sites that name their own file,
// function and line, and owners whose failing close keeps the caller's error.

#include "Logging/Logger.h"
#include "status/ModuleException.h"
#include "status/ModuleStatus.h"
#include "win/UniqueHandle.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <type_traits>

namespace {

UM_LOG_SOURCE(L"Testing::Scope");

// Platform codes and truth tests must not slip in or out unnoticed.
static_assert(!std::is_convertible_v<DWORD, ModuleStatus>, "a Win32 code needs fromWin32");
static_assert(!std::is_convertible_v<HRESULT, ModuleStatus>, "an HRESULT needs fromHResult");
static_assert(!std::is_constructible_v<bool, ModuleStatus>, "no truth test: ask failed()/succeeded()");
static_assert(!std::is_convertible_v<ModuleStatus, std::uint32_t>, "the number comes out through value()");

TEST(ModuleStatusType, ConversionsKeepTheNumberAndSuccessIsZeroOnly)
{
    EXPECT_EQ(5u, ModuleStatus::fromWin32(ERROR_ACCESS_DENIED).value());
    EXPECT_EQ(0x8007000Eu, ModuleStatus::fromHResult(E_OUTOFMEMORY).value());
    EXPECT_EQ(0x800000FFu, MODULE_STATUS_INVALID_STATE.value());
    EXPECT_EQ(MODULE_STATUS_TIMEOUT, ModuleStatus(0x8000000Du));

    EXPECT_TRUE(ModuleStatus::fromWin32(ERROR_SUCCESS).succeeded());
    EXPECT_TRUE(ModuleStatus().succeeded());
    EXPECT_TRUE(ModuleStatus::fromHResult(E_FAIL).failed());
    EXPECT_TRUE(MODULE_STATUS_PARTIAL_SUCCESS.failed());
    EXPECT_NE(MODULE_STATUS_SUCCESS, ModuleStatus::fromWin32(ERROR_FILE_NOT_FOUND));

    const Orvik::ModuleException comFailure("allocation", E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, comFailure.result());
    EXPECT_STREQ("allocation", comFailure.what());
    EXPECT_EQ(S_OK, Orvik::ModuleException("plain").result());
}

int logFromHere()
{
    const int line = __LINE__ + 1;
    Orvik::logging::error(UM_HERE, L"status %lu from %s", MODULE_STATUS_TIMEOUT, L"wide");
    return line;
}

ModuleStatus failForCaller(const char* caller)
{
    return Orvik::logging::fail(MODULE_STATUS_DATA_ERROR, UM_HERE_AS(caller), L"refused");
}

TEST(LogSiteHelpers, RecordTheirFileFunctionAndLine)
{
    testsupport::LogCapture capture;
    const int line = logFromHere();
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, failForCaller("initialize"));
    Orvik::logging::warning(UM_AT(L"Whole::Name", 42), L"fixed");

    const auto records = capture.records();
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(L"failure_path_test", records[0].file);
    EXPECT_EQ(L"Testing::Scope::logFromHere", records[0].function);
    EXPECT_EQ(line, records[0].line);
    EXPECT_EQ(static_cast<std::uint32_t>(LOG_LEVEL_ERROR), records[0].level);
    EXPECT_EQ(L"status 2147483661 from wide", records[0].text);

    EXPECT_EQ(L"Testing::Scope::initialize", records[1].function);
    EXPECT_EQ(L"refused", records[1].text);
    EXPECT_EQ(static_cast<std::uint32_t>(LOG_LEVEL_ERROR), records[1].level);

    EXPECT_EQ(L"Whole::Name", records[2].function);
    EXPECT_EQ(42, records[2].line);
    EXPECT_EQ(static_cast<std::uint32_t>(LOG_LEVEL_WARNING), records[2].level);
}

TEST(LogSiteHelpers, ALevelThatIsOffWritesNothingButStillAnswersTheStatus)
{
    testsupport::LogCapture capture(LOG_LEVEL_CRITICAL);
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, failForCaller("start"));
    EXPECT_TRUE(capture.records().empty());
}

// A close that fails and says why through the last error.
bool failingClose(int) noexcept
{
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

TEST(UniqueHandle, AFailingCloseKeepsTheCallersLastError)
{
    Orvik::win::UniqueHandle<Orvik::win::NullHandleTraits<int, failingClose>> owner(7);
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    owner.reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(owner);
}

} // namespace
