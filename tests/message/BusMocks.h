#pragma once
// GoogleMock stand-ins for the bus shim and the process wrapper, and helpers
// to play the service's part through the real callback entry points.

#include "message/Message.h"
#include "message/MessageBusCallbacks.h"
#include "message/MessageBusShim.h"
#include "wrappers/ProcessAPI.h"

#include <gmock/gmock.h>

#include <string>

namespace bustest {

class MockShim : public Orvik::MessageBusShim {
public:
    MOCK_METHOD(ModuleStatus, publish, (const Orvik::MessagePtr&, bool), (override));
    MOCK_METHOD(ModuleStatus, request, (const Orvik::MessagePtr&, std::uint64_t, void*, std::int64_t, bool),
                (override));
    MOCK_METHOD(void, cancelRequests, (), (override));
    MOCK_METHOD(std::uint32_t, subscribe, (const std::wstring&, void*), (override));
    MOCK_METHOD(std::uint32_t, subscribeFilter, (const std::wstring&, void*), (override));
    MOCK_METHOD(ModuleStatus, unsubscribe, (std::uint32_t), (override));
};

class MockProcessAPI : public Orvik::ProcessAPI {
public:
    MOCK_METHOD(DWORD, GetCurrentProcessId, (), (override));
    MOCK_METHOD(BOOL, ProcessIdToSessionId, (DWORD, DWORD*), (override));
};

// A header as the service would deliver it.
inline Orvik::MessageHeader headerWithSession(std::uint32_t session, std::uint16_t version = 2)
{
    Orvik::MessageHeader header = Orvik::kMessageHeaderTemplate;
    header.version = version;
    header.sessionId = session;
    return header;
}

// Delivers a message to a subscription context the way the service does.
inline std::uint32_t deliver(void* context, const std::wstring& name, const Orvik::MessageHeader& header,
                             const std::wstring& payload = L"{}")
{
    return Orvik::internal::messageCallbackEntry(context, &header, name.c_str(), L"Peer", payload.c_str());
}

// Ends a request the way the service does.
inline std::uint32_t answer(void* context, std::uint64_t replyIndex, std::uint32_t status,
                            const std::wstring& payload = L"{\"ok\":true}")
{
    const Orvik::MessageHeader header = headerWithSession(0);
    return Orvik::internal::replyCallbackEntry(context, replyIndex, &header, L"Reply", L"Responder",
                                               payload.c_str(), status);
}

} // namespace bustest
