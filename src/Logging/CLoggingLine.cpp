#include "Logging/CLogging.h"
#include "win/ModulePath.h"

#include "Logging/LoggingNames.h"
#include "Logging/WideFormat.h"

namespace ETWLogging {
namespace {

constexpr std::size_t kModuleWidth = 15;
constexpr std::size_t kSourceWidth = 20;
constexpr std::size_t kFunctionWidth = 40;

// Cut to `width` characters, then right-aligned in a field of that width.
std::wstring fitted(const std::wstring& text, std::size_t width)
{
    std::wstring piece = text.substr(0, width);
    piece.insert(0, width - piece.size(), L' ');
    return piece;
}

} // namespace

const wchar_t* CLogging::LevelName(std::uint32_t level)
{
    static constexpr const wchar_t* kNames[] = {L"Normal", L"Warning", L"Information",
                                                L"Error", L"Critical", L"Information"};
    return level >= 1 && level <= 6 ? kNames[level - 1] : nullptr;
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
