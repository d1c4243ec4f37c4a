#pragma once
// The event-trace back end (the default): registers a classic trace provider
// on the first write, follows the trace session that enables it, and sends
// every accepted message as one event whose payload is a tag-type-length record.

#include "Logging/CETWConfigurationListener.h"
#include "Logging/ETWAppProperties.h"
#include "Logging/LoggingIf.h"
#include "Logging/TracePlatform.h"
#include "win/SrwLock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ETWLogging {

// The library holding the logging code: path, file name and file version.
struct LibraryVersionInfo {
    std::wstring path;
    std::wstring fileName;
    std::wstring version;
    static const LibraryVersionInfo& instance();
};

// The event's header: the platform's trace header and one data pointer.
struct TraceEventHeader {
    EVENT_TRACE_HEADER header;
    MOF_FIELD data;
};
static_assert(sizeof(TraceEventHeader) == 64, "the trace event header is 64 bytes");

// Record item tags, in the order they are written.
enum TraceRecordTag : std::uint32_t {
    kTagProcessId = 4,
    kTagThreadId = 5,
    kTagProcessImage = 13,
    kTagSourceFile = 6,
    kTagSourceLine = 7,
    kTagFunction = 8,
    kTagLibraryFile = 9,
    kTagLibraryVersion = 10,
    kTagGroup = 11,
    kTagMessage = 12,
};

class CETWLogging : public CLoggingIf_ex {
public:
    // Longest message of one event, terminator included.
    static constexpr std::size_t kMessageCapacity = 2080;

    // `platform` null: the operating system's trace calls.
    explicit CETWLogging(TracePlatform* platform = nullptr);
    ~CETWLogging() override;
    CETWLogging(const CETWLogging&) = delete;
    CETWLogging& operator=(const CETWLogging&) = delete;

    std::uint32_t Initialize(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
                             CLoggingListenerIf* listener) override;
    std::uint32_t PrepareWrite() override;
    void GetAppModulePath(std::wstring& path) override { path = appModulePath_; }
    void GetAppName(std::wstring& name) override { name = groupName_; }
    std::uint32_t Uninitialize() override;
    void SetEnabled(std::uint32_t flag) override { enabled_.store(flag); }
    bool IsEnabled() override { return enabled_.load() != 0; }
    std::uint32_t LogFormat(std::uint32_t level, const wchar_t* file, const wchar_t* function, std::int32_t line,
                            const wchar_t* format, ...) override;
    std::uint32_t WriteFormatted(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                 std::uint32_t level, const wchar_t* message) override;
    bool IsLevelEnabled(std::uint32_t level) override
    {
        return level >= severity_.load(std::memory_order_relaxed) || level == 3;
    }
    void SetMaxEntries(std::uint32_t) override {}
    std::uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(std::uint32_t) override {}
    std::uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(std::uint32_t level) override { severity_.store(level == 0 ? 1 : level > 6 ? 6 : level); }
    std::uint32_t GetSeverity() override { return severity_.load(); }

    std::uint32_t Initialize_ex(const wchar_t* applicationName, const wchar_t* groupName, HMODULE moduleInstance,
                                const wchar_t* hostName, CLoggingListenerIf* listener) override;
    std::uint32_t WriteFormatted_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                    std::int32_t line, const wchar_t* message) override;
    std::uint32_t LogV_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function, std::int32_t line,
                          const wchar_t* format, va_list args) override;

    std::uint32_t LogFormat_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function, std::int32_t line,
                               const wchar_t* format, ...);
    bool IsSessionHandle(TRACEHANDLE handle) const { return session_.load() == handle; }
    ULONG OnTraceControl(WMIDPREQUESTCODE requestCode, void* buffer);
    std::uint32_t UnregisterProvider();
    std::uint32_t Shutdown();
    static UCHAR MapLevel(std::uint32_t level) { return static_cast<UCHAR>(level == 6 ? 3 : level); }
    // Appends the items before the message to `record`.
    void FillRecord(const wchar_t* file, const wchar_t* function, std::int32_t line,
                    std::vector<std::uint8_t>& record) const;
    // The finished record of one message (tests, benchmarks).
    void BuildRecord(const wchar_t* file, const wchar_t* function, std::int32_t line, const wchar_t* message,
                     std::vector<std::uint8_t>& record) const;

    const internal::ETWAppProperties& Properties() const { return properties_; }

private:
    static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE requestCode, void* context, ULONG* bufferSize,
                                        void* buffer);
    static std::wstring GetModuleName(HMODULE module, bool stripExtension);

    TracePlatform& platform_;
    Orvik::win::SrwLock registrationLock_;
    std::atomic<bool> registered_{false};
    TRACEHANDLE registration_ = 0; // under registrationLock_
    std::atomic<TRACEHANDLE> session_{0};
    DWORD processId_ = 0;
    GUID eventClassGuid_{};
    std::unique_ptr<CLoggingListenerIf> listener_;
    LoggingConfigListenerIf* configListener_ = nullptr; // listener_ when it takes control requests
    std::atomic<std::uint32_t> enabled_{1};
    std::atomic<std::uint32_t> severity_{3};
    std::wstring groupName_;
    std::wstring hostName_;
    bool hasHostName_ = false;
    std::wstring processImageName_;
    std::wstring moduleBaseName_;
    std::wstring appModulePath_;
    std::wstring libraryFileName_;
    std::wstring libraryVersion_;
    internal::ETWAppProperties properties_;
};

} // namespace ETWLogging
