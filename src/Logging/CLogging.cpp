#include "Logging/CLogging.h"

#include "Logging/LoggingNames.h"
#include "Logging/ProgramData.h"
#include "Logging/WideFormat.h"
#include "win/ModulePath.h"
#include "win/MutexHold.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>

namespace ETWLogging {
namespace {

// The source line the file's opening note names; readers of old files know it.
constexpr int kOpenNoteLine = 314;
constexpr std::size_t kModuleWidth = 15;
constexpr std::size_t kSourceWidth = 20;
constexpr std::size_t kFunctionWidth = 40;
constexpr wchar_t kByteOrderMark = 0xFEFF;

// Cut to `width` characters, then right-aligned in a field of that width.
std::wstring fitted(const std::wstring& text, std::size_t width)
{
    std::wstring piece = text.substr(0, width);
    piece.insert(0, width - piece.size(), L' ');
    return piece;
}

using Orvik::win::modulePath;

// Creates the folder and every missing parent; a relative path starts at the current directory.
bool createFolderTree(const std::wstring& folder)
{
    for (std::size_t at = folder.find_first_of(L"\\/", 1); at != std::wstring::npos;
         at = folder.find_first_of(L"\\/", at + 1)) {
        const std::wstring parent = folder.substr(0, at);
        if (parent.size() > 1 && parent.back() != L':' && parent.back() != L'\\')
            ::CreateDirectoryW(parent.c_str(), nullptr);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint32_t lastErrorOr(std::uint32_t fallback)
{
    const DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

using Orvik::win::MutexHold;

} // namespace

CLogging::CLogging() : CLogging(std::wstring()) {}

CLogging::CLogging(std::wstring dataFolder) : dataFolder_(std::move(dataFolder))
{
    Reset();
}

CLogging::~CLogging()
{
    Reset();
}

void CLogging::Reset()
{
    initialised_ = false;
    groupName_.reset();
    hostName_.reset();
    processBaseName_.clear();
    moduleFileName_.clear();
    processId_ = 0;
    logFolder_.clear();
    settings_.reset();
    references_.store(0);
    writerMutex_.reset();
    maxSize_ = names::kDefaultMaxSize;
    maxEntries_ = names::kDefaultMaxEntries;
    severity_.store(names::kDefaultSeverity);
    options_ = names::kDefaultOptions;
    enabled_.store(1);
    folderState_ = FolderState::Pending;
    rotationHeld_ = false;
    rotationHeldNoted_ = false;
}

std::uint32_t CLogging::Initialize(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
                                   CLoggingListenerIf*)
{
    if (initialised_)
        return kAlreadyInitialised;
    try {
        if ((groupName != nullptr && *groupName == L'\0') || (hostName != nullptr && *hostName == L'\0')) {
            Reset();
            return ERROR_INVALID_PARAMETER;
        }
        if (groupName != nullptr)
            groupName_ = groupName;
        if (hostName != nullptr)
            hostName_ = hostName;

        const std::wstring image = modulePath(nullptr);
        std::wstring base = Orvik::win::fileNameOf(image);
        if (const std::size_t dot = base.find_last_of(L'.'); dot != std::wstring::npos)
            base.resize(dot);
        if (base.empty()) {
            Reset();
            return ERROR_OUTOFMEMORY;
        }
        processBaseName_ = base;

        writerMutex_.reset(::CreateMutexW(nullptr, FALSE, WriterMutexName(processBaseName_).c_str()));
        if (!writerMutex_) {
            const std::uint32_t error = lastErrorOr(ERROR_INVALID_HANDLE);
            Reset();
            return error;
        }
        moduleFileName_ = Orvik::win::fileNameOf(image);
        if (moduleInstance != nullptr) {
            const std::wstring own = modulePath(moduleInstance);
            if (!own.empty())
                moduleFileName_ = Orvik::win::fileNameOf(own);
        }

        std::wstring dataFolder = dataFolder_;
        if (dataFolder.empty() && internal::GetProgramDataFolder(dataFolder) != 0) {
            Reset();
            return ERROR_INVALID_PARAMETER;
        }
        const std::wstring root = dataFolder + names::kLogRootFolder;
        logFolder_ = LogFolderFor(root, groupName_ ? groupName_->c_str() : nullptr, processBaseName_);
        settings_ = std::make_unique<internal::LogFileSettings>(logFolder_ + L"\\" + names::kIniFileName,
                                                                root + names::kIniFileName);
        // The first initialisation never waits for the writer mutex: another
        // process may hold it for seconds, and the first log call of a process
        // (inside the host's NewModule) must neither stall nor go on with the
        // defaults. The settings are read in any case; invalid values are
        // repaired only when the mutex is free right now, since the files are
        // rewritten whole and another writer may be storing its index.
        const MutexHold hold(writerMutex_.get(), 0);
        const internal::LogFileValues values = settings_->read(hold.held());
        enabled_.store(values.enable != 0 ? 1 : 0);
        SetMaxSize(values.maxSize);
        SetMaxEntries(values.maxEntries);
        severity_.store(values.severity);
        options_ = values.options;
        processId_ = ::GetCurrentProcessId();
        initialised_ = true;
        return 0;
    } catch (const std::bad_alloc&) {
        Reset();
        return ERROR_OUTOFMEMORY;
    }
}

std::uint32_t CLogging::Uninitialize()
{
    if (!initialised_)
        return kNotInitialised;
    Reset();
    return 0;
}

void CLogging::SetEnabled(std::uint32_t flag)
{
    enabled_.store((flag & 0xFF) != 0 ? 1 : 0);
}

bool CLogging::IsEnabled()
{
    return enabled_.load() == 1;
}

std::uint32_t CLogging::LogFormat(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                  std::int32_t line, const wchar_t* format, ...)
{
    if (!IsEnabled() || !IsLevelEnabled(level) || format == nullptr)
        return 0;
    wchar_t message[kFormatCapacity];
    va_list args;
    va_start(args, format);
    Basalt::formatWideBounded(message, kFormatCapacity, format, args);
    va_end(args);
    return WriteFormatted(file, function, line, level, message);
}

void CLogging::SetMaxEntries(std::uint32_t entries)
{
    maxEntries_ = entries < names::kMinMaxEntries   ? names::kMinMaxEntries
                  : entries > names::kMaxMaxEntries ? names::kMaxMaxEntries
                                                    : entries;
}

void CLogging::SetMaxSize(std::uint32_t bytes)
{
    maxSize_ = bytes < names::kMinMaxSize ? names::kMinMaxSize : bytes > names::kMaxMaxSize ? names::kMaxMaxSize : bytes;
}

void CLogging::SetSeverity(std::uint32_t level)
{
    severity_.store(level == 0 ? 1 : level > 6 ? 6 : level);
}

long CLogging::AddRef()
{
    return ++references_;
}

long CLogging::Release()
{
    const long left = --references_;
    if (left == 0)
        delete this;
    return left;
}

std::uint32_t CLogging::WriteFormatted(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                       std::uint32_t level, const wchar_t* message)
{
    if (!writerMutex_)
        return ERROR_INVALID_PARAMETER;
    // A line that cannot be serialised with the other writers is dropped and
    // counted, never written in between another process's rotation.
    const MutexHold hold(writerMutex_.get(), names::kWriterMutexWaitMs);
    if (!hold.held()) {
        ++droppedLines_;
        return ERROR_TIMEOUT;
    }
    try {
        return WriteUnderMutex(file, function, line, level, message);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

bool CLogging::CheckFolder()
{
    if (folderState_ == FolderState::Pending) {
        if (createFolderTree(logFolder_)) {
            folderState_ = FolderState::Available;
        } else {
            // For good: a folder that cannot be made now will not be retried at every line.
            enabled_.store(0);
            severity_.store(10000);
            folderState_ = FolderState::Unavailable;
        }
    }
    return folderState_ == FolderState::Available;
}

std::uint32_t CLogging::WriteUnderMutex(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                        std::uint32_t level, const wchar_t* message)
{
    if (!CheckFolder())
        return ERROR_INVALID_PARAMETER;
    if (message == nullptr || *message == L'\0' || LevelName(level) == nullptr)
        return ERROR_INVALID_PARAMETER;
    Orvik::win::UniqueFile logFile;
    if (const std::uint32_t opened = OpenLogFile(logFile); opened != 0 && opened != ERROR_ALREADY_EXISTS)
        return opened;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const auto writeLine = [&](std::wstring text) -> std::uint32_t {
        if (text.empty() || text.back() != L'\n')
            text += L"\r\n";
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!::WriteFile(logFile.get(), text.data(), bytes, &written, nullptr) || written != bytes)
            return lastErrorOr(ERROR_WRITE_FAULT);
        if ((options_ & names::kOptionDebugger) != 0)
            ::OutputDebugStringW(text.c_str());
        return 0;
    };
    // Said once each time rotation stops, in the file that keeps growing.
    if (!rotationHeld_) {
        rotationHeldNoted_ = false;
    } else if (!rotationHeldNoted_) {
        rotationHeldNoted_ = true;
        const std::wstring note = L"Log rotation held back: the rotation index cannot be stored in " +
                                  settings_->folderIni() + L"; this file grows past MaxSize until it can.";
        writeLine(BuildLine(L"CLogging.cpp", L"OpenLogFile", kOpenNoteLine, 2, note.c_str(), now));
    }
    return writeLine(BuildLine(file, function, line, level, message, now));
}

std::wstring CLogging::LogFilePath(DWORD index) const
{
    return LogFilePathFor(logFolder_, processBaseName_, hostName_ ? hostName_->c_str() : nullptr, index);
}

std::wstring CLogging::LogFolderFor(const std::wstring& logRoot, const wchar_t* groupName,
                                    const std::wstring& processBaseName)
{
    return logRoot + (groupName != nullptr ? std::wstring(groupName) + L"\\" : std::wstring()) + processBaseName;
}

std::wstring CLogging::LogFilePathFor(const std::wstring& logFolder, const std::wstring& processBaseName,
                                      const wchar_t* hostName, DWORD index)
{
    wchar_t number[16] = {};
    std::swprintf(number, 16, L"%03u", static_cast<unsigned>(index));
    std::wstring path = logFolder + L"\\" + processBaseName;
    if (hostName != nullptr)
        path += L"_" + std::wstring(hostName);
    return path + number + L".log";
}

std::wstring CLogging::WriterMutexName(const std::wstring& processBaseName)
{
    return processBaseName + L"_" + names::kWriterMutexSuffix;
}

const wchar_t* CLogging::LevelName(std::uint32_t level)
{
    static constexpr const wchar_t* kNames[] = {L"Normal", L"Warning", L"Information",
                                                L"Error", L"Critical", L"Information"};
    return level >= 1 && level <= 6 ? kNames[level - 1] : nullptr;
}

std::uint32_t CLogging::OpenLogFile(Orvik::win::UniqueFile& logFile)
{
    if (logFolder_.empty() || processBaseName_.empty() || (hostName_ && hostName_->empty()) || !settings_)
        return ERROR_INVALID_PARAMETER;
    if (logFile)
        return ERROR_ALREADY_EXISTS;
    DWORD openError = 0; // also tells OPEN_ALWAYS whether the file was there
    const auto open = [&](DWORD index, DWORD disposition) {
        Orvik::win::UniqueFile opened(::CreateFileW(LogFilePath(index).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                                    FILE_ATTRIBUTE_ARCHIVE, nullptr));
        openError = ::GetLastError();
        logFile = std::move(opened);
        return static_cast<bool>(logFile);
    };
    const auto startWithMark = [&]() -> std::uint32_t {
        DWORD written = 0;
        if (!::WriteFile(logFile.get(), &kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr))
            return lastErrorOr(ERROR_WRITE_FAULT);
        return 0;
    };
    const auto create = [&](DWORD index) -> std::uint32_t {
        if (!open(index, CREATE_ALWAYS))
            return lastErrorOr(ERROR_OPEN_FAILED);
        return startWithMark();
    };
    const auto append = [&](DWORD index) -> std::uint32_t {
        if (!open(index, OPEN_ALWAYS))
            return lastErrorOr(ERROR_OPEN_FAILED);
        if (openError != ERROR_ALREADY_EXISTS)
            return startWithMark();
        LARGE_INTEGER end{};
        ::SetFilePointerEx(logFile.get(), end, nullptr, FILE_END);
        return 0;
    };
    // A rotation replaces a file, so it goes ahead only once the new index is
    // stored: otherwise the next line would read the old index, find its file
    // full and replace the new file again, losing this line. Until the index
    // can be stored the current file grows past MaxSize.
    const auto rotateTo = [&](DWORD next, DWORD current) -> std::uint32_t {
        if (settings_->writeLastLogIdx(next))
            return create(next);
        rotationHeld_ = true;
        return append(current);
    };

    rotationHeld_ = false;
    const DWORD index = settings_->readLastLogIdx();
    if (index >= maxEntries_)
        return rotateTo(0, 0);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(LogFilePath(index).c_str(), GetFileExInfoStandard, &data))
        return create(index);
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size < maxSize_) {
        if (!open(index, OPEN_EXISTING))
            return lastErrorOr(ERROR_OPEN_FAILED);
        LARGE_INTEGER end{};
        ::SetFilePointerEx(logFile.get(), end, nullptr, FILE_END);
        return 0;
    }
    return rotateTo(index + 1 < maxEntries_ ? index + 1 : 0, index);
}

std::wstring CLogging::BuildLine(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                 std::uint32_t level, const wchar_t* message, const SYSTEMTIME& time) const
{
    const wchar_t* name = LevelName(level);
    if (name == nullptr)
        return {};
    const unsigned hour12 = time.wHour % 12 == 0 ? 12 : time.wHour % 12;
    std::wstring text = Basalt::formatWide(L"%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$ -- (%s)$", time.wMonth, time.wDay,
                                           time.wYear, static_cast<unsigned short>(hour12), time.wMinute,
                                           time.wSecond, time.wHour < 12 ? L"AM" : L"PM", name);
    if ((options_ & names::kOptionModule) != 0)
        text += L" " + (moduleFileName_.empty() ? std::wstring() : L"[" + fitted(moduleFileName_, kModuleWidth) + L"]$");
    if ((options_ & names::kOptionProcessThread) != 0)
        text += L" " + Basalt::formatWide(L"[PID:%5d TID:%5d]$", static_cast<int>(processId_),
                                          static_cast<int>(::GetCurrentThreadId()));
    if ((options_ & names::kOptionSource) != 0) {
        const std::wstring source = file != nullptr ? Orvik::win::fileNameOf(file) : std::wstring();
        text += L" " + (source.empty() ? std::wstring()
                                       : Basalt::formatWide(L"[%s:%5d]$", fitted(source, kSourceWidth).c_str(), line));
    }
    if ((options_ & names::kOptionFunction) != 0) {
        const std::wstring functionName = function != nullptr ? function : L"";
        text += L" " + (functionName.empty() ? std::wstring() : L"[" + fitted(functionName, kFunctionWidth) + L"()]$");
    }
    text += L" ";
    text += message != nullptr ? message : L"";
    return text;
}

} // namespace ETWLogging
