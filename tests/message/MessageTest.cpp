#include "message/Message.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

using namespace Orvik;

namespace {

std::vector<std::uint8_t> bytesOf(const MessageHeader& header)
{
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&header);
    return std::vector<std::uint8_t>(raw, raw + sizeof header);
}

std::uint32_t readU32(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | std::uint32_t(bytes[offset + 3]) << 24;
}

std::wstring ownExecutableName()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(full.find_last_of(L'\\') + 1);
}

} // namespace

TEST(MessageHeader, NewHeaderIsTheTemplateInLittleEndianWireOrder)
{
    Message message(L"Core.Update.State", L"UpdateModule", std::wstring(100, L'x'));
    const std::vector<std::uint8_t> bytes = bytesOf(*message.getHeader());

    ASSERT_EQ(bytes.size(), 108u);
    EXPECT_EQ(bytes[0], 1);  // format marker
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(readU32(bytes, 2), 372u);  // 108 + 2 * (17 + 12 + 100) + 6
    EXPECT_EQ(readU32(bytes, 6), 0u);    // flags
    EXPECT_EQ(bytes[10], 2);             // version
    EXPECT_EQ(bytes[11], 0);
    for (std::size_t offset = 12; offset < 100; ++offset)
        EXPECT_EQ(bytes[offset], 0) << "offset " << offset;
    EXPECT_EQ(bytes[100], 11);  // session extension kind
    EXPECT_EQ(bytes[102], 8);   // its size
    EXPECT_EQ(readU32(bytes, 104), 0u);
}

TEST(MessageHeader, TotalSizeCountsTheThreeTerminators)
{
    EXPECT_EQ(Message(L"", L"", L"").getHeader()->totalSize, 114u);
    EXPECT_EQ(Message(L"a", L"bc", L"def").getHeader()->totalSize, 108u + 2 * 6 + 6);
}

TEST(MessageHeader, FlagBitsAndRoutingBytes)
{
    MessageHeader header = kMessageHeaderTemplate;
    setFlag(header, 0);
    setFlag(header, 31);
    setFlag(header, 32);  // out of range: ignored
    EXPECT_EQ(header.flags, 0x80000001u);
    EXPECT_TRUE(testFlag(header, 31));
    EXPECT_FALSE(testFlag(header, 32));
    clearFlag(header, 0);
    EXPECT_EQ(header.flags, 0x80000000u);

    std::memset(header.serviceData, 0xAB, sizeof header.serviceData);
    std::memset(header.replyRouting, 0xCD, sizeof header.replyRouting);
    clearReplyRouting(header);
    const std::vector<std::uint8_t> bytes = bytesOf(header);
    for (std::size_t offset = 92; offset < 100; ++offset)
        EXPECT_EQ(bytes[offset], 0) << "offset " << offset;
    EXPECT_EQ(bytes[91], 0xAB) << "the service block ends before the routing bytes";
    EXPECT_EQ(bytes[100], 11) << "the session extension starts after them";
}

TEST(CreateMessage, EmptySenderBecomesTheModuleFileName)
{
    MessagePtr message = createMessage(L"Name", L"", L"{}");
    ASSERT_TRUE(message);
    // The code is linked into the test program, so the module is the program itself.
    EXPECT_EQ(message->getSender(), ownExecutableName());
    EXPECT_FALSE(message->getSender().empty());
    EXPECT_EQ(message->getHeader()->totalSize,
              messageTotalSize(4, message->getSender().size(), 2)) << "size counts the filled-in sender";

    MessagePtr named = createMessage(L"Name", L"UpdateModule", L"{}");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->getSender(), L"UpdateModule");
    EXPECT_EQ(named->getName(), L"Name");
    EXPECT_EQ(named->getPayload(), L"{}");
}

TEST(CopyHeader, Version2IsCopiedWhole)
{
    MessagePtr message = createMessage(L"N", L"S", L"P");
    MessageHeader source = kMessageHeaderTemplate;
    source.totalSize = 999;
    source.flags = 0x11;
    source.serviceData[5] = 7;
    source.replyRouting[0] = 9;
    source.sessionId = 42;
    copyHeader(message, &source);
    EXPECT_EQ(std::memcmp(message->getHeader(), &source, sizeof source), 0);
}

TEST(CopyHeader, Version1GainsTheSessionExtension)
{
    MessagePtr message = createMessage(L"N", L"S", L"P");
    // Bytes past the first 100 are not part of a version-1 header: poison them.
    MessageHeader source;
    std::memset(&source, 0xEE, sizeof source);
    source.formatMarker = 1;
    source.version = 1;
    source.totalSize = 200;
    source.flags = 0x1;
    copyHeader(message, &source);

    const MessageHeader& copied = *message->getHeader();
    EXPECT_EQ(copied.version, 2);
    EXPECT_EQ(copied.totalSize, 208u);
    EXPECT_EQ(copied.flags, 0x1u);
    EXPECT_EQ(copied.serviceData[0], 0xEE) << "the first 100 bytes are copied";
    EXPECT_EQ(copied.replyRouting[7], 0xEE);
    EXPECT_EQ(copied.sessionKind, 11);
    EXPECT_EQ(copied.sessionSize, 8);
    EXPECT_EQ(copied.sessionId, 0u);
}

TEST(CopyHeader, AbsentSourceLeavesTheTemplateWithTheMessagesOwnSize)
{
    MessagePtr message = createMessage(L"Name", L"Sender", L"Payload");
    message->getHeader()->flags = 0xFF;
    message->getHeader()->sessionId = 5;
    copyHeader(message, nullptr);
    const MessageHeader& header = *message->getHeader();
    EXPECT_EQ(header.flags, 0u);
    EXPECT_EQ(header.sessionId, 0u);
    EXPECT_EQ(header.version, 2);
    EXPECT_EQ(header.totalSize, messageTotalSize(4, 6, 7));

    copyHeader(nullptr, &header);  // an empty message is ignored
}

// Delivered messages reuse the storage of released ones: a reused message must
// be indistinguishable from a fresh one, and one a subscriber still holds must
// never be handed out again.
TEST(DeliveredMessage, ReuseNeverTouchesAHeldMessageAndLeavesNoTraceOfTheLastOne)
{
    MessageHeader header = kMessageHeaderTemplate;
    header.sessionId = 7;
    header.flags = 0x11;
    MessagePtr kept = internal::createDeliveredMessage(&header, L"Kept.Name", L"Peer", L"{\"a\":1}");
    ASSERT_TRUE(kept);
    std::weak_ptr<Message> watch;
    for (int i = 0; i < 50; ++i) {
        MessagePtr passing = internal::createDeliveredMessage(nullptr, L"N", L"S", std::wstring(i, L'x').c_str());
        ASSERT_TRUE(passing);
        EXPECT_NE(passing.get(), kept.get());
        MessagePtr fresh = createMessage(L"N", L"S", std::wstring(i, L'x'));
        copyHeader(fresh, nullptr);
        EXPECT_EQ(passing->getPayload(), fresh->getPayload());
        EXPECT_EQ(std::memcmp(passing->getHeader(), fresh->getHeader(), sizeof(MessageHeader)), 0) << i;
        watch = passing;
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(kept->getName(), L"Kept.Name");
    EXPECT_EQ(kept->getPayload(), L"{\"a\":1}");
    EXPECT_EQ(kept->getHeader()->sessionId, 7u);
    // A payload too large to keep is still delivered whole.
    const std::wstring large(5000, L'y');
    MessagePtr big = internal::createDeliveredMessage(&header, L"Big", L"Peer", large.c_str());
    ASSERT_TRUE(big);
    EXPECT_EQ(big->getPayload(), large);
}
