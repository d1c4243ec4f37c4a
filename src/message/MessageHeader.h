#pragma once
// The fixed binary header that travels with every bus message. It is a wire
// format shared with the bus service: little-endian, packed, 108 bytes.

#include <cstddef>
#include <cstdint>

namespace Orvik {

#pragma pack(push, 1)
struct MessageHeader {
    std::uint16_t formatMarker;       // 1
    std::uint32_t totalSize;          // header + three strings with terminators, in bytes
    std::uint32_t flags;              // bit set, see MessageFlag
    std::uint16_t version;            // 2 for a header with the session extension
    std::uint8_t serviceData[80];     // the service's own bookkeeping; copied, never read
    // Where the service routes a reply. Its upper four bytes (offset 96) close the
    // version-1 header; both halves are cleared together.
    std::uint8_t replyRouting[8];
    std::uint16_t sessionKind;        // 11
    std::uint16_t sessionSize;        // 8, size of the extension
    std::uint32_t sessionId;          // sender's session; 0 means none
};
#pragma pack(pop)

static_assert(sizeof(MessageHeader) == 108, "the header is a 108-byte wire block");
static_assert(offsetof(MessageHeader, formatMarker) == 0, "wire layout");
static_assert(offsetof(MessageHeader, totalSize) == 2, "wire layout");
static_assert(offsetof(MessageHeader, flags) == 6, "wire layout");
static_assert(offsetof(MessageHeader, version) == 10, "wire layout");
static_assert(offsetof(MessageHeader, serviceData) == 12, "wire layout");
static_assert(offsetof(MessageHeader, replyRouting) == 92, "wire layout");
static_assert(offsetof(MessageHeader, sessionKind) == 100, "wire layout");
static_assert(offsetof(MessageHeader, sessionSize) == 102, "wire layout");
static_assert(offsetof(MessageHeader, sessionId) == 104, "wire layout");

constexpr std::size_t kMessageHeaderSize = sizeof(MessageHeader);
// A version-1 header is the first 100 bytes: everything before the session extension.
constexpr std::size_t kMessageHeaderV1Size = offsetof(MessageHeader, sessionKind);
constexpr std::uint16_t kMessageHeaderFormatMarker = 1;
constexpr std::uint16_t kMessageHeaderVersion1 = 1;
constexpr std::uint16_t kMessageHeaderVersion2 = 2;
constexpr std::uint16_t kSessionExtensionKind = 11;
constexpr std::uint16_t kSessionExtensionSize = 8;

// Flag bits the module uses (bit numbers).
enum MessageFlag : unsigned {
    kMessageFlagReply = 0,          // the message answers a request
    kMessageFlagNoReplyCopy = 3,    // no plain copy of this reply is wanted
    kMessageFlagReplyCopied = 4,    // the plain copy has been or is being published
};

// The values every new header starts from.
constexpr MessageHeader kMessageHeaderTemplate = {
    kMessageHeaderFormatMarker, 0, 0, kMessageHeaderVersion2, {}, {},
    kSessionExtensionKind,      kSessionExtensionSize, 0,
};

// Bit operations by number (0..31); numbers outside that range test false and change nothing.
inline bool testFlag(const MessageHeader& header, unsigned bit)
{
    return bit < 32 && (header.flags & (std::uint32_t{1} << bit)) != 0;
}

inline void setFlag(MessageHeader& header, unsigned bit)
{
    if (bit < 32)
        header.flags |= std::uint32_t{1} << bit;
}

inline void clearFlag(MessageHeader& header, unsigned bit)
{
    if (bit < 32)
        header.flags &= ~(std::uint32_t{1} << bit);
}

inline void clearReplyRouting(MessageHeader& header)
{
    for (std::uint8_t& byte : header.replyRouting)
        byte = 0;
}

// Total size field of a message with strings of these lengths (UTF-16 code units).
inline std::uint32_t messageTotalSize(std::size_t nameLength, std::size_t senderLength, std::size_t payloadLength)
{
    return static_cast<std::uint32_t>(kMessageHeaderSize + 2 * (nameLength + senderLength + payloadLength) + 6);
}

} // namespace Orvik
