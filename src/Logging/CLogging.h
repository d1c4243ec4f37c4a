#pragma once
// The file back end: appends UTF-16 lines to rotating log files under the
// common application data folder, one open/write/close per line, serialised
// across processes by a named writer mutex.

#include "Logging/LogFileSettings.h"
#include "Logging/LoggingIf.h"
#include "win/UniqueHandle.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ETWLogging {

class CLogging : public CLoggingIf {
public:
    // Logs under the machine's common application data folder.
    CLogging();
    // Logs under `dataFolder` instead (tests, tools).
    explicit CLogging(std::wstring dataFolder);
    ~CLogging() override;
    CLogging(const CLogging&) = delete;
    CLogging& operator=(const CLogging&) = delete;

    std::uint32_t Initialize(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
                             CLoggingListenerIf* listener) override;
    std::uint32_t PrepareWrite() override { return 0; }
    std::uint32_t Uninitialize() override;
    void SetEnabled(std::uint32_t flag) override;
    bool IsEnabled() override;
    std::uint32_t LogFormat(std::uint32_t level, const wchar_t* file, const wchar_t* function, std::int32_t line,
                            const wchar_t* format, ...) override;
    std::uint32_t WriteFormatted(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                 std::uint32_t level, const wchar_t* message) override;
    bool IsLevelEnabled(std::uint32_t level) override { return level >= severity_.load(std::memory_order_relaxed); }
    void SetMaxEntries(std::uint32_t entries) override;
    std::uint32_t GetMaxEntries() override { return maxEntries_; }
    void SetMaxSize(std::uint32_t bytes) override;
    std::uint32_t GetMaxSize() override { return maxSize_; }
    void SetSeverity(std::uint32_t level) override;
    std::uint32_t GetSeverity() override { return severity_.load(std::memory_order_relaxed); }
    long AddRef() override;
    long Release() override;

    // What a line would look like now, without its terminator (tests).
    std::wstring BuildLine(const wchar_t* file, const wchar_t* function, std::int32_t line, std::uint32_t level,
                           const wchar_t* message, const SYSTEMTIME& time) const;
    const std::wstring& LogFolder() const { return logFolder_; }
    // The file a line with this rotation index goes to.
    std::wstring LogFilePath(DWORD index) const;

    // Where the back end of any process puts its files, for readers of them
    // (the log root ends with a backslash; group and host may be null).
    static std::wstring LogFolderFor(const std::wstring& logRoot, const wchar_t* groupName,
                                     const std::wstring& processBaseName);
    static std::wstring LogFilePathFor(const std::wstring& logFolder, const std::wstring& processBaseName,
                                       const wchar_t* hostName, DWORD index);
    // The session-local mutex that serialises the writers of one process base name.
    static std::wstring WriterMutexName(const std::wstring& processBaseName);
    // The name a line carries for a level; null for a level without one.
    static const wchar_t* LevelName(std::uint32_t level);
    std::uint32_t GetOptions() const { return options_; }
    // Lines not written because the writer mutex could not be had in time.
    unsigned long DroppedLines() const { return droppedLines_.load(); }

private:
    enum class FolderState { Pending, Available, Unavailable };

    void Reset();
    std::uint32_t WriteUnderMutex(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                  std::uint32_t level, const wchar_t* message);
    std::uint32_t OpenLogFile(Orvik::win::UniqueFile& file);
    bool CheckFolder();

    std::wstring dataFolder_; // empty: the machine's
    bool initialised_ = false;
    std::optional<std::wstring> groupName_;
    std::optional<std::wstring> hostName_;
    std::wstring processBaseName_;
    std::wstring moduleFileName_;
    DWORD processId_ = 0;
    std::wstring logFolder_;
    std::unique_ptr<internal::LogFileSettings> settings_;
    std::atomic<long> references_{0};
    Orvik::win::UniqueMutex writerMutex_;
    std::uint32_t maxSize_;
    std::uint32_t maxEntries_;
    std::atomic<std::uint32_t> severity_;
    std::uint32_t options_;
    std::atomic<std::uint32_t> enabled_;
    FolderState folderState_ = FolderState::Pending; // under the writer mutex
    // Rotation waits for a storable index (under the writer mutex), and says so once.
    bool rotationHeld_ = false;
    bool rotationHeldNoted_ = false;
    std::atomic<unsigned long> droppedLines_{0};
};

} // namespace ETWLogging
