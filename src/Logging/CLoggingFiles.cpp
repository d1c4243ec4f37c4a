#include "Logging/CLogging.h"
#include "win/LastError.h"

#include <cstdio>
#include <utility>

namespace ETWLogging {

using Orvik::win::lastErrorOr;

namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;

} // namespace

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

} // namespace ETWLogging
