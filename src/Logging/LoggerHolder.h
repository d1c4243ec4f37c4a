#pragma once
// The one process-wide logger: owns the back end and the bridge handler
// registration. Created on the first front-end call, destroyed at unload.
// It is published only once its back end is in place. A creation that throws
// is tried again by the next front-end call; one whose builder finds no back
// end, by the first call a second later.

#include "Logging/CLogger.h"
#include "Logging/LoggingIf.h"

#include <memory>

namespace ETWLogging {

class LoggerHolder {
public:
    LoggerHolder() = default;
    ~LoggerHolder();
    LoggerHolder(const LoggerHolder&) = delete;
    LoggerHolder& operator=(const LoggerHolder&) = delete;

    CLoggingIf* backEnd() const { return backEnd_.get(); }
    // The extended interface of the back end, or null when it has none.
    CLoggingIf_ex* backEndEx() const { return backEndEx_; }

    // Takes ownership; returns the back end it replaces.
    std::unique_ptr<CLoggingIf> replaceBackEnd(std::unique_ptr<CLoggingIf> backEnd);

    Basalt::ILoggingHandler* registeredHandler() const { return registeredHandler_; }
    void setRegisteredHandler(Basalt::ILoggingHandler* handler) { registeredHandler_ = handler; }

    // The process's holder, created on first use; null when no back end could
    // be built (yet) and once the library is unloading.
    static LoggerHolder* get() noexcept;
    // The holder if it has been created, without creating it.
    static LoggerHolder* existing() noexcept;

private:
    std::unique_ptr<CLoggingIf> backEnd_;
    CLoggingIf_ex* backEndEx_ = nullptr;
    Basalt::ILoggingHandler* registeredHandler_ = nullptr;
};

// Builds the process's logger through `builder` from the next front-end call
// on (null: the default builder, which follows the machine's configuration).
// For programs that run the module's code but must not write to the machine's
// logs; call it before any thread logs. The builder must outlive the logger.
void useLogBuilder(CLogBuilderIf* builder);

// Carries core-library messages to the module's back end.
class CBasaltLogHandler : public Basalt::ILoggingHandler {
public:
    static CBasaltLogHandler& instance();
    void HandleMessage(std::int32_t type, const wchar_t* sourceFile, const wchar_t* function,
                       std::uint32_t line, const wchar_t* message) override;
};

} // namespace ETWLogging
