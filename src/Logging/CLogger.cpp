#include "Logging/CLogger.h"

#include "Logging/WideFormat.h"

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <new>
#include <string>

namespace Basalt {
namespace {

constexpr wchar_t kSourceFile[] = L"Logging\\internal_logging";
constexpr wchar_t kRegisterFunction[] = L"Basalt::CLogger::RegisterHandler";
constexpr wchar_t kUnregisterFunction[] = L"Basalt::CLogger::UnregisterHandler";
constexpr std::uint32_t kInvalidParameter = ERROR_INVALID_PARAMETER; // 87
constexpr std::uint32_t kInvalidState = ERROR_INVALID_STATE;         // 5023

// The slot holds at most one handler. It changes only while the logger is
// created, at unload, and when the first core message arrives with no handler.
ILoggingHandler* g_handler = nullptr;

// The system's message text for a Win32 code, without the trailing line break.
std::wstring systemMessage(std::uint32_t code)
{
    wchar_t text[1024] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, static_cast<DWORD>(std::size(text)), nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
        message.pop_back();
    return message;
}

// Handler identities print as 32-bit hex values.
unsigned handlerId(const ILoggingHandler* handler)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handler));
}

} // namespace

CDefaultLoggingHandler& CDefaultLoggingHandler::instance()
{
    static CDefaultLoggingHandler handler;
    return handler;
}

void CDefaultLoggingHandler::HandleMessage(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function,
                                           std::uint32_t line, const wchar_t* message)
{
    const wchar_t* format = nullptr;
    switch (type) {
    case LOG_TYPE_NONE:
        return;
    case LOG_TYPE_INFO:
        format = L"%s(%d): [INFO]: [%s]: %s\n";
        break;
    case LOG_TYPE_ERROR:
        format = L"%s(%d): [ERROR]: [%s]: %s\n";
        break;
    default:
        format = L"%s(%d): [UNKNOWN]: [%s]: %s\n";
        break;
    }
    const std::wstring text = formatWide(format, sourceFile ? sourceFile : L"", static_cast<int>(line),
                                         function ? function : L"", message ? message : L"");
    OutputDebugStringW(text.c_str());
}

void CLogger::Log(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function, std::uint32_t line,
                  const wchar_t* format, ...)
{
    if (g_handler == nullptr)
        RegisterHandler(&CDefaultLoggingHandler::instance());
    ILoggingHandler* handler = g_handler;
    if (handler == nullptr)
        return;

    va_list args;
    va_start(args, format);
    const std::size_t capacity = countWideV(format, args) + 1;
    wchar_t* text = new (std::nothrow) wchar_t[capacity];
    if (text == nullptr) {
        va_end(args);
        handler->HandleMessage(LOG_TYPE_ERROR, sourceFile, function, line,
                               L"General memory-allocation failure in Basalt logger.");
        return;
    }
    formatWideBounded(text, capacity, format, args);
    va_end(args);
    handler->HandleMessage(type, sourceFile, function, line, text);
    delete[] text;
}

std::uint32_t CLogger::RegisterHandler(ILoggingHandler* handler)
{
    if (handler == nullptr) {
        Log(LOG_TYPE_ERROR, kSourceFile, kRegisterFunction, 57, L"%s: Cannot Register (NULL) handler",
            systemMessage(kInvalidParameter).c_str());
        return kInvalidParameter;
    }
    if (g_handler == nullptr || g_handler == handler || g_handler == &CDefaultLoggingHandler::instance()) {
        g_handler = handler;
        return 0;
    }
    Log(LOG_TYPE_ERROR, kSourceFile, kRegisterFunction, 67,
        L"%s: Registered Logging Handler 0x%08X cannot be replaced with 0x%08X",
        systemMessage(kInvalidState).c_str(), handlerId(g_handler), handlerId(handler));
    return kInvalidState;
}

std::uint32_t CLogger::UnregisterHandler(ILoggingHandler* handler)
{
    if (handler == nullptr) {
        Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 92, L"%s: Cannot Unregister (NULL) handler",
            systemMessage(kInvalidParameter).c_str());
        return kInvalidParameter;
    }
    if (g_handler == handler) {
        g_handler = nullptr;
        return 0;
    }
    const std::wstring reason = systemMessage(kInvalidState);
    if (g_handler == nullptr) {
        // Tell the handler that asked: put it in the slot just for this message.
        g_handler = handler;
        Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 102,
            L"%s: Request to Unregister Logging handler 0x%08X, but none are registered", reason.c_str(),
            handlerId(handler));
        g_handler = nullptr;
        return kInvalidState;
    }
    ILoggingHandler* registered = g_handler;
    constexpr wchar_t kMismatch[] =
        L"%s: Failed to Unregister Logging handler (requested handler 0x%08X != registered handler 0x%08X)";
    Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 110, kMismatch, reason.c_str(), handlerId(handler),
        handlerId(registered));
    g_handler = handler;
    Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 115, kMismatch, reason.c_str(), handlerId(handler),
        handlerId(registered));
    g_handler = registered;
    return kInvalidState;
}

ILoggingHandler* CLogger::RegisteredHandler()
{
    return g_handler;
}

} // namespace Basalt
