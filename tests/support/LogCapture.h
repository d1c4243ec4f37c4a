#pragma once
// A back end that records every log record, installed into the process's
// logger for the lifetime of a LogCapture object.

#include "Logging/LoggerTestSeam.h"
#include "Logging/LoggingIf.h"
#include "Logging/WideFormat.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

struct LogRecord {
    std::uint32_t level = 0;
    std::wstring file;
    std::wstring function;
    std::int32_t line = 0;
    std::wstring text;
};

inline std::ostream& operator<<(std::ostream& out, const LogRecord& r)
{
    std::string narrow;
    for (const std::wstring* s : {&r.file, &r.function, &r.text}) {
        for (wchar_t c : *s)
            narrow.push_back(c < 128 ? static_cast<char>(c) : '?');
        narrow += " | ";
    }
    return out << "{level " << r.level << " line " << r.line << " | " << narrow << "}";
}

class CapturingBackEnd : public ETWLogging::CLoggingIf {
public:
    std::uint32_t threshold = 1;
    std::mutex lock;
    std::vector<LogRecord> records;

    std::uint32_t Initialize(const wchar_t*, HMODULE, const wchar_t*, ETWLogging::CLoggingListenerIf*) override { return 0; }
    std::uint32_t PrepareWrite() override { return 0; }
    std::uint32_t Uninitialize() override { return 0; }
    void SetEnabled(std::uint32_t) override {}
    bool IsEnabled() override { return true; }
    std::uint32_t LogFormat(std::uint32_t level, const wchar_t* file, const wchar_t* function, std::int32_t line,
                            const wchar_t* format, ...) override
    {
        va_list args;
        va_start(args, format);
        std::wstring text = Basalt::formatWideV(format, args);
        va_end(args);
        return WriteFormatted(file, function, line, level, text.c_str());
    }
    std::uint32_t WriteFormatted(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                 std::uint32_t level, const wchar_t* message) override
    {
        std::lock_guard<std::mutex> guard(lock);
        records.push_back({level, file ? file : L"", function ? function : L"", line, message ? message : L""});
        return 0;
    }
    bool IsLevelEnabled(std::uint32_t level) override { return level >= threshold; }
    void SetMaxEntries(std::uint32_t) override {}
    std::uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(std::uint32_t) override {}
    std::uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(std::uint32_t level) override { threshold = level; }
    std::uint32_t GetSeverity() override { return threshold; }
};

// Installs a capturing back end; restores the previous one when destroyed.
class LogCapture {
public:
    explicit LogCapture(std::uint32_t threshold = 1)
    {
        auto backEnd = std::make_unique<CapturingBackEnd>();
        backEnd->threshold = threshold;
        backEnd_ = backEnd.get();
        previous_ = ETWLogging::testing::replaceBackEndForTesting(std::move(backEnd));
    }
    ~LogCapture() { ETWLogging::testing::replaceBackEndForTesting(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records()
    {
        std::lock_guard<std::mutex> guard(backEnd_->lock);
        return backEnd_->records;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(backEnd_->lock);
        backEnd_->records.clear();
    }
    // True when some record's text contains `fragment`.
    bool contains(const std::wstring& fragment)
    {
        auto all = records();
        return std::any_of(all.begin(), all.end(),
                           [&](const LogRecord& r) { return r.text.find(fragment) != std::wstring::npos; });
    }
    // Records whose text contains `fragment`.
    std::vector<LogRecord> matching(const std::wstring& fragment)
    {
        std::vector<LogRecord> found;
        for (auto& r : records())
            if (r.text.find(fragment) != std::wstring::npos)
                found.push_back(r);
        return found;
    }
    CapturingBackEnd& backEnd() { return *backEnd_; }

private:
    CapturingBackEnd* backEnd_ = nullptr;
    std::unique_ptr<ETWLogging::CLoggingIf> previous_;
};

} // namespace testsupport
