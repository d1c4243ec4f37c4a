#include "Logging/CLogging.h"

#include "Logging/LoggingNames.h"
#include "Logging/ProgramData.h"
#include "Logging/WideFormat.h"
#include "win/LastError.h"
#include "win/ModulePath.h"
#include "win/MutexHold.h"

#include <cstdarg>
#include <new>
#include <utility>

namespace ETWLogging {

using Orvik::win::lastErrorOr;

namespace {

// The source line the file's opening note names; readers of old files know it.
constexpr int kOpenNoteLine = 314;

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

std::wstring CLogging::WriterMutexName(const std::wstring& processBaseName)
{
    return processBaseName + L"_" + names::kWriterMutexSuffix;
}

} // namespace ETWLogging
