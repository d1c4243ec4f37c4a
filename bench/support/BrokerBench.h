#pragma once
// What the broker benchmarks share: BusBroker.dll from the build tree, broker
// connections, a delivery counter and a timed publishing loop.

#include "message/Message.h"
#include "message/MessageBusFunctions.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace benchsupport {

using namespace Orvik;

// Every subscriber under test adds one per message it has handled.
inline std::atomic<long> g_delivered{0};

inline std::uint32_t plainSubscriber(void*, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*)
{
    g_delivered.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

inline std::wstring brokerPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/"));  // .../bench
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder + L"sandbox\\BusBroker.dll";
}

struct Library {
    HMODULE module;
    ~Library()
    {
        if (module != nullptr)
            FreeLibrary(module);
    }
    const MessageBusFunctions* table() const
    {
        auto create = reinterpret_cast<const MessageBusFunctions* (*)(std::uint32_t)>(
            reinterpret_cast<void*>(GetProcAddress(module, "CreateObject")));
        return create ? create(kMessageBusInterfaceVersion) : nullptr;
    }
};

struct Connection {
    const MessageBusFunctions* table;
    void* handle = nullptr;
    explicit Connection(const MessageBusFunctions* t) : table(t) { table->open(&handle); }
    ~Connection()
    {
        if (handle != nullptr)
            table->close(handle);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

// Publishes `count` copies of one message on `publisher` and waits until all were handled.
inline double deliveredPerSecond(const Connection& publisher, const wchar_t* name, long count,
                                 const wchar_t* sender = L"Bench",
                                 const wchar_t* payload = L"{\"state\":\"on\",\"option\":3}")
{
    const MessagePtr message = createMessage(name, sender, payload);
    g_delivered = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i)
        publisher.table->publish(publisher.handle, message->getHeader(), message->getName().c_str(),
                                 message->getSender().c_str(), message->getPayload().c_str());
    while (g_delivered.load(std::memory_order_relaxed) < count)
        std::this_thread::yield();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return count / elapsed.count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace benchsupport
