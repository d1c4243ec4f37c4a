#pragma once
// The future answer of a request.

#include "message/MessageBus.h"

#include <chrono>
#include <cstdint>

namespace Orvik {

// Reply status values: one way forward, pending then one of the three outcomes.
constexpr std::int32_t kReplyStatusReceived = 0;  // arrived with a message
constexpr std::int32_t kReplyStatusPending = 1;   // no outcome known yet
constexpr std::int32_t kReplyStatusTimedOut = 2;  // the bus ended the request on its time limit
constexpr std::int32_t kReplyStatusFailed = 3;    // any other failure, or nothing usable arrived

class Reply {
public:
    virtual ~Reply() = default;
    virtual std::int32_t getStatus() const = 0;
    // The reply message when the status is 0; empty otherwise.
    virtual MessagePtr getMessage() const = 0;
    // Blocks until the reply has arrived; returns the new status.
    virtual std::int32_t wait() = 0;
    // Waits at most `timeLimit` (a limit of 0 or less only checks); returns the status.
    virtual std::int32_t waitFor(const std::chrono::milliseconds& timeLimit) = 0;
};

} // namespace Orvik
