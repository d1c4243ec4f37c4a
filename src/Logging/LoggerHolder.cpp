#include "Logging/LoggerHolder.h"

#include "Logging/Immortal.h"
#include "Logging/Logger.h"
#include "Logging/LoggerTestSeam.h"
#include "Logging/WideFormat.h"
#include "win/SrwLock.h"

#include <atomic>
#include <memory>
#include <string>
#include <utility>

namespace ETWLogging {
namespace internal {
std::atomic<CLoggingIf*> g_levelTestBackEnd{nullptr};
} // namespace internal

namespace {

constexpr std::uint32_t kFunctionFailed = ERROR_FUNCTION_FAILED; // 1627
constexpr std::size_t kCutThreshold = 4160;
constexpr std::size_t kCutLength = 2080;
constexpr wchar_t kDefaultGroupName[] = L"_no_group";
constexpr wchar_t kDefaultHostName[] = L"_no_host";

// An identity string that may be absent (null).
class OptionalText {
public:
    OptionalText() = default;
    explicit OptionalText(const wchar_t* text) : present_(text != nullptr), text_(text != nullptr ? text : L"") {}
    const wchar_t* get() const { return present_ ? text_.c_str() : nullptr; }

private:
    bool present_ = false;
    std::wstring text_;
};

// Copies of what SetLoggerIdentity was given: a failed creation is tried again
// later, when the caller's strings may be gone.
struct LoggerIdentity {
    OptionalText applicationName;
    OptionalText groupName{kDefaultGroupName};
    HMODULE moduleInstance = nullptr;
    OptionalText hostName{kDefaultHostName};
    std::int32_t selector = 0;
};

// Guards creation, the identity and the builder choice. A slim lock needs no
// construction or destruction, so it also works from static constructors and
// destructors of other files. Not re-entrant: see g_creatingThread.
Orvik::win::SrwLock g_lock;

// Only complete holders are ever stored here.
std::atomic<LoggerHolder*> g_holder{nullptr};
std::atomic<bool> g_unloaded{false};
// Creation attempts made so far; callers that waited out a failed one share its answer.
std::atomic<unsigned> g_attempts{0};
// One more than the tick count when the last build answered false (0: none): a builder that found no usable back end
// is asked again only after kRebuildIntervalMs, so that a machine without one
// does not pay a build (registry and file access) at every log site.
std::atomic<ULONGLONG> g_lastRefusal{0};
constexpr ULONGLONG kRebuildIntervalMs = 1000;
// The thread running the builder: if the builder or a back end it starts logs,
// that finds no logger yet instead of waiting for itself.
std::atomic<DWORD> g_creatingThread{0};
LoggerIdentity* g_identity = nullptr; // under g_lock; null: the initial identity
CLogBuilderIf* g_builder = nullptr; // under g_lock; null: the default builder

class CreatorMark {
public:
    CreatorMark() noexcept { g_creatingThread.store(GetCurrentThreadId()); }
    ~CreatorMark() { g_creatingThread.store(0); }
    CreatorMark(const CreatorMark&) = delete;
    CreatorMark& operator=(const CreatorMark&) = delete;
};

// A holder with the back end the builder chooses for this identity; null when
// none could be built.
std::unique_ptr<LoggerHolder> buildHolder(CLogBuilderIf& builder, const LoggerIdentity& identity)
{
    auto holder = std::make_unique<LoggerHolder>();
    CLoggingIf* built = nullptr;
    bool ok = false;
    if (auto* extended = dynamic_cast<CLogBuilderIf_ex*>(&builder)) {
        ok = extended->Build_ex(identity.applicationName.get(), identity.groupName.get(), identity.moduleInstance,
                                identity.hostName.get(), identity.selector, &built, nullptr);
    }
    if (!ok) {
        built = nullptr;
        ok = builder.Build(identity.groupName.get(), identity.moduleInstance, identity.hostName.get(),
                           identity.selector, &built, nullptr);
    }
    if (!ok || built == nullptr)
        return nullptr;
    holder->replaceBackEnd(std::unique_ptr<CLoggingIf>(built));
    return holder;
}

// Makes a complete holder the process's logger and points the core library's
// messages at it. Called under g_lock.
LoggerHolder* publish(std::unique_ptr<LoggerHolder> holder) noexcept
{
    LoggerHolder* raw = holder.release();
    g_holder.store(raw, std::memory_order_release);
    internal::g_levelTestBackEnd.store(raw->backEnd(), std::memory_order_release);
    Basalt::ILoggingHandler* bridge = &CBasaltLogHandler::instance();
    if (Basalt::CLogger::RegisterHandler(bridge) == 0)
        raw->setRegisteredHandler(bridge);
    return raw;
}

// The slow path of the first use: one caller builds, the others wait for it.
[[gnu::noinline]] LoggerHolder* createOrWait() noexcept
{
    if (g_creatingThread.load() == GetCurrentThreadId())
        return nullptr;
    const ULONGLONG refused = g_lastRefusal.load(std::memory_order_relaxed);
    if (refused != 0 && ::GetTickCount64() + 1 - refused < kRebuildIntervalMs)
        return nullptr;
    const unsigned attemptsBefore = g_attempts.load();
    const Orvik::win::ExclusiveGuard lock(g_lock);
    if (LoggerHolder* holder = g_holder.load(std::memory_order_acquire))
        return holder;
    // An attempt failed while this caller waited: take its answer rather than
    // queueing one more build per waiting thread behind a failing builder.
    if (g_unloaded.load() || g_attempts.load() != attemptsBefore)
        return nullptr;
    g_attempts.fetch_add(1);
    // Declared before the holder so that a half-built one is destroyed while
    // this thread is still marked (its back end may log on the way out).
    const CreatorMark mark;
    try {
        const LoggerIdentity initial;
        const LoggerIdentity& identity = g_identity != nullptr ? *g_identity : initial;
        CLogBuilderIf& builder = g_builder != nullptr ? *g_builder : CDefaultLogBuilder::instance();
        if (std::unique_ptr<LoggerHolder> holder = buildHolder(builder, identity)) {
            g_lastRefusal.store(0);
            return publish(std::move(holder));
        }
        g_lastRefusal.store(::GetTickCount64() + 1); // never 0
    } catch (...) {
        // Counts as a failed attempt: the next call tries again.
        internal::reportLoggerFault(L"UpdateModule: the logger could not be created\n");
    }
    return nullptr;
}

// Tears the logger down when the library unloads; it is not created again.
struct HolderReaper {
    ~HolderReaper()
    {
        std::unique_ptr<LoggerHolder> holder;
        std::unique_ptr<LoggerIdentity> identity;
        {
            const Orvik::win::ExclusiveGuard lock(g_lock);
            g_unloaded.store(true);
            internal::g_levelTestBackEnd.store(nullptr);
            holder.reset(g_holder.exchange(nullptr));
            identity.reset(std::exchange(g_identity, nullptr));
        }
        // Destroyed outside the lock: a back end may log while it shuts down.
    }
} g_reaper;

// Formats and writes one record; may throw (formatting, back end).
std::uint32_t writeRecord(LoggerHolder& holder, CLoggingIf& backEnd, std::uint32_t level, const wchar_t* sourceFile,
                          const wchar_t* function, std::int32_t line, const wchar_t* format, va_list args)
{
    if (const std::uint32_t prepared = backEnd.PrepareWrite())
        return prepared;
    if (CLoggingIf_ex* extended = holder.backEndEx()) {
        if (extended->IsLevelEnabled(level))
            extended->LogV_ex(level, sourceFile, function, line, format, args);
        return 0;
    }
    std::wstring message = Basalt::formatWideV(format, args);
    // Very long messages are cut to half the bounded length rather than dropped.
    if (message.size() > kCutThreshold)
        message.resize(kCutLength);
    return backEnd.WriteFormatted(sourceFile, function, line, level, message.c_str());
}

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
    if (g_holder.load(std::memory_order_acquire) == this)
        internal::g_levelTestBackEnd.store(backEnd_.get(), std::memory_order_release);
    return previous;
}

LoggerHolder* LoggerHolder::get() noexcept
{
    if (LoggerHolder* holder = g_holder.load(std::memory_order_acquire))
        return holder;
    return createOrWait();
}

LoggerHolder* LoggerHolder::existing() noexcept
{
    return g_holder.load(std::memory_order_acquire);
}

CBasaltLogHandler& CBasaltLogHandler::instance()
{
    return Basalt::internal::immortal<CBasaltLogHandler>();
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

void useLogBuilder(CLogBuilderIf* builder)
{
    std::unique_ptr<LoggerHolder> holder;
    {
        const Orvik::win::ExclusiveGuard lock(g_lock);
        internal::g_levelTestBackEnd.store(nullptr);
        holder.reset(g_holder.exchange(nullptr));
        g_builder = builder;
        g_lastRefusal.store(0);
    }
}

namespace testing {

std::unique_ptr<CLoggingIf> replaceBackEndForTesting(std::unique_ptr<CLoggingIf> backEnd)
{
    if (LoggerHolder* holder = LoggerHolder::get())
        return holder->replaceBackEnd(std::move(backEnd));
    // No back end could be built: the test's one gets a holder of its own.
    const Orvik::win::ExclusiveGuard lock(g_lock);
    if (g_unloaded.load())
        return backEnd;
    if (LoggerHolder* holder = g_holder.load(std::memory_order_acquire))
        return holder->replaceBackEnd(std::move(backEnd));
    auto holder = std::make_unique<LoggerHolder>();
    holder->replaceBackEnd(std::move(backEnd));
    publish(std::move(holder));
    return nullptr;
}

const wchar_t* identityGroupNameForTesting()
{
    const Orvik::win::ExclusiveGuard lock(g_lock);
    return g_identity != nullptr ? g_identity->groupName.get() : kDefaultGroupName;
}

void resetLoggerForTesting(CLogBuilderIf* builder)
{
    useLogBuilder(builder);
}

} // namespace testing
} // namespace ETWLogging

void SetLoggerIdentity(const wchar_t* applicationName, const wchar_t* groupName, HMODULE moduleInstance,
                       const wchar_t* hostName, std::int32_t selector) noexcept
{
    using namespace ETWLogging;
    std::unique_ptr<LoggerIdentity> next;
    try {
        next = std::make_unique<LoggerIdentity>();
        next->applicationName = OptionalText(applicationName);
        next->groupName = OptionalText(groupName);
        next->moduleInstance = moduleInstance;
        next->hostName = OptionalText(hostName);
        next->selector = selector;
    } catch (...) {
        // Out of memory: the logger keeps the identity it had.
        internal::reportLoggerFault(L"UpdateModule: the logger identity could not be stored\n");
        return;
    }
    {
        const Orvik::win::ExclusiveGuard lock(g_lock);
        next.reset(std::exchange(g_identity, next.release()));
    }
}

std::int32_t ETWLogging::internal::isLoggingEnabledSlow(std::uint32_t level) noexcept
{
    ETWLogging::LoggerHolder* holder = ETWLogging::LoggerHolder::get();
    if (holder == nullptr)
        return 0;
    ETWLogging::CLoggingIf* backEnd = holder->backEnd();
    if (backEnd == nullptr)
        return 0;
    try {
        return backEnd->IsLevelEnabled(level) ? 1 : 0;
    } catch (...) {
        // A back end that cannot answer gets nothing to write.
        internal::reportLoggerFault(L"UpdateModule: the log back end failed its level test\n");
        return 0;
    }
}

namespace {

std::uint32_t writeLogV(std::uint32_t level, const wchar_t* sourceFile, const wchar_t* function, std::int32_t line,
                        const wchar_t* format, va_list args) noexcept
{
    using namespace ETWLogging;
    LoggerHolder* holder = LoggerHolder::get();
    if (holder == nullptr)
        return g_unloaded.load() ? 0 : kFunctionFailed;
    CLoggingIf* backEnd = holder->backEnd();
    if (backEnd == nullptr)
        return kFunctionFailed;
    try {
        return writeRecord(*holder, *backEnd, level, sourceFile, function, line, format, args);
    } catch (...) {
        // The record is dropped; the caller, perhaps a destructor, carries on.
        // Only the debugger can still be told.
        ::OutputDebugStringW(L"UpdateModule: a log record was dropped\n");
        return kFunctionFailed;
    }
}

} // namespace

std::uint32_t WriteLog(std::uint32_t level, const wchar_t* sourceFile, const wchar_t* function, std::int32_t line,
                       const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    const std::uint32_t result = writeLogV(level, sourceFile, function, line, format, args);
    va_end(args);
    return result;
}

namespace Orvik {
namespace logging {

const wchar_t* LogFunction::text(wchar_t (&buffer)[kCapacity]) const noexcept
{
    if (member_ == nullptr)
        return whole_ != nullptr ? whole_ : (scope_ != nullptr ? scope_ : L"");
    // Identifiers are ASCII: each char widens to itself.
    std::size_t used = 0;
    const auto append = [&](auto character) {
        if (used + 1 < kCapacity)
            buffer[used++] = static_cast<wchar_t>(static_cast<unsigned char>(character));
    };
    if (scope_ != nullptr && *scope_ != L'\0') {
        for (const wchar_t* c = scope_; *c != L'\0'; ++c) {
            if (used + 1 < kCapacity)
                buffer[used++] = *c;
        }
        append(':');
        append(':');
    }
    for (const char* c = member_; *c != '\0'; ++c)
        append(*c);
    buffer[used] = L'\0';
    return buffer;
}

namespace detail {

std::uint32_t writeAt(std::uint32_t level, const LogSite& site, const wchar_t* format, ...) noexcept
{
    wchar_t name[LogFunction::kCapacity];
    const wchar_t* function = site.function.text(name);
    va_list args;
    va_start(args, format);
    const std::uint32_t result = writeLogV(level, site.file, function, site.line, format, args);
    va_end(args);
    return result;
}

} // namespace detail
} // namespace logging
} // namespace Orvik
