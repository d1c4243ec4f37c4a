#include "Logging/CLogger.h"

#include "Logging/Immortal.h"
#include "Logging/WideFormat.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>

namespace Basalt {
namespace {

constexpr wchar_t kSourceFile[] = L"Logging\\internal_logging";
constexpr wchar_t kRegisterFunction[] = L"Basalt::CLogger::RegisterHandler";
constexpr wchar_t kUnregisterFunction[] = L"Basalt::CLogger::UnregisterHandler";
constexpr std::uint32_t kInvalidParameter = ERROR_INVALID_PARAMETER; // 87
constexpr std::uint32_t kInvalidState = ERROR_INVALID_STATE;         // 5023

// The slot holds at most one handler. It changes only while the logger is
// created, at unload, and when the first core message arrives with no handler;
// it is atomic because those may happen on different threads at once.
std::atomic<ILoggingHandler*> g_handler{nullptr};

// The system's message text for a Win32 code, without the trailing line break.
// A fixed buffer, so that reporting a handler fault cannot fail on memory.
struct SystemText {
    wchar_t text[1024];
};

SystemText systemMessage(std::uint32_t code) noexcept
{
    SystemText message{};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  message.text, static_cast<DWORD>(std::size(message.text)), nullptr);
    if (length >= std::size(message.text))
        length = static_cast<DWORD>(std::size(message.text) - 1);
    while (length > 0 && (message.text[length - 1] == L'\n' || message.text[length - 1] == L'\r'))
        --length;
    message.text[length] = L'\0';
    return message;
}

// Handler identities print as 32-bit hex values.
unsigned handlerId(const ILoggingHandler* handler)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handler));
}

void deliver(ILoggingHandler& handler, std::int32_t type, const wchar_t* sourceFile, const wchar_t* function,
             std::uint32_t line, const wchar_t* format, va_list args)
{
    const std::size_t capacity = countWideV(format, args) + 1;
    const std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[capacity]);
    if (!text) {
        handler.HandleMessage(LOG_TYPE_ERROR, sourceFile, function, line,
                              L"General memory-allocation failure in Basalt logger.");
        return;
    }
    formatWideBounded(text.get(), capacity, format, args);
    handler.HandleMessage(type, sourceFile, function, line, text.get());
}

} // namespace

CDefaultLoggingHandler& CDefaultLoggingHandler::instance()
{
    return internal::immortal<CDefaultLoggingHandler>();
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
                  const wchar_t* format, ...) noexcept
{
    ILoggingHandler* handler = g_handler.load(std::memory_order_acquire);
    if (handler == nullptr) {
        RegisterHandler(&CDefaultLoggingHandler::instance());
        handler = g_handler.load(std::memory_order_acquire);
        if (handler == nullptr)
            return;
    }
    va_list args;
    va_start(args, format);
    try {
        deliver(*handler, type, sourceFile, function, line, format, args);
    } catch (...) {
        // The record is lost; the caller, perhaps a destructor, carries on.
        ::OutputDebugStringW(L"Basalt logger: a record was dropped\n");
    }
    va_end(args);
}

std::uint32_t CLogger::RegisterHandler(ILoggingHandler* handler) noexcept
{
    if (handler == nullptr) {
        Log(LOG_TYPE_ERROR, kSourceFile, kRegisterFunction, 57, L"%s: Cannot Register (NULL) handler",
            systemMessage(kInvalidParameter).text);
        return kInvalidParameter;
    }
    ILoggingHandler* const defaultHandler = &CDefaultLoggingHandler::instance();
    ILoggingHandler* current = g_handler.load(std::memory_order_acquire);
    // Only an empty slot, the same handler or the default one may be replaced;
    // the exchange keeps a handler registered meanwhile by another thread.
    while (current == nullptr || current == handler || current == defaultHandler) {
        if (g_handler.compare_exchange_weak(current, handler, std::memory_order_acq_rel))
            return 0;
    }
    Log(LOG_TYPE_ERROR, kSourceFile, kRegisterFunction, 67,
        L"%s: Registered Logging Handler 0x%08X cannot be replaced with 0x%08X", systemMessage(kInvalidState).text,
        handlerId(current), handlerId(handler));
    return kInvalidState;
}

std::uint32_t CLogger::UnregisterHandler(ILoggingHandler* handler) noexcept
{
    if (handler == nullptr) {
        Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 92, L"%s: Cannot Unregister (NULL) handler",
            systemMessage(kInvalidParameter).text);
        return kInvalidParameter;
    }
    ILoggingHandler* registered = handler;
    if (g_handler.compare_exchange_strong(registered, nullptr, std::memory_order_acq_rel))
        return 0;
    const SystemText reason = systemMessage(kInvalidState);
    if (registered == nullptr) {
        // Tell the handler that asked: put it in the slot just for this message.
        g_handler.store(handler, std::memory_order_release);
        Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 102,
            L"%s: Request to Unregister Logging handler 0x%08X, but none are registered", reason.text,
            handlerId(handler));
        g_handler.store(nullptr, std::memory_order_release);
        return kInvalidState;
    }
    constexpr wchar_t kMismatch[] =
        L"%s: Failed to Unregister Logging handler (requested handler 0x%08X != registered handler 0x%08X)";
    Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 110, kMismatch, reason.text, handlerId(handler),
        handlerId(registered));
    g_handler.store(handler, std::memory_order_release);
    Log(LOG_TYPE_ERROR, kSourceFile, kUnregisterFunction, 115, kMismatch, reason.text, handlerId(handler),
        handlerId(registered));
    g_handler.store(registered, std::memory_order_release);
    return kInvalidState;
}

ILoggingHandler* CLogger::RegisteredHandler() noexcept
{
    return g_handler.load(std::memory_order_acquire);
}

} // namespace Basalt
