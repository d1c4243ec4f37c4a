#include "LogReader.h"

#include "Logging/CLogging.h"
#include "Logging/LoggingNames.h"
#include "win/MutexHold.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <utility>

namespace Orvik::tools {
namespace names = ETWLogging::names;
namespace {

constexpr int kUsageError = ERROR_INVALID_COMMAND_LINE;
// Read per hold of the writer mutex: writers wait for it at most seconds.
constexpr DWORD kPieceBytes = 1u << 20;
// Characters at the start of a file that tell one of its lives from the next.
constexpr size_t kFingerprintChars = 256;
constexpr wchar_t kByteOrderMark = 0xFEFF;

// What one look at a log file found: its size, the start of its text (after
// the byte-order mark) and the text from a given byte on.
struct FilePiece {
    ULONGLONG size = 0;
    std::wstring head;
    std::wstring text;
    bool reachedEnd = false;
};

bool readAt(HANDLE file, ULONGLONG from, DWORD bytes, std::wstring& text)
{
    std::string raw(bytes, '\0');
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(from);
    DWORD read = 0;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::ReadFile(file, raw.data(), bytes, &read, nullptr))
        return false;
    text.assign(reinterpret_cast<const wchar_t*>(raw.data()), read / sizeof(wchar_t));
    return true;
}

bool readPiece(const std::wstring& path, ULONGLONG from, FilePiece& piece)
{
    win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size))
        return false;
    piece.size = static_cast<ULONGLONG>(size.QuadPart);
    const DWORD headBytes = static_cast<DWORD>(std::min<ULONGLONG>(piece.size, (kFingerprintChars + 1) * 2));
    if (!readAt(file.get(), 0, headBytes, piece.head))
        return false;
    if (!piece.head.empty() && piece.head[0] == kByteOrderMark)
        piece.head.erase(0, 1);
    if (from >= piece.size) {
        piece.reachedEnd = true;
        return true;
    }
    const DWORD bytes = static_cast<DWORD>(std::min<ULONGLONG>(piece.size - from, kPieceBytes));
    if (!readAt(file.get(), from, bytes, piece.text))
        return false;
    piece.reachedEnd = from + bytes == piece.size;
    return true;
}

bool digits(const wchar_t* text, size_t size, size_t& at, size_t most, unsigned& value)
{
    const size_t first = at;
    value = 0;
    while (at < size && at - first < most && text[at] >= L'0' && text[at] <= L'9')
        value = value * 10 + static_cast<unsigned>(text[at++] - L'0');
    return at > first;
}

bool literal(const wchar_t* text, size_t size, size_t& at, const wchar_t* expected)
{
    const size_t length = std::wcslen(expected);
    if (size - at < length || std::wmemcmp(text + at, expected, length) != 0)
        return false;
    at += length;
    return true;
}

// A record's first line: its time and level. Lines without one continue the
// record before them (a message with line breaks in it).
bool parseHeader(const wchar_t* line, size_t size, ULONGLONG& time, DWORD& level)
{
    size_t at = 0;
    if (!parseRecordTime(line, size, time, &at) || !literal(line, size, at, L"$ -- ("))
        return false;
    const wchar_t* name = line + at;
    const wchar_t* end = std::wmemchr(name, L')', size - at);
    if (end == nullptr)
        return false;
    level = levelFromName(std::wstring(name, end), false);
    return true;
}

// Standard output: the console's own wide output when it is a console, else
// UTF-8, which keeps every character of the log whatever the code page.
bool writeStandardOutput(const std::wstring& text)
{
    std::fflush(stdout); // the tool's own messages go through the C runtime
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        for (size_t at = 0; at < text.size();) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - at, 8192));
            DWORD written = 0;
            if (!::WriteConsoleW(out, text.data() + at, chunk, &written, nullptr) || written == 0)
                return false;
            at += written;
        }
        return true;
    }
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string bytes(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), needed, nullptr,
                          nullptr);
    for (size_t at = 0; at < bytes.size();) {
        DWORD written = 0;
        if (!::WriteFile(out, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr) ||
            written == 0)
            return false;
        at += written;
    }
    return true;
}

int logUsage(const Output& say)
{
    say(L"Usage: ZuLogConfig log <group> [--process P] [--host H] [--level L] [--since \"MM/DD/YYYY hh:mm:ss AM\"]"
        L" [--follow] [--root <log root>]");
    say(L"      levels: Normal Warning Information Error Critical (the least one to print)");
    return kUsageError;
}

struct FindTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) noexcept { ::FindClose(handle); }
};
using UniqueFind = win::UniqueHandle<FindTraits>;

// The process folders under a group's folder.
std::vector<std::wstring> processFolders(const std::wstring& groupFolder)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data{};
    const UniqueFind search(::FindFirstFileW((groupFolder + L"\\*").c_str(), &data));
    if (!search)
        return found;
    do {
        const std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..")
            found.push_back(name);
    } while (::FindNextFileW(search.get(), &data));
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

bool parseRecordTime(const wchar_t* text, size_t size, ULONGLONG& key, size_t* length)
{
    size_t at = 0;
    unsigned month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, size, at, 2, month) || !literal(text, size, at, L"/") || !digits(text, size, at, 2, day) ||
        !literal(text, size, at, L"/") || !digits(text, size, at, 5, year) || !literal(text, size, at, L" ") ||
        !digits(text, size, at, 2, hour) || !literal(text, size, at, L":") || !digits(text, size, at, 2, minute) ||
        !literal(text, size, at, L":") || !digits(text, size, at, 2, second) || !literal(text, size, at, L" "))
        return false;
    const bool afternoon = literal(text, size, at, L"PM");
    if (!afternoon && !literal(text, size, at, L"AM"))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 1 || hour > 12 || minute > 59 || second > 60)
        return false;
    // 12 AM is the first hour of the day, 12 PM noon.
    const unsigned hour24 = hour % 12 + (afternoon ? 12 : 0);
    key = ((((static_cast<ULONGLONG>(year) * 100 + month) * 100 + day) * 100 + hour24) * 100 + minute) * 100 + second;
    if (length != nullptr)
        *length = at;
    return true;
}

DWORD levelFromName(const std::wstring& name, bool ignoreCase)
{
    for (DWORD level = 1; ETWLogging::CLogging::LevelName(level) != nullptr; ++level) {
        const wchar_t* known = ETWLogging::CLogging::LevelName(level);
        if (ignoreCase ? _wcsicmp(known, name.c_str()) == 0 : name == known)
            return level;
    }
    return 0;
}

LogReader::LogReader(LogQuery query, RecordSink records, Output notes)
    : query_(std::move(query)),
      records_(std::move(records)),
      notes_(std::move(notes)),
      folder_(ETWLogging::CLogging::LogFolderFor(query_.logRoot, query_.group.c_str(), query_.process)),
      settings_(folder_ + L"\\" + names::kIniFileName, query_.logRoot + names::kIniFileName),
      entries_(settings_.read(false).maxEntries)
{
}

std::wstring LogReader::filePath(DWORD index) const
{
    return ETWLogging::CLogging::LogFilePathFor(folder_, query_.process,
                                                query_.host.empty() ? nullptr : query_.host.c_str(), index);
}

HANDLE LogReader::writerMutex()
{
    // Writers may start after the reader: look again until there is one.
    if (!writers_)
        writers_.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                    ETWLogging::CLogging::WriterMutexName(query_.process).c_str()));
    return writers_.get();
}

// The files of the ring that exist, oldest first: the one after the current
// index comes next to be replaced, so it is the oldest. Files numbered beyond
// the ring stem from a larger MaxEntries before and come first.
std::vector<DWORD> LogReader::ringOrder(DWORD index) const
{
    const DWORD probed = names::kMaxMaxEntries;
    DWORD ring = entries_;
    if (index < probed && index + 1 > ring)
        ring = index + 1;
    std::vector<DWORD> order;
    for (DWORD i = ring; i < probed; ++i)
        order.push_back(i);
    if (index < ring) {
        for (DWORD k = 1; k <= ring; ++k)
            order.push_back((index + k) % ring);
    } else {
        for (DWORD i = 0; i < ring; ++i)
            order.push_back(i);
        order.push_back(index);
    }
    order.erase(std::remove_if(order.begin(), order.end(),
                               [this](DWORD i) {
                                   return ::GetFileAttributesW(filePath(i).c_str()) == INVALID_FILE_ATTRIBUTES;
                               }),
                order.end());
    return order;
}

bool LogReader::start(DWORD index)
{
    const std::vector<DWORD> order = ringOrder(index);
    if (order.empty())
        return false;
    queue_.assign(order.begin() + 1, order.end());
    beginFile(order.front());
    lastIndex_ = index;
    started_ = true;
    return true;
}

// The writers have rotated from the last index seen to `index`: the files they
// moved into were created anew. Their old text is gone, the new one comes last.
void LogReader::extendQueue(DWORD index)
{
    std::vector<DWORD> walk;
    DWORD at = lastIndex_;
    for (int attempt = 0; attempt < 2 && at != index; ++attempt) {
        if (attempt == 1)
            entries_ = settings_.read(false).maxEntries; // MaxEntries changed for newer writers
        walk.clear();
        at = lastIndex_;
        for (DWORD steps = 0; steps <= entries_ && at != index; ++steps) {
            at = at + 1 < entries_ ? at + 1 : 0;
            walk.push_back(at);
        }
    }
    if (at != index)
        walk.assign(1, index);
    lastIndex_ = index;

    for (const DWORD replaced : walk) {
        const auto pending = std::find(queue_.begin(), queue_.end(), replaced);
        if (pending != queue_.end()) {
            queue_.erase(pending);
            pendingNotes_.push_back(L"(lines of " + filePath(replaced) + L" were replaced by a rotation before they could be read)");
        }
    }
    const bool currentReplaced = std::find(walk.begin(), walk.end(), current_) != walk.end();
    if (query_.follow)
        queue_.insert(queue_.end(), walk.begin(), walk.end());
    if (currentReplaced) {
        if (!currentRead_)
            pendingNotes_.push_back(L"(the rest of " + filePath(current_) + L" was replaced by a rotation before it could be read)");
        if (queue_.empty()) {
            // Only without following: what was there has been read.
            done_ = true;
            return;
        }
        beginFile(queue_.front());
        queue_.pop_front();
    }
}

void LogReader::beginFile(DWORD index)
{
    current_ = index;
    position_ = 0;
    currentRead_ = false;
    firstLine_.clear();
    // A file starts with a whole record: its first header decides.
    printing_ = query_.minimumLevel == 0 && query_.since == 0;
}

bool LogReader::filter(const std::wstring& text, std::wstring& out)
{
    for (size_t at = 0; at < text.size();) {
        const size_t newline = text.find(L'\n', at);
        const size_t end = newline == std::wstring::npos ? text.size() : newline + 1;
        ULONGLONG time = 0;
        DWORD level = 0;
        if (parseHeader(text.data() + at, end - at, time, level))
            printing_ = (query_.since == 0 || time >= query_.since) &&
                        (query_.minimumLevel == 0 || level >= query_.minimumLevel);
        if (printing_)
            out.append(text, at, end - at);
        at = end;
    }
    if (!out.empty() && out.back() != L'\n')
        out += L"\r\n";
    return !out.empty();
}

LogReader::Step LogReader::step(std::wstring& out)
{
    if (done_)
        return Step::Idle;
    // The writers' mutex for one step when there is one; without live writers
    // there is none, and nothing moves under the reader anyway.
    const win::MutexHold hold(writerMutex(), names::kWriterMutexWaitMs);
    const DWORD index = settings_.readLastLogIdx();
    if (!started_ && !start(index))
        return Step::Idle;
    if (index != lastIndex_) {
        extendQueue(index);
        if (done_)
            return Step::Idle;
    }

    const auto advance = [this]() {
        beginFile(queue_.front());
        queue_.pop_front();
    };
    FilePiece piece;
    if (!readPiece(filePath(current_), position_, piece)) {
        if (queue_.empty())
            return Step::Idle;
        advance();
        return Step::Progress;
    }
    // The writers went round the whole ring since the last look.
    if (position_ > 0 && (piece.size < position_ || piece.head.compare(0, firstLine_.size(), firstLine_) != 0)) {
        pendingNotes_.push_back(L"(lines of " + filePath(current_) + L" were replaced by a rotation before they could be read)");
        started_ = false;
        return start(index) ? Step::Progress : Step::Idle;
    }

    const std::wstring& text = piece.text;
    const size_t begin = position_ == 0 && !text.empty() && text[0] == kByteOrderMark ? 1 : 0;
    const size_t newline = text.find_last_of(L'\n');
    size_t end = newline == std::wstring::npos || newline < begin ? begin : newline + 1;
    // A line without an end in a file no one writes any more, or longer than
    // a piece, is printed as it is rather than lost.
    if (end == begin && (!piece.reachedEnd || !queue_.empty()))
        end = text.size();
    if (end == begin) {
        if (queue_.empty())
            return Step::Idle;
        advance();
        return Step::Progress;
    }
    filter(text.substr(begin, end - begin), out);
    position_ += end * sizeof(wchar_t);
    currentRead_ = position_ >= piece.size;
    if (firstLine_.empty())
        firstLine_ = piece.head.substr(0, std::min(piece.head.size(), kFingerprintChars));
    return Step::Progress;
}

int LogReader::run()
{
    for (;;) {
        // Printed only after the step let go of the writers' mutex: a slow
        // reader of the output must never hold up the writers.
        std::wstring out;
        const Step done = step(out);
        for (const std::wstring& note : pendingNotes_)
            notes_(note);
        pendingNotes_.clear();
        if (!out.empty() && !records_(out))
            return ERROR_NO_DATA;
        if (done == Step::Progress)
            continue;
        if (!query_.follow) {
            if (!started_) {
                notes_(L"No log files in " + folder_);
                return ERROR_FILE_NOT_FOUND;
            }
            return 0;
        }
        ::Sleep(query_.pollMs);
    }
}

int runLogCommand(const std::vector<std::wstring>& arguments, const std::wstring& logRoot, const Output& say,
                  RecordSink records)
{
    LogQuery query;
    query.logRoot = logRoot;
    std::vector<std::wstring> words;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& word = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (word == L"--follow") {
            query.follow = true;
        } else if (word == L"--process" && hasValue) {
            query.process = arguments[++i];
        } else if (word == L"--host" && hasValue) {
            query.host = arguments[++i];
        } else if (word == L"--root" && hasValue) {
            query.logRoot = arguments[++i];
        } else if (word == L"--level" && hasValue) {
            query.minimumLevel = levelFromName(arguments[++i], true);
            if (query.minimumLevel == 0) {
                say(L"Unknown level \"" + arguments[i] + L"\".");
                return logUsage(say);
            }
        } else if (word == L"--since" && hasValue) {
            const std::wstring& since = arguments[++i];
            size_t length = 0;
            // The date alone means its first second.
            const std::wstring midnight = since + L" 12:00:00 AM";
            const bool full = parseRecordTime(since.c_str(), since.size(), query.since, &length) &&
                              (length == since.size() || (length + 1 == since.size() && since[length] == L'$'));
            if (!full && !(parseRecordTime(midnight.c_str(), midnight.size(), query.since, &length) &&
                           length == midnight.size())) {
                say(L"--since takes a time as the records show it, such as \"03/14/2025 01:30:00 PM\", or a date.");
                return logUsage(say);
            }
        } else if (word.rfind(L"--", 0) == 0) {
            return logUsage(say);
        } else {
            words.push_back(word);
        }
    }
    if (words.size() != 1 || words[0].empty() || query.logRoot.empty())
        return logUsage(say);
    query.group = words[0];
    if (query.logRoot.back() != L'\\' && query.logRoot.back() != L'/')
        query.logRoot += L'\\';

    if (query.process.empty()) {
        const std::wstring groupFolder = query.logRoot + query.group;
        const std::vector<std::wstring> processes = processFolders(groupFolder);
        if (processes.empty()) {
            say(L"No log folder in " + groupFolder);
            return ERROR_FILE_NOT_FOUND;
        }
        if (processes.size() > 1) {
            std::wstring list;
            for (const std::wstring& name : processes)
                list += L" " + name;
            say(L"Several processes log under " + groupFolder + L":" + list + L"; name one with --process.");
            return kUsageError;
        }
        query.process = processes.front();
    }
    if (!records)
        records = writeStandardOutput;
    LogReader reader(std::move(query), std::move(records), say);
    return reader.run();
}

} // namespace Orvik::tools
