// Messages per second delivered by the sandbox broker to a subscriber that does
// nothing but count: through the bus client (entry point, message built, header
// copied, callback called), against a plain C function subscribed directly.
// Both run side by side in one process on the same broker, same publisher.

#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusFunctions.h"
#include "message/MessageBusShimImpl.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Orvik;

std::atomic<long> g_delivered{0};

std::uint32_t plainSubscriber(void*, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*)
{
    g_delivered.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

std::wstring brokerPath()
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
};

// Publishes `count` messages named `name` on `publisher` and waits until all were delivered.
double deliveredPerSecond(const Connection& publisher, const wchar_t* name, long count)
{
    const MessagePtr message = createMessage(name, L"Bench", L"{\"state\":\"on\",\"option\":3}");
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    Library library{LoadLibraryW(brokerPath().c_str())};
    if (library.module == nullptr) {
        std::printf("BusBroker.dll not found (error %lu)\n", GetLastError());
        return 1;
    }
    auto create = reinterpret_cast<const MessageBusFunctions* (*)(std::uint32_t)>(
        reinterpret_cast<void*>(GetProcAddress(library.module, "CreateObject")));
    const MessageBusFunctions* table = create ? create(kMessageBusInterfaceVersion) : nullptr;
    if (table == nullptr) {
        std::printf("BusBroker.dll gave no function table\n");
        return 1;
    }

    Connection publisher(table), plainSide(table), clientSide(table);
    {
        MessageBusClient client(std::make_shared<MessageBusShimImpl>(clientSide.handle, table), nullptr);
        client.subscribe(L"Bench.Client", [](const MessagePtr&) {
            g_delivered.fetch_add(1, std::memory_order_relaxed);
            return MODULE_STATUS_SUCCESS;
        });
        const std::uint32_t plainId = table->subscribe(plainSide.handle, nullptr, &plainSubscriber, L"Bench.Plain");

        // Thread scheduling on a shared machine makes single rounds noisy: alternate
        // short rounds and compare the medians.
        const long count = 40000;
        const int rounds = 11;
        deliveredPerSecond(publisher, L"Bench.Plain", count / 10);  // warm up both paths
        deliveredPerSecond(publisher, L"Bench.Client", count / 10);
        std::vector<double> plain, viaClient;
        for (int round = 0; round < rounds; ++round) {
            plain.push_back(deliveredPerSecond(publisher, L"Bench.Plain", count));
            viaClient.push_back(deliveredPerSecond(publisher, L"Bench.Client", count));
        }
        const double plainMedian = median(plain);
        const double clientMedian = median(viaClient);
        std::printf("messages per round                     : %12ld (median of %d alternating rounds)\n", count,
                    rounds);
        std::printf("broker -> plain function subscriber     : %12.0f msg/s\n", plainMedian);
        std::printf("broker -> bus client -> subscriber      : %12.0f msg/s\n", clientMedian);
        std::printf("ratio (client path / plain subscriber)  : %12.2f\n", clientMedian / plainMedian);
        table->unsubscribe(plainSide.handle, plainId);
    }
    return 0;
}
