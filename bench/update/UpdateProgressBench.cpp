// "Core.Update.UpdateProgress" requests handled per second through the whole
// path (broker -> bus client -> update module handler -> JSON parse and store),
// against the broker delivering to a plain subscriber that does nothing, side
// by side in one run on the same broker and publisher.

#include "BrokerBench.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "update/UpdateModuleImp.h"

#include <cstdio>

using namespace benchsupport;
using Orvik::UpdateModuleImp;

int main()
{
    warnIfUnoptimised();
    Library library{Orvik::win::UniqueLibrary(LoadLibraryW(brokerPath().c_str()))};
    const MessageBusFunctions* table = library.module ? library.table() : nullptr;
    if (table == nullptr) {
        std::printf("BusBroker.dll not found or gave no table (error %lu)\n", GetLastError());
        return 1;
    }
    constexpr wchar_t kProgress[] = L"{\"timestamp\":1765200000000,\"status\":\"running\",\"percent\":40}";
    Connection publisher(table), plainSide(table), moduleSide(table);
    {
        UpdateModuleImp module(nullptr);
        MessageBusClient client(std::make_shared<MessageBusShimImpl>(moduleSide.handle, table), nullptr);
        (void)client.subscribe(L"Core.Update.UpdateProgress", [&module](const MessagePtr& request) {
            const ModuleStatus status = module.CallbackUpdateProgress(request);
            countDelivered();
            return status;
        });
        const std::uint32_t plainId = table->subscribe(plainSide.handle, nullptr, &plainSubscriber, L"Bench.Plain");

        const long count = 10000;
        const int rounds = 19;
        const Comparison result = compareSideBySide(
            [&] { return deliveredPerSecond(publisher, L"Bench.Plain", count, L"UpdateMsgrBridge", kProgress); },
            [&] {
                return deliveredPerSecond(publisher, L"Core.Update.UpdateProgress", count, L"UpdateMsgrBridge",
                                          kProgress);
            },
            rounds);
        std::printf("requests per round                          : %10ld (median of %d alternating rounds)\n",
                    count, rounds);
        std::printf("broker -> plain subscriber doing nothing    : %10.0f msg/s\n", result.baseline);
        std::printf("broker -> client -> progress handler -> JSON: %10.0f msg/s\n", result.measured);
        std::printf("ratio (handled / plain)                     : %10.2f\n", result.ratio);
        table->unsubscribe(plainSide.handle, plainId);
        if (module.latestProgress() != kProgress) {
            std::printf("the handler did not store the progress it was sent\n");
            return 1;
        }
    }
    return 0;
}
