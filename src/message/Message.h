#pragma once
// The unit that travels on the bus: name, sender, payload and a binary header.
// Always held through a shared pointer.

#include "message/MessageBus.h"
#include "message/MessageHeader.h"

#include <memory>
#include <string>

namespace Orvik {

namespace internal {
MessagePtr createDeliveredMessage(const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                  const wchar_t* payload) noexcept;
} // namespace internal

class Message {
public:
    // Copies the header template and records the total size of the three strings.
    Message(std::wstring name, std::wstring sender, std::wstring payload);
    virtual ~Message();

    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    const std::wstring& getName() const { return name_; }
    const std::wstring& getSender() const { return sender_; }
    const std::wstring& getPayload() const { return payload_; }
    MessageHeader* getHeader() { return header_.get(); }
    const MessageHeader* getHeader() const { return header_.get(); }

private:
    friend MessagePtr internal::createDeliveredMessage(const MessageHeader*, const wchar_t*, const wchar_t*,
                                                       const wchar_t*) noexcept;

    Message() : header_(std::make_unique<MessageHeader>(kMessageHeaderTemplate)) {}
    // Gives a message nobody holds any more new texts and `source`'s header, as
    // createMessage followed by copyHeader would build it.
    void refill(const wchar_t* name, const wchar_t* sender, const wchar_t* payload, const MessageHeader* source);

    std::wstring name_;
    std::wstring sender_;
    std::wstring payload_;
    std::unique_ptr<MessageHeader> header_;
};

// A new message; an empty sender becomes this module's file name. Never throws:
// an empty pointer means the message could not be built.
MessagePtr createMessage(std::wstring name, std::wstring sender, std::wstring payload) noexcept;

// Resets the message's header to the template, then copies `source` into it.
// A version-1 source gains the session extension (session 0). A null source
// leaves the template; a null message is ignored.
void copyHeader(const MessagePtr& message, const MessageHeader* source) noexcept;

namespace internal {
// The file name of the module holding this code ("UpdateModule.dll"), or empty.
const std::wstring& defaultSenderName();

// createMessage followed by copyHeader, for the texts and header the bus service
// hands in. Built that way, every delivery goes to the heap up to five times,
// and the heap is one lock for the whole process, taken by the service's
// publishing thread too. Instead the message and its shared-pointer block are
// reused from earlier deliveries whose last holder let go, the strings keeping
// their buffers. Never throws: an empty pointer means no message could be built.
MessagePtr createDeliveredMessage(const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                  const wchar_t* payload) noexcept;
} // namespace internal

} // namespace Orvik
