#include "message/Message.h"
#include "Logging/Logger.h"
#include "win/ModulePath.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace Orvik {
namespace {
UM_LOG_SOURCE(L"Orvik");
}

Message::Message(std::wstring name, std::wstring sender, std::wstring payload)
    : name_(std::move(name)), sender_(std::move(sender)), payload_(std::move(payload)),
      header_(std::make_unique<MessageHeader>(kMessageHeaderTemplate))
{
    header_->totalSize = messageTotalSize(name_.size(), sender_.size(), payload_.size());
}

Message::~Message() = default;

namespace {

// The header copy of copyHeader; `ownSize` is the size a missing source leaves.
void copyHeaderInto(MessageHeader& target, const MessageHeader* source, std::uint32_t ownSize) noexcept
{
    target = kMessageHeaderTemplate;
    if (source == nullptr) {
        // The template alone would claim a size of 0; keep the message's own.
        target.totalSize = ownSize;
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

} // namespace

void Message::refill(const wchar_t* name, const wchar_t* sender, const wchar_t* payload, const MessageHeader* source)
{
    name_.assign(name);
    if (*sender != L'\0')
        sender_.assign(sender);
    else
        sender_ = internal::defaultSenderName();
    payload_.assign(payload);
    copyHeaderInto(*header_, source, messageTotalSize(name_.size(), sender_.size(), payload_.size()));
}

namespace internal {
namespace {

std::wstring readOwnModuleFileName()
{
    HMODULE self = nullptr;
    const DWORD lookup = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!::GetModuleHandleExW(lookup, reinterpret_cast<LPCWSTR>(&readOwnModuleFileName), &self))
        return std::wstring();

    return win::moduleFileName(self);
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
        logging::error(UM_HERE, L"Unexpected exception while creating a message. Returning none.");
        return MessagePtr();
    }
}

void copyHeader(const MessagePtr& message, const MessageHeader* source) noexcept
{
    if (!message)
        return;
    copyHeaderInto(*message->getHeader(), source,
                   messageTotalSize(message->getName().size(), message->getSender().size(),
                                    message->getPayload().size()));
}

namespace internal {
namespace {

// A few spare delivered messages and shared-pointer blocks, shared by every
// thread. Each slot is taken or filled with one atomic operation, so no thread
// ever waits here; when the slots are empty or full the heap serves as usual.
// Trivially destructible: it outlives every message, and `closed` sends
// whatever comes back after the library began to unload straight to the heap.
class SpareMessages {
public:
    // Enough for the delivery threads of a service with messages in flight on each.
    static constexpr std::size_t kSlots = 8;
    // Room for the block of a shared pointer with a stateless deleter and allocator.
    static constexpr std::size_t kBlockSize = 64;
    // A message whose strings grew beyond this (in code units) goes back to the
    // heap: one large payload must not stay pinned for the life of the process.
    static constexpr std::size_t kLargestKept = 1024;

    Message* takeMessage() noexcept { return take(messages_); }
    void giveBack(Message* message) noexcept
    {
        const std::size_t held =
            message->getName().capacity() + message->getSender().capacity() + message->getPayload().capacity();
        if (held > kLargestKept || !give(messages_, message))
            delete message;
    }

    void* takeBlock()
    {
        void* block = take(blocks_);
        return block != nullptr ? block : ::operator new(kBlockSize);
    }
    void giveBackBlock(void* block) noexcept
    {
        if (!give(blocks_, block))
            ::operator delete(block);
    }

    // The library is unloading: free the spares and keep nothing from now on.
    void close() noexcept
    {
        closed_.store(true);
        for (auto& slot : messages_)
            delete slot.exchange(nullptr);
        for (auto& slot : blocks_)
            ::operator delete(slot.exchange(nullptr));
    }

private:
    template <typename T>
    static T* take(std::atomic<T*> (&slots)[kSlots]) noexcept
    {
        for (auto& slot : slots) {
            // Look before exchanging: an empty slot costs no write to the shared line.
            if (slot.load(std::memory_order_relaxed) == nullptr)
                continue;
            if (T* taken = slot.exchange(nullptr, std::memory_order_acquire))
                return taken;
        }
        return nullptr;
    }

    template <typename T>
    bool give(std::atomic<T*> (&slots)[kSlots], T* item) noexcept
    {
        if (closed_.load(std::memory_order_relaxed))
            return false;
        for (auto& slot : slots) {
            T* empty = nullptr;
            if (slot.load(std::memory_order_relaxed) == nullptr &&
                slot.compare_exchange_strong(empty, item, std::memory_order_release, std::memory_order_relaxed))
                return true;
        }
        return false;
    }

    std::atomic<Message*> messages_[kSlots];
    std::atomic<void*> blocks_[kSlots];
    std::atomic<bool> closed_;
};

SpareMessages spareMessages;  // zero-initialised before any code runs

struct SpareMessagesRelease {
    ~SpareMessagesRelease() { spareMessages.close(); }
} spareMessagesRelease;

// The deleter of a delivered message: its last holder hands it back.
struct GiveBackMessage {
    void operator()(Message* message) const noexcept { spareMessages.giveBack(message); }
};

// The allocator of a delivered message's shared-pointer block.
template <typename T>
struct SpareBlockAllocator {
    using value_type = T;
    SpareBlockAllocator() = default;
    template <typename U>
    SpareBlockAllocator(const SpareBlockAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count)
    {
        static_assert(alignof(T) <= alignof(std::max_align_t), "the spare blocks have the heap's alignment");
        if (count == 1 && sizeof(T) <= SpareMessages::kBlockSize)
            return static_cast<T*>(spareMessages.takeBlock());
        return static_cast<T*>(::operator new(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept
    {
        if (count == 1 && sizeof(T) <= SpareMessages::kBlockSize)
            spareMessages.giveBackBlock(block);
        else
            ::operator delete(block);
    }
    template <typename U>
    bool operator==(const SpareBlockAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const SpareBlockAllocator<U>&) const noexcept
    {
        return false;
    }
};

} // namespace

MessagePtr createDeliveredMessage(const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                  const wchar_t* payload) noexcept
{
    Message* message = nullptr;
    try {
        message = spareMessages.takeMessage();
        if (message == nullptr)
            message = new Message();
        message->refill(name, sender, payload, header);
        // On a failed block allocation the deleter takes the message back.
        return MessagePtr(std::exchange(message, nullptr), GiveBackMessage(), SpareBlockAllocator<Message>());
    } catch (...) {
        logging::error(UM_HERE, L"Unexpected exception while taking in a delivered message. Returning none.");
        if (message != nullptr)
            spareMessages.giveBack(message);
        return MessagePtr();
    }
}

} // namespace internal

} // namespace Orvik
