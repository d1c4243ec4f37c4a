// Round trips per second of getProperty through the settings client, the
// broker and the sandbox settings service, against a bare request/reply on the
// same broker carrying the same request and reply texts (a responder that
// answers at once with a prepared reply). Both in one process, rounds
// alternating, median of the paired ratios.

#include "BrokerBench.h"
#include "SettingsService.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/MessageHeader.h"
#include "message/Reply.h"
#include "settings/SettingsManagerClient.h"

#include <chrono>
#include <cstdio>

using namespace benchsupport;
using namespace Orvik;

namespace {

constexpr wchar_t kName[] = L"Core.Update.UpdateResults";
constexpr wchar_t kValue[] = LR"({"timestamp":1765100000000,"status":"success"})";

template <typename Trip>
double tripsPerSecond(long count, Trip&& trip)
{
    const auto started = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        if (!trip())
            return 0;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    return count / elapsed.count();
}

} // namespace

int main()
{
    warnIfUnoptimised();
    try {
        auto serviceBus = std::make_shared<MessageBusClient>();
        auto echoBus = std::make_shared<MessageBusClient>();
        auto requester = std::make_shared<MessageBusClient>();
        sandbox::SettingsService service(serviceBus, L"");
        service.put(kName, kValue, true);
        auto client = SettingsManagerClient::getInstance();
        if (!client) {
            std::printf("the settings client could not bind BusBroker.dll beside the benchmark\n");
            return 1;
        }

        // The texts the settings path carries, answered by a bare responder.
        const std::wstring requestText = std::wstring(LR"({"name":")") + kName + L"\"}";
        const std::wstring replyText =
            std::wstring(LR"({"name":")") + kName + LR"(","status":true,"value":"{\"timestamp\":1765100000000,\"status\":\"success\"}"})";
        MessageBusClient* echo = echoBus.get();
        (void)echoBus->subscribe(L"Bench.Settings.Echo", [echo, &replyText](const MessagePtr& request) -> ModuleStatus {
            MessagePtr reply = createMessage(L"Bench.Settings.Echo.Reply", L"Echo", replyText);
            copyHeader(reply, request->getHeader());
            setFlag(*reply->getHeader(), kMessageFlagReply);
            return echo->publish(reply);
        });

        const TimeLimit limit(5000);
        const auto bare = [&] {
            ReplyPtr reply;
            return requester->request(createMessage(L"Bench.Settings.Echo", L"Bench", requestText), reply, limit) == 0 &&
                   reply->wait() == 0 && reply->getMessage() && reply->getMessage()->getPayload() == replyText;
        };
        const auto settings = [&] {
            std::wstring value;
            return client->getProperty(kName, value, limit) && value == kValue;
        };
        if (!bare() || !settings()) {
            std::printf("a round trip failed before measuring\n");
            return 1;
        }
        const long count = 2000;
        const int rounds = 11;
        const Comparison result = compareSideBySide([&] { return tripsPerSecond(count, bare); },
                                                    [&] { return tripsPerSecond(count, settings); }, rounds);
        std::printf("round trips per round                      : %10ld (median of %d alternating rounds)\n", count,
                    rounds);
        std::printf("bare request/reply, same texts             : %10.0f trips/s\n", result.baseline);
        std::printf("getProperty: client -> broker -> service   : %10.0f trips/s\n", result.measured);
        std::printf("ratio (getProperty / bare)                 : %10.2f  (target >= 0.5)\n", result.ratio);
        (void)echoBus->unsubscribe(L"Bench.Settings.Echo");
    } catch (const std::exception& error) {
        std::printf("benchmark failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
