#pragma once
// Reads the file back end's logs of one group and process in the order they
// were written: across the numbered files of the rotation ring, oldest first,
// and, when following, on across later rotations. The ring's current file is
// known only from the scrambled rotation index of the folder log.ini, so the
// reader asks the logging module's own readers for it.
//
// The reader never writes: not to the log files, not to log.ini. While writers
// are alive it holds their writer mutex only for the moments it reads the index
// and one piece of one file, so that it never sees a rotation half done.

#include "LogConfigTool.h"

#include "Logging/LogFileSettings.h"
#include "win/UniqueHandle.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Orvik::tools {

// Receives the text of whole records, line ends included; false stops the
// reading (a closed pipe, say).
using RecordSink = std::function<bool(const std::wstring& text)>;

struct LogQuery {
    std::wstring logRoot; // ends with a backslash
    std::wstring group;
    std::wstring process;  // process base name
    std::wstring host;     // empty: files without a host suffix
    DWORD minimumLevel = 0; // 0: every level
    ULONGLONG since = 0;    // 0: from the start; else a record time key (below)
    bool follow = false;
    DWORD pollMs = 250;
};

// A record's time "MM/DD/YYYY hh:mm:ss AM" as a number that sorts like the
// time (YYYYMMDDHHMMSS on a 24-hour clock). `length` receives the characters
// read. False when the text does not start with such a time.
bool parseRecordTime(const wchar_t* text, size_t size, ULONGLONG& key, size_t* length = nullptr);
// The level a record's level name stands for (the lowest of equal names); 0 for none.
DWORD levelFromName(const std::wstring& name, bool ignoreCase);

class LogReader {
public:
    LogReader(LogQuery query, RecordSink records, Output notes);
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // Prints every record there is, oldest first; with `follow`, goes on
    // printing new ones until the sink refuses. 0, ERROR_FILE_NOT_FOUND when
    // there are no log files (and not following), or the sink's stop as
    // ERROR_NO_DATA.
    int run();

    const std::wstring& logFolder() const { return folder_; }

private:
    enum class Step { Idle, Progress };

    // One look under the writers' mutex; what is to be printed comes back in `out`.
    Step step(std::wstring& out);
    bool start(DWORD index);
    void extendQueue(DWORD index);
    std::vector<DWORD> ringOrder(DWORD index) const;
    std::wstring filePath(DWORD index) const;
    bool filter(const std::wstring& text, std::wstring& out);
    HANDLE writerMutex();

    LogQuery query_;
    RecordSink records_;
    Output notes_;
    std::wstring folder_;
    ETWLogging::internal::LogFileSettings settings_;
    DWORD entries_;
    win::UniqueMutex writers_;

    // Where the reader stands: the file being read, the bytes of it already
    // read, its first line (to notice the file being created anew), the files
    // still to read after it, and the newest rotation index taken into account.
    bool started_ = false;
    bool done_ = false;
    DWORD current_ = 0;
    ULONGLONG position_ = 0;
    bool currentRead_ = false; // up to its end at the last look
    std::wstring firstLine_;
    std::deque<DWORD> queue_;
    DWORD lastIndex_ = 0;
    // Whether the record whose continuation lines come next is printed.
    bool printing_ = true;
    std::vector<std::wstring> pendingNotes_;
};

// The "log" command of ZuLogConfig: parses its arguments (those after "log"),
// reports usage errors through `say` and prints the records to `records`, or
// to standard output when no sink is given.
int runLogCommand(const std::vector<std::wstring>& arguments, const std::wstring& logRoot, const Output& say,
                  RecordSink records = {});

} // namespace Orvik::tools
