#include "message/ReplyImpl.h"

#include "Logging/Logger.h"

#include <system_error>

namespace Orvik {
namespace {
UM_LOG_SOURCE(L"Orvik::ReplyImpl");
constexpr wchar_t kInvalidFuture[] = L"Reply future is in an invalid state. Returning.";

// now + limit on the system clock, saturated instead of overflowing.
std::chrono::system_clock::time_point deadlineAfter(const std::chrono::milliseconds& limit)
{
    using Clock = std::chrono::system_clock;
    const Clock::time_point now = Clock::now();
    const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
    return limit >= room ? Clock::time_point::max() : now + std::chrono::duration_cast<Clock::duration>(limit);
}
} // namespace

ReplyImpl::ReplyImpl(std::future<MessagePtr> future) : future_(std::move(future)) {}

MessagePtr ReplyImpl::getMessage() const
{
    return status_ == kReplyStatusReceived ? message_ : MessagePtr();
}

std::int32_t ReplyImpl::getReplyMessage()
{
    if (!future_.valid()) {
        logging::error(UM_HERE, kInvalidFuture);
        return kReplyStatusFailed;
    }
    try {
        message_ = future_.get();
        return message_ ? kReplyStatusReceived : kReplyStatusFailed;
    } catch (const std::system_error& error) {
        // The bus client fails the promise with "operation canceled" for a time-out.
        return error.code() == std::errc::operation_canceled ? kReplyStatusTimedOut : kReplyStatusFailed;
    } catch (...) {
        logging::error(UM_HERE, L"Unexpected exception while reading the reply. Returning.");
        return kReplyStatusFailed;
    }
}

std::int32_t ReplyImpl::wait()
{
    if (status_ == kReplyStatusReceived)
        return status_;
    status_ = getReplyMessage();
    return status_;
}

std::int32_t ReplyImpl::waitFor(const std::chrono::milliseconds& timeLimit)
{
    // The value was taken already: a received reply stays received.
    if (status_ == kReplyStatusReceived)
        return status_;
    if (!future_.valid()) {
        logging::error(UM_HERE, kInvalidFuture);
        status_ = kReplyStatusFailed;
        return status_;
    }
    std::future_status ready;
    try {
        if (timeLimit.count() <= 0)
            ready = future_.wait_for(std::chrono::milliseconds(0));
        else
            ready = future_.wait_until(deadlineAfter(timeLimit));
    } catch (...) {
        logging::error(UM_HERE, L"Unexpected exception while waiting for the reply. Returning.");
        status_ = kReplyStatusFailed;
        return status_;
    }
    if (ready != std::future_status::ready) {
        logging::warning(UM_HERE, L"Reply waitFor timed out. Returning.");
        return status_;
    }
    status_ = getReplyMessage();
    return status_;
}

} // namespace Orvik
