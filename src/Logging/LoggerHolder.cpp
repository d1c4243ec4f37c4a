#include "Logging/LoggerHolder.h"

#include "Logging/Logger.h"
#include "Logging/LoggerTestSeam.h"
#include "Logging/WideFormat.h"

#include <atomic>
#include <mutex>
#include <string>

namespace ETWLogging {
namespace {

constexpr std::uint32_t kFunctionFailed = ERROR_FUNCTION_FAILED; // 1627
constexpr std::size_t kCutThreshold = 4160;
constexpr std::size_t kCutLength = 2080;

struct LoggerIdentity {
    const wchar_t* applicationName = nullptr;
    const wchar_t* groupName = L"_no_group";
    HMODULE moduleInstance = nullptr;
    const wchar_t* hostName = L"_no_host";
    std::int32_t selector = 0;
};

LoggerIdentity g_identity;
std::atomic<LoggerHolder*> g_holder{nullptr};
std::atomic<bool> g_unloaded{false};
std::once_flag g_created;

void createHolder()
{
    auto holder = std::make_unique<LoggerHolder>();
    LoggerHolder* raw = holder.release();
    g_holder.store(raw);

    CDefaultLogBuilder& builder = CDefaultLogBuilder::instance();
    CLoggingIf* built = nullptr;
    bool ok = false;
    if (auto* extended = dynamic_cast<CLogBuilderIf_ex*>(static_cast<CLogBuilderIf*>(&builder))) {
        ok = extended->Build_ex(g_identity.applicationName, g_identity.groupName, g_identity.moduleInstance,
                                g_identity.hostName, g_identity.selector, &built, nullptr);
    }
    if (!ok) {
        built = nullptr;
        ok = builder.Build(g_identity.groupName, g_identity.moduleInstance, g_identity.hostName,
                           g_identity.selector, &built, nullptr);
    }
    if (!ok || built == nullptr)
        return;
    raw->replaceBackEnd(std::unique_ptr<CLoggingIf>(built));

    Basalt::ILoggingHandler* bridge = &CBasaltLogHandler::instance();
    if (Basalt::CLogger::RegisterHandler(bridge) == 0) {
        Basalt::ILoggingHandler* previous = raw->registeredHandler();
        raw->setRegisteredHandler(bridge);
        if (previous != nullptr && previous != bridge)
            Basalt::CLogger::UnregisterHandler(previous);
    }
}

// Tears the logger down when the library unloads; it is not created again.
struct HolderReaper {
    ~HolderReaper()
    {
        g_unloaded.store(true);
        LoggerHolder* holder = g_holder.exchange(nullptr);
        delete holder;
    }
} g_reaper;

} // namespace

LoggerHolder::~LoggerHolder()
{
    if (registeredHandler_ != nullptr)
        Basalt::CLogger::UnregisterHandler(registeredHandler_);
}

std::unique_ptr<CLoggingIf> LoggerHolder::replaceBackEnd(std::unique_ptr<CLoggingIf> backEnd)
{
    std::unique_ptr<CLoggingIf> previous = std::move(backEnd_);
    backEnd_ = std::move(backEnd);
    backEndEx_ = dynamic_cast<CLoggingIf_ex*>(backEnd_.get());
    return previous;
}

LoggerHolder* LoggerHolder::get()
{
    if (LoggerHolder* holder = g_holder.load(std::memory_order_acquire))
        return holder;
    if (g_unloaded.load())
        return nullptr;
    std::call_once(g_created, createHolder);
    return g_holder.load(std::memory_order_acquire);
}

LoggerHolder* LoggerHolder::existing()
{
    return g_holder.load(std::memory_order_acquire);
}

CBasaltLogHandler& CBasaltLogHandler::instance()
{
    static CBasaltLogHandler handler;
    return handler;
}

void CBasaltLogHandler::HandleMessage(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function,
                                      std::uint32_t line, const wchar_t* message)
{
    LoggerHolder* holder = LoggerHolder::existing();
    if (holder == nullptr)
        return;
    std::uint32_t level = LOG_LEVEL_WARNING;
    if (type == Basalt::LOG_TYPE_NONE || type == Basalt::LOG_TYPE_INFO)
        level = LOG_LEVEL_NORMAL;
    else if (type == Basalt::LOG_TYPE_ERROR)
        level = LOG_LEVEL_ERROR;

    CLoggingIf* backEnd = holder->backEnd();
    if (backEnd == nullptr || backEnd->PrepareWrite() != 0)
        return;
    if (CLoggingIf_ex* extended = holder->backEndEx())
        extended->WriteFormatted_ex(level, sourceFile, function, static_cast<std::int32_t>(line), message);
    else
        backEnd->WriteFormatted(sourceFile, function, static_cast<std::int32_t>(line), level, message);
}

namespace testing {

std::unique_ptr<CLoggingIf> replaceBackEndForTesting(std::unique_ptr<CLoggingIf> backEnd)
{
    LoggerHolder* holder = LoggerHolder::get();
    if (holder == nullptr)
        return backEnd;
    return holder->replaceBackEnd(std::move(backEnd));
}

const wchar_t* identityGroupNameForTesting()
{
    return g_identity.groupName;
}

} // namespace testing
} // namespace ETWLogging

void SetLoggerIdentity(const wchar_t* applicationName, const wchar_t* groupName, HMODULE moduleInstance,
                       const wchar_t* hostName, std::int32_t selector)
{
    using ETWLogging::g_identity;
    g_identity.applicationName = applicationName;
    g_identity.groupName = groupName;
    g_identity.moduleInstance = moduleInstance;
    g_identity.hostName = hostName;
    g_identity.selector = selector;
}

std::int32_t IsLoggingEnabled(std::uint32_t level)
{
    ETWLogging::LoggerHolder* holder = ETWLogging::LoggerHolder::get();
    if (holder == nullptr)
        return 0;
    ETWLogging::CLoggingIf* backEnd = holder->backEnd();
    return backEnd != nullptr && backEnd->IsLevelEnabled(level) ? 1 : 0;
}

std::uint32_t WriteLog(std::uint32_t level, const wchar_t* sourceFile, const wchar_t* function, std::int32_t line,
                       const wchar_t* format, ...)
{
    ETWLogging::LoggerHolder* holder = ETWLogging::LoggerHolder::get();
    if (holder == nullptr)
        return 0;
    ETWLogging::CLoggingIf* backEnd = holder->backEnd();
    if (backEnd == nullptr)
        return ETWLogging::kFunctionFailed;
    if (const std::uint32_t prepared = backEnd->PrepareWrite())
        return prepared;

    va_list args;
    va_start(args, format);
    if (ETWLogging::CLoggingIf_ex* extended = holder->backEndEx()) {
        if (extended->IsLevelEnabled(level))
            extended->LogV_ex(level, sourceFile, function, line, format, args);
        va_end(args);
        return 0;
    }
    std::wstring message = Basalt::formatWideV(format, args);
    va_end(args);
    // Very long messages are cut to half the bounded length rather than dropped.
    if (message.size() > ETWLogging::kCutThreshold)
        message.resize(ETWLogging::kCutLength);
    return backEnd->WriteFormatted(sourceFile, function, line, level, message.c_str());
}
