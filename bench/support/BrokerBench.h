#pragma once
// What the broker benchmarks share: BusBroker.dll from the build tree, broker
// connections, a delivery counter, a timed publishing loop and the side-by-side
// comparison of a baseline with the path under test.

#include "message/Message.h"
#include "message/MessageBusFunctions.h"
#include "win/ProcAddress.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace benchsupport {

using namespace Orvik;

// Messages handled in the current round, and how many it publishes.
inline std::atomic<long> g_delivered{0};
inline std::atomic<long> g_expected{0};
// Set by the subscriber that handles the round's last message. The publisher
// waits on it rather than spinning: on a two-core machine a spinning waiter
// takes CPU from the delivery threads it is waiting for.
inline const Orvik::win::UniqueEvent g_roundDone(CreateEventW(nullptr, FALSE, FALSE, nullptr));

// Every subscriber under test calls this once per message it has handled.
inline void countDelivered()
{
    if (g_delivered.fetch_add(1, std::memory_order_relaxed) + 1 == g_expected.load(std::memory_order_relaxed))
        SetEvent(g_roundDone.get());
}

inline std::uint32_t plainSubscriber(void*, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*)
{
    countDelivered();
    return 0;
}

// A build configured without a build type compiles without optimisation, and
// its numbers say little about the product: say so before measuring.
inline void warnIfUnoptimised()
{
#ifndef __OPTIMIZE__
    std::printf("warning: built without optimisation; configure with -DCMAKE_BUILD_TYPE=RelWithDebInfo "
                "(as scripts/build.sh does) for meaningful numbers\n");
#endif
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
    Orvik::win::UniqueLibrary module;
    const MessageBusFunctions* table() const
    {
        auto create =
            Orvik::win::procAddress<const MessageBusFunctions* (*)(std::uint32_t)>(module.get(), "CreateObject");
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

// Publishes `count` copies of one message on `publisher` and waits until all
// were handled; 0 when they were not all handled within a minute.
inline double deliveredPerSecond(const Connection& publisher, const wchar_t* name, long count,
                                 const wchar_t* sender = L"Bench",
                                 const wchar_t* payload = L"{\"state\":\"on\",\"option\":3}")
{
    const MessagePtr message = createMessage(name, sender, payload);
    g_delivered = 0;
    g_expected = count;
    ResetEvent(g_roundDone.get());
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i)
        publisher.table->publish(publisher.handle, message->getHeader(), message->getName().c_str(),
                                 message->getSender().c_str(), message->getPayload().c_str());
    if (WaitForSingleObject(g_roundDone.get(), 60000) != WAIT_OBJECT_0) {
        std::printf("round of %ls: %ld of %ld messages handled\n", name, g_delivered.load(), count);
        return 0;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return count / elapsed.count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Comparison {
    double baseline = 0;  // median messages per second
    double measured = 0;
    double ratio = 0;     // median of the rounds' measured / baseline
};

// Runs `rounds` rounds of each side after a warm-up of both. A round of one
// side is always next to a round of the other, first one then the other
// leading, and each pair gives one ratio: the machine's load drifts slowly
// compared with a pair, so the median of the pairs' ratios holds still where
// a ratio of two separate medians follows the drift.
inline Comparison compareSideBySide(const std::function<double()>& baseline, const std::function<double()>& measured,
                                    int rounds)
{
    baseline();
    measured();
    std::vector<double> baselines, measurements, ratios;
    for (int round = 0; round < rounds; ++round) {
        double base = 0, under = 0;
        if (round % 2 == 0) {
            base = baseline();
            under = measured();
        } else {
            under = measured();
            base = baseline();
        }
        baselines.push_back(base);
        measurements.push_back(under);
        ratios.push_back(base > 0 ? under / base : 0);
    }
    return Comparison{median(baselines), median(measurements), median(ratios)};
}

} // namespace benchsupport
