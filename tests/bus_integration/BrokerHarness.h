#pragma once
// The sandbox broker loaded from the build tree, connections to it, and bus
// clients over those connections.

#include "ModuleLibrary.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusFunctions.h"
#include "message/MessageBusShimImpl.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace bustest {

class BrokerLibrary {
public:
    BrokerLibrary() : module_(LoadLibraryW((testsupport::buildFolder() + L"sandbox\\BusBroker.dll").c_str())) {}

    HMODULE handle() const { return module_.get(); }
    template <typename Function>
    Function get(const char* name) const
    {
        return Orvik::win::procAddress<Function>(module_.get(), name);
    }
    const Orvik::MessageBusFunctions* functions() const
    {
        auto create = get<const Orvik::MessageBusFunctions* (*)(std::uint32_t)>("CreateObject");
        return create != nullptr ? create(Orvik::kMessageBusInterfaceVersion) : nullptr;
    }

private:
    Orvik::win::UniqueLibrary module_;
};

// One open broker handle, closed on destruction.
class BrokerConnection {
public:
    explicit BrokerConnection(const Orvik::MessageBusFunctions* functions) : functions_(functions)
    {
        status_ = functions_->open(&handle_);
    }
    ~BrokerConnection()
    {
        if (handle_ != nullptr)
            functions_->close(handle_);
    }
    BrokerConnection(const BrokerConnection&) = delete;
    BrokerConnection& operator=(const BrokerConnection&) = delete;

    void* handle() const { return handle_; }
    std::uint32_t openStatus() const { return status_; }
    std::shared_ptr<Orvik::MessageBusClient> makeClient() const
    {
        return std::make_shared<Orvik::MessageBusClient>(
            std::make_shared<Orvik::MessageBusShimImpl>(handle_, functions_), nullptr);
    }

private:
    const Orvik::MessageBusFunctions* functions_;
    void* handle_ = nullptr;
    std::uint32_t status_ = 0;
};

// Polls until `done` holds or `limit` passes; returns whether it holds.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(10000))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Answers every request named `name` through `responder` with the payload
// "echo:" + request payload, unless the payload says "silent".
inline ModuleStatus subscribeEcho(Orvik::MessageBusClient& responder, const std::wstring& name)
{
    Orvik::MessageBusClient* self = &responder;
    return responder.subscribe(name, [self, name](const Orvik::MessagePtr& request) -> ModuleStatus {
        if (request->getPayload().find(L"silent") != std::wstring::npos)
            return MODULE_STATUS_SUCCESS;
        Orvik::MessagePtr reply =
            Orvik::createMessage(name + L".Reply", L"Responder", L"echo:" + request->getPayload());
        Orvik::copyHeader(reply, request->getHeader());  // carries the reply routing
        Orvik::setFlag(*reply->getHeader(), Orvik::kMessageFlagReply);
        return self->publish(reply);
    });
}

// A broker with two connections and a client on each, torn down in order.
class BrokerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(library.handle(), nullptr) << "BusBroker.dll not found beside the tests: " << GetLastError();
        functions = library.functions();
        ASSERT_NE(functions, nullptr);
        first = std::make_unique<BrokerConnection>(functions);
        second = std::make_unique<BrokerConnection>(functions);
        ASSERT_EQ(first->openStatus(), 0u);
        ASSERT_EQ(second->openStatus(), 0u);
        client = first->makeClient();
        peer = second->makeClient();
    }
    void TearDown() override
    {
        client.reset();
        peer.reset();
        first.reset();
        second.reset();
    }

    BrokerLibrary library;
    const Orvik::MessageBusFunctions* functions = nullptr;
    std::unique_ptr<BrokerConnection> first;
    std::unique_ptr<BrokerConnection> second;
    std::shared_ptr<Orvik::MessageBusClient> client;
    std::shared_ptr<Orvik::MessageBusClient> peer;
};

} // namespace bustest
