#include "message/MessageBusCallbacks.h"

#include "Logging/Logger.h"
#include "message/Message.h"

namespace Orvik {
namespace internal {
namespace {
constexpr wchar_t kLogFile[] = L"MessageBusCallbacks";
} // namespace

std::uint32_t messageCallbackEntry(void* context, const MessageHeader* header, const wchar_t* name,
                                   const wchar_t* sender, const wchar_t* payload) noexcept
{
    constexpr wchar_t kFunction[] = L"Orvik::internal::messageCallbackEntry";
    try {
        if (context == nullptr) {
            UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Message delivered without a subscription context.");
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        if (name == nullptr || sender == nullptr || payload == nullptr) {
            UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Message delivered with a missing text. Dropped.");
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        const MessagePtr message = createDeliveredMessage(header, name, sender, payload);
        auto* holder = static_cast<MessageCallbackHolder*>(context);
        const std::shared_ptr<MessageCallbackHolder> pinned = holder->self.lock();
        return holder->callback(message);  // an empty callback throws bad_function_call
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

std::uint32_t replyCallbackEntry(void* context, std::uint64_t replyIndex, const MessageHeader* header,
                                 const wchar_t* name, const wchar_t* sender, const wchar_t* payload,
                                 std::uint32_t status) noexcept
{
    constexpr wchar_t kFunction[] = L"Orvik::internal::replyCallbackEntry";
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
            return MODULE_STATUS_INVALID_PARAMETER;
        const ReplyHandler& handler = *static_cast<const ReplyHandler*>(context);
        const ModuleStatus result = handler(replyIndex, reply, status);
        if (textMissing) {
            UM_LOG_ERROR(kLogFile, kFunction, __LINE__, L"Reply delivered with a missing text. Reply index %I64u.",
                         replyIndex);
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        return result;
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

} // namespace internal
} // namespace Orvik
