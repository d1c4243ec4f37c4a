#include "Logging/CETWLogging.h"
#include "win/ModulePath.h"

#include "Logging/Immortal.h"
#include "Logging/LoggingNames.h"
#include "Logging/WideFormat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace ETWLogging {
namespace {

constexpr std::uint32_t kTypeInteger = 2;
constexpr std::uint32_t kTypeText = 4;
constexpr std::uint32_t kTypeLine = 5;
constexpr std::size_t kGrowthSlack = 50;
constexpr ULONG kTracedGuidByPointer = 0x00120000; // WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR

// Appends with the record's growth rule: when full, grow by what is needed plus 50 bytes.
void append(std::vector<std::uint8_t>& record, const void* data, std::size_t size)
{
    if (record.size() + size > record.capacity())
        record.reserve(record.capacity() + size + kGrowthSlack);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    record.insert(record.end(), bytes, bytes + size);
}

void appendItemHeader(std::vector<std::uint8_t>& record, std::uint32_t tag, std::uint32_t type, std::uint16_t length)
{
    std::uint8_t header[10];
    std::memcpy(header, &tag, 4);
    std::memcpy(header + 4, &type, 4);
    std::memcpy(header + 8, &length, 2);
    append(record, header, sizeof(header));
}

void appendInteger(std::vector<std::uint8_t>& record, std::uint32_t tag, std::uint32_t type, std::uint32_t value)
{
    appendItemHeader(record, tag, type, 4);
    append(record, &value, 4);
}

void appendText(std::vector<std::uint8_t>& record, std::uint32_t tag, const wchar_t* text, std::size_t chars)
{
    // An item's length is 16 bits: longer texts are cut to what fits.
    const std::size_t fitting = chars > 0x7FFF ? 0x7FFF : chars;
    appendItemHeader(record, tag, kTypeText, static_cast<std::uint16_t>(fitting * sizeof(wchar_t)));
    append(record, text, fitting * sizeof(wchar_t));
}

void appendText(std::vector<std::uint8_t>& record, std::uint32_t tag, const wchar_t* text)
{
    appendText(record, tag, text != nullptr ? text : L"", text != nullptr ? std::wcslen(text) : 0);
}

std::wstring readFileVersion(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<std::uint8_t> data(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return {};
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                          &length) ||
        length < sizeof(Translation))
        return {};
    wchar_t query[64];
    std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language,
                  translation->codePage);
    wchar_t* text = nullptr;
    if (!::VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&text), &length) || text == nullptr)
        return {};
    std::wstring version(text);
    unsigned parts[4] = {};
    if (std::swscanf(version.c_str(), L"%u,%u,%u,%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4)
        version = Basalt::formatWide(L"%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return version;
}

} // namespace

const LibraryVersionInfo& LibraryVersionInfo::instance()
{
    static const LibraryVersionInfo info = [] {
        LibraryVersionInfo made;
        HMODULE self = nullptr;
        if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(&LibraryVersionInfo::instance), &self)) {
            made.path = Orvik::win::modulePath(self);
            if (!made.path.empty()) {
                made.fileName = Orvik::win::fileNameOf(made.path);
                made.version = readFileVersion(made.path);
            }
        }
        return made;
    }();
    return info;
}

CETWLogging::CETWLogging(TracePlatform* platform) : platform_(platform != nullptr ? *platform : systemTracePlatform())
{
}

CETWLogging::~CETWLogging()
{
    Uninitialize();
    listener_.reset();
}

std::wstring CETWLogging::GetModuleName(HMODULE module, bool stripExtension)
{
    std::wstring name = Orvik::win::moduleFileName(module);
    if (stripExtension) {
        if (const std::size_t dot = name.find_last_of(L'.'); dot != std::wstring::npos)
            name.resize(dot);
    }
    return name;
}

std::uint32_t CETWLogging::Initialize(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
                                      CLoggingListenerIf* listener)
{
    return Initialize_ex(nullptr, groupName, moduleInstance, hostName, listener);
}

std::uint32_t CETWLogging::Initialize_ex(const wchar_t* applicationName, const wchar_t* groupName,
                                         HMODULE moduleInstance, const wchar_t* hostName,
                                         CLoggingListenerIf* listener)
{
    if (registered_.load())
        return kAlreadyInitialised;
    if ((groupName != nullptr && *groupName == L'\0') || (hostName != nullptr && *hostName == L'\0'))
        return ERROR_INVALID_PARAMETER;
    try {
        groupName_ = groupName != nullptr ? groupName : L"";
        hasHostName_ = hostName != nullptr;
        hostName_ = hostName != nullptr ? hostName : L"";
        internal::ETWAppProperties properties;
        if (!properties.Load(applicationName))
            return ERROR_INVALID_PARAMETER;
        properties_ = properties;
        processImageName_ = GetModuleName(nullptr, false);
        moduleBaseName_ = GetModuleName(moduleInstance, true);
        appModulePath_ = groupName_ + (moduleBaseName_.empty() ? std::wstring() : L"\\" + moduleBaseName_);

        configListener_ = nullptr;
        listener_.reset();
        if (listener != nullptr)
            listener_.reset(listener);
        else
            listener_ = std::make_unique<CETWConfigurationListener>(properties_, this);
        configListener_ = dynamic_cast<LoggingConfigListenerIf*>(listener_.get());
        if (configListener_ != nullptr)
            configListener_->OnControl(1, 3, 0);

        processId_ = ::GetCurrentProcessId();
        const LibraryVersionInfo& library = LibraryVersionInfo::instance();
        libraryFileName_ = library.fileName;
        libraryVersion_ = library.version;
        eventClassGuid_ = names::kEventClassGuid;
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

std::uint32_t CETWLogging::PrepareWrite()
{
    if (registered_.load(std::memory_order_acquire))
        return 0;
    const Orvik::win::ExclusiveGuard guard(registrationLock_);
    if (registered_.load())
        return 0;
    TRACEHANDLE registration = 0;
    const ULONG result = platform_.RegisterTraceGuids(&CETWLogging::ControlCallback, this, properties_.providerGuid,
                                                      eventClassGuid_, &registration);
    if (registration_ != 0)
        platform_.UnregisterTraceGuids(registration_);
    registration_ = result == ERROR_SUCCESS ? registration : 0;
    // Registration is tried once: a failure is reported by this first write only.
    registered_.store(true, std::memory_order_release);
    return result;
}

ULONG WINAPI CETWLogging::ControlCallback(WMIDPREQUESTCODE requestCode, void* context, ULONG*, void* buffer)
{
    auto* self = static_cast<CETWLogging*>(context);
    return self != nullptr ? self->OnTraceControl(requestCode, buffer) : ERROR_INVALID_PARAMETER;
}

ULONG CETWLogging::OnTraceControl(WMIDPREQUESTCODE requestCode, void* buffer)
{
    if (requestCode == WMI_ENABLE_EVENTS) {
        const TRACEHANDLE handle = platform_.GetTraceLoggerHandle(buffer);
        if (handle == kInvalidTraceHandle)
            return ::GetLastError();
        TRACEHANDLE expected = 0;
        // One session at a time: another session's request is ignored.
        if (!session_.compare_exchange_strong(expected, handle) && expected != handle)
            return 0;
        if (configListener_ != nullptr) {
            const UCHAR level = platform_.GetTraceEnableLevel(handle);
            if (level == 0)
                return ::GetLastError();
            configListener_->OnControl(1, level, platform_.GetTraceEnableFlags(handle));
        }
        return 0;
    }
    if (requestCode == WMI_DISABLE_EVENTS) {
        const TRACEHANDLE handle = platform_.GetTraceLoggerHandle(buffer);
        // A session that is not the attached one cannot turn the attached one's logging off.
        const TRACEHANDLE attached = session_.load();
        if (attached != 0 && handle != attached)
            return 0;
        if (configListener_ != nullptr)
            configListener_->OnControl(0, static_cast<UCHAR>(severity_.load()), 0);
        TRACEHANDLE expected = handle;
        session_.compare_exchange_strong(expected, 0);
        return 0;
    }
    return ERROR_INVALID_PARAMETER;
}

std::uint32_t CETWLogging::UnregisterProvider()
{
    const Orvik::win::ExclusiveGuard guard(registrationLock_);
    if (registration_ == 0) {
        registered_.store(false);
        return 0;
    }
    const ULONG result = platform_.UnregisterTraceGuids(registration_);
    registration_ = 0;
    registered_.store(false);
    return result;
}

std::uint32_t CETWLogging::Shutdown()
{
    SetEnabled(0);
    return UnregisterProvider();
}

std::uint32_t CETWLogging::Uninitialize()
{
    if (registered_.load())
        Shutdown();
    return 0;
}

std::uint32_t CETWLogging::LogFormat(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                     std::int32_t line, const wchar_t* format, ...)
{
    if (!IsEnabled() || !IsLevelEnabled(level) || format == nullptr || *format == L'\0')
        return 0;
    va_list args;
    va_start(args, format);
    std::wstring message;
    try {
        message = Basalt::formatWideV(format, args);
    } catch (const std::bad_alloc&) {
        va_end(args);
        return ERROR_OUTOFMEMORY;
    }
    va_end(args);
    return WriteFormatted_ex(level, file, function, line, message.c_str());
}

std::uint32_t CETWLogging::WriteFormatted(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                          std::uint32_t level, const wchar_t* message)
{
    WriteFormatted_ex(level, file, function, line, message);
    return 0;
}

std::uint32_t CETWLogging::WriteFormatted_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                             std::int32_t line, const wchar_t* message)
{
    return LogFormat_ex(level, file, function, line, L"%s", message != nullptr ? message : L"");
}

std::uint32_t CETWLogging::LogFormat_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                        std::int32_t line, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::uint32_t result = LogV_ex(level, file, function, line, format, args);
    va_end(args);
    return result;
}

void CETWLogging::FillRecord(const wchar_t* file, const wchar_t* function, std::int32_t line,
                             std::vector<std::uint8_t>& record) const
{
    appendInteger(record, kTagProcessId, kTypeInteger, processId_);
    appendInteger(record, kTagThreadId, kTypeInteger, ::GetCurrentThreadId());
    appendText(record, kTagProcessImage, processImageName_.c_str(), processImageName_.size());
    appendText(record, kTagSourceFile, file);
    appendInteger(record, kTagSourceLine, kTypeLine, static_cast<std::uint32_t>(line));
    appendText(record, kTagFunction, function);
    appendText(record, kTagLibraryFile, libraryFileName_.c_str(), libraryFileName_.size());
    appendText(record, kTagLibraryVersion, libraryVersion_.c_str(), libraryVersion_.size());
    appendText(record, kTagGroup, groupName_.c_str(), groupName_.size());
}

void CETWLogging::BuildRecord(const wchar_t* file, const wchar_t* function, std::int32_t line,
                              const wchar_t* message, std::vector<std::uint8_t>& record) const
{
    record.clear();
    FillRecord(file, function, line, record);
    appendText(record, kTagMessage, message);
}

std::uint32_t CETWLogging::LogV_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                   std::int32_t line, const wchar_t* format, va_list args)
{
    if (format == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!IsEnabled() || !IsLevelEnabled(level))
        return 0;
    wchar_t message[kMessageCapacity];
    Basalt::formatWideBounded(message, kMessageCapacity, format, args);
    // Each writer builds its own record: writes take no lock. (Not a
    // thread_local buffer: the host unloads this library while the bus's
    // threads live on, and they would run its destructor after the unload.)
    std::vector<std::uint8_t> record;
    record.reserve(512);
    try {
        BuildRecord(file, function, line, message, record);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    TraceEventHeader event{};
    event.header.Size = sizeof(TraceEventHeader);
    event.header.Class.Type = 1;
    const UCHAR mapped = MapLevel(level);
    event.header.Class.Level = mapped >= 1 && mapped <= 5 ? mapped : 3;
    event.header.Class.Version = 1;
    event.header.Guid = eventClassGuid_;
    event.header.Flags = kTracedGuidByPointer;
    event.data.DataPtr = reinterpret_cast<ULONG64>(record.data());
    event.data.Length = static_cast<ULONG>(record.size());
    platform_.TraceEvent(session_.load(), &event.header);
    return 0;
}

} // namespace ETWLogging
