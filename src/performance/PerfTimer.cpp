#include "performance/PerfTimer.h"

#include "Logging/Logger.h"

#include <windows.h>

#include <cwchar>
#include <new>

namespace Orvik {
namespace internal {
namespace {

UM_LOG_SOURCE_NAMED(L"performance\\PerfTimer", L"Orvik::internal::PerfTimer");

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// The source line the record names; log readers match on it.
constexpr std::int32_t kRecordLine = 49;

std::int64_t counterFrequency() noexcept
{
    // Fixed at boot: read once.
    static const std::int64_t frequency = [] {
        LARGE_INTEGER value{};
        ::QueryPerformanceFrequency(&value);
        return value.QuadPart > 0 ? value.QuadPart : 1;
    }();
    return frequency;
}

} // namespace

PerfTimer::PerfTimer(const wchar_t* name) noexcept
{
    copyName(name, name != nullptr ? std::wcslen(name) : 0);
    start_ = nowNanoseconds();
}

PerfTimer::PerfTimer(const std::wstring& name) noexcept
{
    copyName(name.c_str(), name.size());
    start_ = nowNanoseconds();
}

PerfTimer::~PerfTimer()
{
    stop();
}

void PerfTimer::copyName(const wchar_t* name, std::size_t length) noexcept
{
    if (name == nullptr || length == 0)
        return;
    if (length >= kShortName) {
        longName_.reset(new (std::nothrow) wchar_t[length + 1]);
        if (longName_) {
            std::wmemcpy(longName_.get(), name, length);
            longName_[length] = L'\0';
            return;
        }
        length = kShortName - 1; // no memory: keep the start of the name
    }
    std::wmemcpy(shortName_, name, length);
    shortName_[length] = L'\0';
}

void PerfTimer::stop() noexcept
{
    if (stopped_)
        return;
    stopped_ = true;
    // Asked before the clock is read, so that a timer nobody records costs
    // no second read.
    if (!::IsLoggingEnabled(LOG_LEVEL_NORMAL))
        return;
    const std::int64_t now = nowNanoseconds();
    logging::normal(UM_HERE_AT(kRecordLine), L"Q4RTPerfTimer|%ls|%lld|%lld|%lld", name(),
                    static_cast<long long>(start_), static_cast<long long>(now), static_cast<long long>(now - start_));
}

std::int64_t PerfTimer::toNanoseconds(std::int64_t counter, std::int64_t frequency) noexcept
{
    if (frequency <= 0)
        return 0;
    return (counter / frequency) * kNanosecondsPerSecond + ((counter % frequency) * kNanosecondsPerSecond) / frequency;
}

std::int64_t PerfTimer::nowNanoseconds() noexcept
{
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return toNanoseconds(counter.QuadPart, counterFrequency());
}

} // namespace internal
} // namespace Orvik
