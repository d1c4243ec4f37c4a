#pragma once
// A Reply over a one-shot future that the bus client settles.

#include "message/Reply.h"

#include <future>

namespace Orvik {

class ReplyImpl : public Reply {
public:
    explicit ReplyImpl(std::future<MessagePtr> future);

    std::int32_t getStatus() const override { return status_; }
    MessagePtr getMessage() const override;
    std::int32_t wait() override;
    std::int32_t waitFor(const std::chrono::milliseconds& timeLimit) override;

private:
    // Takes the future's value once: 0 with a message, 2 on time-out, 3 otherwise.
    std::int32_t getReplyMessage();

    std::int32_t status_ = kReplyStatusPending;
    MessagePtr message_;
    std::future<MessagePtr> future_;
};

} // namespace Orvik
