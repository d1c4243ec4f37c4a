#pragma once
// A log back end for benchmarks: passes levels from `threshold` up and counts
// what it is asked to write, so a benchmark can show that a disabled site
// wrote nothing.

#include "Logging/LoggingIf.h"

#include <cstdint>

namespace benchsupport {

class CountingBackEnd : public ETWLogging::CLoggingIf {
public:
    explicit CountingBackEnd(std::uint32_t threshold) : threshold_(threshold) {}

    long writes = 0;

    std::uint32_t Initialize(const wchar_t*, HMODULE, const wchar_t*, ETWLogging::CLoggingListenerIf*) override { return 0; }
    std::uint32_t PrepareWrite() override { return 0; }
    std::uint32_t Uninitialize() override { return 0; }
    void SetEnabled(std::uint32_t) override {}
    bool IsEnabled() override { return true; }
    std::uint32_t LogFormat(std::uint32_t, const wchar_t*, const wchar_t*, std::int32_t, const wchar_t*, ...) override { return 0; }
    std::uint32_t WriteFormatted(const wchar_t*, const wchar_t*, std::int32_t, std::uint32_t, const wchar_t*) override
    {
        ++writes;
        return 0;
    }
    bool IsLevelEnabled(std::uint32_t level) override { return level >= threshold_; }
    void SetMaxEntries(std::uint32_t) override {}
    std::uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(std::uint32_t) override {}
    std::uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(std::uint32_t) override {}
    std::uint32_t GetSeverity() override { return threshold_; }

private:
    const std::uint32_t threshold_;
};

} // namespace benchsupport
