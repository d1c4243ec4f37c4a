#pragma once
// Times one scope and reports it as one machine-readable record when it stops:
// "Q4RTPerfTimer|<name>|<start ns>|<stop ns>|<elapsed ns>" at level 1.
// While level 1 is off, a timer costs one counter read and a copy of its name.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Orvik {
namespace internal {

class PerfTimer {
public:
    explicit PerfTimer(const wchar_t* name) noexcept;
    explicit PerfTimer(const std::wstring& name) noexcept;
    // Stops (reporting if not stopped yet); an exception leaving the scope is timed too.
    ~PerfTimer();

    PerfTimer(const PerfTimer&) = delete;
    PerfTimer& operator=(const PerfTimer&) = delete;

    // Reports once; later calls do nothing.
    void stop() noexcept;

    const wchar_t* name() const noexcept { return longName_ ? longName_.get() : shortName_; }

    // counter / frequency in nanoseconds, split so that the multiplication
    // cannot overflow: exact for every counter whose result fits in 64 bits,
    // at any frequency below 9.2 GHz.
    static std::int64_t toNanoseconds(std::int64_t counter, std::int64_t frequency) noexcept;
    // The high-resolution counter now, in nanoseconds.
    static std::int64_t nowNanoseconds() noexcept;

private:
    void copyName(const wchar_t* name, std::size_t length) noexcept;

    // Names that fit are kept inline, so a timer whose record is off does not
    // touch the heap.
    static constexpr std::size_t kShortName = 48;

    std::int64_t start_ = 0;
    wchar_t shortName_[kShortName] = {};
    std::unique_ptr<wchar_t[]> longName_;
    bool stopped_ = false;
};

} // namespace internal
} // namespace Orvik
