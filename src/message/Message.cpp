#include "message/Message.h"

#include <windows.h>

#include <cstring>

namespace Orvik {

Message::Message(std::wstring name, std::wstring sender, std::wstring payload)
    : name_(std::move(name)), sender_(std::move(sender)), payload_(std::move(payload)),
      header_(std::make_unique<MessageHeader>(kMessageHeaderTemplate))
{
    header_->totalSize = messageTotalSize(name_.size(), sender_.size(), payload_.size());
}

Message::~Message() = default;

namespace internal {
namespace {

std::wstring readOwnModuleFileName()
{
    HMODULE self = nullptr;
    const DWORD lookup = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!::GetModuleHandleExW(lookup, reinterpret_cast<LPCWSTR>(&readOwnModuleFileName), &self))
        return std::wstring();

    wchar_t path[MAX_PATH] = {};
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    // A truncated path is reported through the last error, not the length.
    if (length == 0 || ::GetLastError() != ERROR_SUCCESS)
        return std::wstring();

    const std::wstring full(path, length);
    const std::size_t slash = full.find_last_of(L'\\');
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

} // namespace

const std::wstring& defaultSenderName()
{
    static const std::wstring name = readOwnModuleFileName();
    return name;
}

} // namespace internal

MessagePtr createMessage(std::wstring name, std::wstring sender, std::wstring payload) noexcept
{
    try {
        if (sender.empty())
            sender = internal::defaultSenderName();
        return std::make_shared<Message>(std::move(name), std::move(sender), std::move(payload));
    } catch (...) {
        return MessagePtr();
    }
}

void copyHeader(const MessagePtr& message, const MessageHeader* source) noexcept
{
    if (!message)
        return;
    MessageHeader& target = *message->getHeader();
    target = kMessageHeaderTemplate;
    if (source == nullptr) {
        // The template alone would claim a size of 0; keep the message's own.
        target.totalSize = messageTotalSize(message->getName().size(), message->getSender().size(),
                                            message->getPayload().size());
        return;
    }
    if (source->version == kMessageHeaderVersion2) {
        std::memcpy(&target, source, kMessageHeaderSize);
        return;
    }
    // Anything else is read as the shorter version-1 block; never read past it.
    std::memcpy(&target, source, kMessageHeaderV1Size);
    target.totalSize += kSessionExtensionSize;
    target.version = kMessageHeaderVersion2;
}

} // namespace Orvik
