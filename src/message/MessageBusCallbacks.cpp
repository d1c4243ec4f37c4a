#include "message/MessageBusCallbacks.h"

#include "Logging/Logger.h"
#include "message/Message.h"

namespace Orvik {
namespace internal {
namespace {
UM_LOG_SOURCE(L"Orvik::internal");

// The bus thread gets a number, never an exception.
std::uint32_t unexpectedException(const char* entry) noexcept
{
    try {
        throw;
    } catch (const std::exception& exception) {
        logging::error(UM_HERE_AS(entry), L"Unexpected exception: %hs. Returning %s.", exception.what(),
                       getStatusName(MODULE_STATUS_UNKNOWN_EXCEPTION));
    } catch (...) {
        logging::error(UM_HERE_AS(entry), L"Unexpected exception. Returning %s.",
                       getStatusName(MODULE_STATUS_UNKNOWN_EXCEPTION));
    }
    return MODULE_STATUS_UNKNOWN_EXCEPTION.value();
}
} // namespace

std::uint32_t messageCallbackEntry(void* context, const MessageHeader* header, const wchar_t* name,
                                   const wchar_t* sender, const wchar_t* payload) noexcept
{
    try {
        if (context == nullptr)
            return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                                 L"Message delivered without a subscription context.")
                .value();
        if (name == nullptr || sender == nullptr || payload == nullptr)
            return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                                 L"Message delivered with a missing text. Dropped.")
                .value();
        const MessagePtr message = createDeliveredMessage(header, name, sender, payload);
        auto* holder = static_cast<MessageCallbackHolder*>(context);
        const std::shared_ptr<MessageCallbackHolder> pinned = holder->self.lock();
        return holder->callback(message).value();  // an empty callback throws bad_function_call
    } catch (...) {
        return unexpectedException(__func__);
    }
}

std::uint32_t replyCallbackEntry(void* context, std::uint64_t replyIndex, const MessageHeader* header,
                                 const wchar_t* name, const wchar_t* sender, const wchar_t* payload,
                                 std::uint32_t status) noexcept
{
    try {
        MessagePtr reply;
        bool textMissing = false;
        if (status == MODULE_STATUS_SUCCESS) {
            textMissing = name == nullptr || sender == nullptr || payload == nullptr;
            // Without its texts the reply still settles the request, as a failure.
            if (!textMissing)
                reply = createDeliveredMessage(header, name, sender, payload);
        }
        if (context == nullptr)
            return MODULE_STATUS_INVALID_PARAMETER.value();
        const ReplyHandler& handler = *static_cast<const ReplyHandler*>(context);
        const ModuleStatus result = handler(replyIndex, reply, status);
        if (textMissing)
            return logging::fail(MODULE_STATUS_INVALID_PARAMETER, UM_HERE,
                                 L"Reply delivered with a missing text. Reply index %I64u.", replyIndex)
                .value();
        return result.value();
    } catch (...) {
        return unexpectedException(__func__);
    }
}

} // namespace internal
} // namespace Orvik
