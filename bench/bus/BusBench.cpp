// Messages per second delivered by the sandbox broker to a subscriber that does
// nothing but count: through the bus client (entry point, message built, header
// copied, callback called), against a plain C function subscribed directly.
// Both run side by side in one process on the same broker, same publisher.

#include "BrokerBench.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"

#include <cstdio>

using namespace benchsupport;

int main()
{
    warnIfUnoptimised();
    Library library{Orvik::win::UniqueLibrary(LoadLibraryW(brokerPath().c_str()))};
    if (!library.module) {
        std::printf("BusBroker.dll not found (error %lu)\n", GetLastError());
        return 1;
    }
    const MessageBusFunctions* table = library.table();
    if (table == nullptr) {
        std::printf("BusBroker.dll gave no function table\n");
        return 1;
    }

    Connection publisher(table), plainSide(table), clientSide(table);
    {
        MessageBusClient client(std::make_shared<MessageBusShimImpl>(clientSide.handle, table), nullptr);
        (void)client.subscribe(L"Bench.Client", [](const MessagePtr&) {
            countDelivered();
            return MODULE_STATUS_SUCCESS;
        });
        const std::uint32_t plainId = table->subscribe(plainSide.handle, nullptr, &plainSubscriber, L"Bench.Plain");

        // Thread scheduling on a shared machine makes single rounds noisy: alternate
        // short rounds and take the median.
        const long count = 20000;
        const int rounds = 21;
        const Comparison result =
            compareSideBySide([&] { return deliveredPerSecond(publisher, L"Bench.Plain", count); },
                              [&] { return deliveredPerSecond(publisher, L"Bench.Client", count); }, rounds);
        std::printf("messages per round                     : %12ld (median of %d alternating rounds)\n", count,
                    rounds);
        std::printf("broker -> plain function subscriber     : %12.0f msg/s\n", result.baseline);
        std::printf("broker -> bus client -> subscriber      : %12.0f msg/s\n", result.measured);
        std::printf("ratio (client path / plain subscriber)  : %12.2f\n", result.ratio);
        table->unsubscribe(plainSide.handle, plainId);
    }
    return 0;
}
