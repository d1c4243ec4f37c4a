// The settings client against a scripted bus: request shapes, every way a
// reply can fail its checks, the typed conversions and the notification handlers.
#include "FakeBus.h"
#include "LogCapture.h"
#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "settings/SettingsManagerClient.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace Orvik;
using testsupport::FakeBus;
using testsupport::LogCapture;

namespace {

const SettingsManager::TimeLimit kLimit{5000};

// The payload of the last request the client made.
JSONFormatter lastPayload(const FakeBus& bus)
{
    const std::vector<MessagePtr> sent = bus.messages(FakeBus::Call::Request);
    JSONFormatter payload;
    EXPECT_TRUE(!sent.empty() && payload.parse(sent.back()->getPayload()));
    return payload;
}

class SettingsClient : public ::testing::Test {
protected:
    LogCapture log;
    std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    SettingsManagerClient client{bus};
};

TEST_F(SettingsClient, RequestsCarryTheirNamesSenderAndValueTexts)
{
    bus->replyPayload = L"{\"name\":\"p\",\"status\":true}";
    const struct {
        std::function<bool()> call;
        const wchar_t* value;
        bool isVolatile;
    } cases[] = {
        {[&] { return client.setProperty(L"p", true, kLimit); }, L"1", false},
        {[&] { return client.setProperty(L"p", 1.5, kLimit); }, L"1.5", false},
        {[&] { return client.setProperty(L"p", 0.1, kLimit); }, L"0.1", false},
        {[&] { return client.setVolatileProperty(L"p", 1.5, kLimit); }, L"1.500000", true},
        {[&] { return client.setProperty(L"p", -42LL, kLimit); }, L"-42", false},
        {[&] { return client.setVolatileProperty(L"p", 4294967295u, kLimit); }, L"4294967295", true},
        {[&] { return client.setProperty(L"p", L"text", kLimit); }, L"text", false},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.call()) << c.value;
        EXPECT_EQ(L"SETTINGS_MANAGER_SET_PROPERTY", bus->calls().back().message->getName());
        EXPECT_EQ(L"SettingsManagerClient", bus->calls().back().message->getSender());
        const JSONFormatter payload = lastPayload(*bus);
        std::wstring value;
        bool isVolatile = !c.isVolatile;
        EXPECT_TRUE(payload.getString(L"value", value));
        EXPECT_TRUE(payload.getBool(L"volatile", isVolatile));
        EXPECT_EQ(c.value, value);
        EXPECT_EQ(c.isVolatile, isVolatile);
    }

    bus->replyPayload = L"{\"responses\":[]}";
    SettingsManager::PropertyValues values;
    client.getPropertiesByPrefix(L"Core.", values, kLimit);
    EXPECT_EQ(L"SettingsManager.GetProperties.Request", bus->calls().back().message->getName());
    std::vector<JSONFormatter> elements;
    ASSERT_TRUE(lastPayload(*bus).getObjectArray(L"properties", elements));
    ASSERT_EQ(1u, elements.size());
    bool isPrefix = false;
    EXPECT_TRUE(elements[0].getBool(L"isPrefix", isPrefix));
    EXPECT_TRUE(isPrefix);
}

// Every way a single-property reply can fail, each with its one log text.
TEST_F(SettingsClient, SingleRepliesThatFailTheirChecksFailWithTheirMessage)
{
    const struct {
        const char* situation;
        ModuleStatus requestStatus;
        std::int32_t replyStatus;
        std::wstring payload;
        bool isGet;
        const wchar_t* logged;
    } cases[] = {
        {"request refused", MODULE_STATUS_NOT_FOUND, 0, L"", true,
         L"Failed to make get property request. Error code: "},
        {"timed out", 0, 2, L"", true, L"Property request timed out. Returning."},
        {"data error", 0, 3, L"", false, L"Property request failed with DATA_ERROR. Returning."},
        {"unknown wait status", 0, 7, L"", true, L"Property request failed on wait() with unknown error."},
        {"not JSON", 0, 0, L"{oops", true, L"Failed to parse settings manager response message. Returning."},
        {"no name", 0, 0, L"{\"status\":true,\"value\":\"v\"}", true,
         L"Failed to read settings manager response property name."},
        {"other name", 0, 0, L"{\"name\":\"P\",\"status\":true,\"value\":\"v\"}", true,
         L"Response property name (P) does not match expected property name (p)."},
        {"get without status", 0, 0, L"{\"name\":\"p\",\"value\":\"v\"}", true,
         L"Failed to read settings manager response status."},
        {"get without value", 0, 0, L"{\"name\":\"p\",\"status\":true}", true,
         L"Failed to read settings manager response value."},
        {"set refused", 0, 0, L"{\"name\":\"p\",\"status\":false}", false,
         L"Settings Manager failed to set property value."},
    };
    for (const auto& c : cases) {
        log.clear();
        bus->answer = FakeBus::refusing(FakeBus::Call::Request, L"", c.requestStatus);
        bus->replyStatus = c.replyStatus;
        bus->replyPayload = c.payload;
        std::wstring value = L"untouched";
        const bool ok = c.isGet ? client.getProperty(L"p", value, kLimit) : client.setProperty(L"p", L"v", kLimit);
        EXPECT_FALSE(ok) << c.situation;
        EXPECT_EQ(L"untouched", value) << c.situation;
        EXPECT_EQ(1u, log.matching(c.logged).size()) << c.situation;
    }
    // A false status on a get fails without a message.
    log.clear();
    bus->answer = nullptr;
    bus->replyStatus = 0;
    bus->replyPayload = L"{\"name\":\"p\",\"status\":false}";
    std::wstring value;
    EXPECT_FALSE(client.getProperty(L"p", value, kLimit));
    EXPECT_TRUE(log.records().empty());
}

TEST_F(SettingsClient, TypedGettersConvertLikeTheStandardConversions)
{
    const auto reply = [&](const std::wstring& text) {
        bus->replyPayload = L"{\"name\":\"p\",\"status\":true,\"value\":\"" + text + L"\"}";
        log.clear();
    };
    int number = 7;
    reply(L"12abc");
    EXPECT_TRUE(client.getProperty(L"p", number, kLimit));
    EXPECT_EQ(12, number);
    reply(L"abc");
    EXPECT_FALSE(client.getProperty(L"p", number, kLimit));
    EXPECT_EQ(12, number);
    EXPECT_TRUE(log.contains(L"Conversion failed due to invalid arguments."));
    reply(L"99999999999");
    EXPECT_FALSE(client.getProperty(L"p", number, kLimit));
    EXPECT_TRUE(log.contains(L"Conversion failed, out of range for destination type."));

    unsigned int small = 0;
    reply(L"4294967296");
    EXPECT_FALSE(client.getProperty(L"p", small, kLimit));
    EXPECT_TRUE(log.contains(L"out of range"));
    reply(L" 4294967295");
    EXPECT_TRUE(client.getProperty(L"p", small, kLimit));
    EXPECT_EQ(4294967295u, small);

    bool flag = false;
    reply(L"2");
    EXPECT_TRUE(client.getProperty(L"p", flag, kLimit));
    EXPECT_TRUE(flag);
    reply(L"true");
    EXPECT_FALSE(client.getProperty(L"p", flag, kLimit));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(log.contains(L"invalid arguments"));

    long long big = 0;
    reply(L"-9000000000");
    EXPECT_TRUE(client.getProperty(L"p", big, kLimit));
    EXPECT_EQ(-9000000000LL, big);
}

TEST_F(SettingsClient, UnsignedGettersRefuseNegativeTextsAlike)
{
    const struct {
        const wchar_t* text; // as it stands in the JSON reply
        bool read; // else refused as out of range, value untouched
    } cases[] = {
        {L"-1", false}, {L" \\t-1", false}, {L"-18446744073709551615", false}, {L"-0", true}, {L" -0x", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        bus->replyPayload = std::wstring(L"{\"name\":\"p\",\"status\":true,\"value\":\"") + c.text + L"\"}";
        log.clear();
        unsigned int small = 7;
        unsigned long second = 7;
        unsigned long long wide = 7;
        EXPECT_EQ(c.read, client.getProperty(L"p", small, kLimit));
        EXPECT_EQ(c.read, client.getProperty(L"p", second, kLimit));
        EXPECT_EQ(c.read, client.getProperty(L"p", wide, kLimit));
        const unsigned long long expected = c.read ? 0 : 7;
        EXPECT_EQ(expected, small);
        EXPECT_EQ(expected, second);
        EXPECT_EQ(expected, wide);
        // One out-of-range line per refusal and nothing else.
        const std::size_t refusals = c.read ? 0 : 3;
        EXPECT_EQ(refusals, log.records().size());
        EXPECT_EQ(refusals, log.matching(L"Conversion failed, out of range for destination type.").size());
    }
}

TEST_F(SettingsClient, ListRepliesFillOnlyWhatCameBackWell)
{
    bus->replyPayload = L"{\"responses\":[{\"name\":\"a\",\"status\":true,\"value\":\"1\"},"
                        L"{\"name\":\"x\",\"status\":true,\"value\":\"2\"},{\"status\":true}]}";
    SettingsManager::PropertyValues values;
    const auto results = client.getProperties({L"a", L"b", L"b"}, values, kLimit);
    EXPECT_EQ((SettingsManager::PropertyResults{{L"a", true}, {L"b", false}}), results);
    EXPECT_EQ((SettingsManager::PropertyValues{{L"a", L"1"}}), values);
    EXPECT_TRUE(log.contains(L"Received an unexpected setting property. Name: x."));
    EXPECT_TRUE(log.contains(L"Failed to read settings property response name."));

    bus->replyStatus = 2;
    EXPECT_EQ((SettingsManager::PropertyResults{{L"a", false}}), client.removeProperties({L"a"}, kLimit));
    EXPECT_TRUE(log.contains(L"Property list request timed out. Returning."));
    EXPECT_TRUE(log.contains(L"Failed to parse remove properties response. Error code: "));

    bus->replyStatus = 0;
    bus->replyPayload = L"{\"responses\":[{\"name\":\"a.1\",\"status\":true},{\"name\":\"a.2\",\"status\":false}]}";
    const auto removed = client.removePropertiesByPrefix(L"a.", kLimit);
    EXPECT_EQ((SettingsManager::PropertyResults{{L"a.", false}, {L"a.1", true}}), removed);
    EXPECT_TRUE(log.contains(L"Settings Manager failed to remove property. Property Name: a.2"));
}

// Every operation on several properties sends one { "properties": [...] }
// list, and a refused request is reported once under the operation's name.
TEST_F(SettingsClient, ListRequestsShareOneShapeAndReportARefusalUnderTheirOperation)
{
    SettingsManager::PropertyValues values;
    const struct {
        std::function<SettingsManager::PropertyResults()> call;
        const wchar_t* message;
        const wchar_t* element;
        const wchar_t* function;
        const wchar_t* refused;
    } cases[] = {
        {[&] { return client.setProperties({{L"a", L"1"}}, kLimit); }, L"SettingsManager.SetProperties.Request",
         LR"({"name":"a","value":"1","volatile":false})", L"Orvik::SettingsManagerClient::Impl::sendSetPropertiesRequest",
         L"Failed to make set properties request. Error code: MODULE_STATUS_NOT_FOUND(2147483658)"},
        {[&] { return client.setVolatileProperties({{L"a", L"1"}}, kLimit); }, L"SettingsManager.SetProperties.Request",
         LR"({"name":"a","value":"1","volatile":true})", L"Orvik::SettingsManagerClient::Impl::sendSetPropertiesRequest",
         L"Failed to make set properties request. Error code: MODULE_STATUS_NOT_FOUND(2147483658)"},
        {[&] { return client.getProperties({L"a"}, values, kLimit); }, L"SettingsManager.GetProperties.Request",
         LR"({"name":"a"})", L"Orvik::SettingsManagerClient::getProperties",
         L"Failed to make get properties request. Error code: MODULE_STATUS_NOT_FOUND(2147483658)"},
        {[&] { return client.removeProperties({L"a"}, kLimit); }, L"SettingsManager.RemoveProperties.Request",
         LR"({"name":"a"})", L"Orvik::SettingsManagerClient::removeProperties",
         L"Failed to make remove properties request. Error code: MODULE_STATUS_NOT_FOUND(2147483658)"},
        {[&] { return client.removePropertiesByPrefix(L"a", kLimit); }, L"SettingsManager.RemoveProperties.Request",
         LR"({"name":"a","isPrefix":true})", L"Orvik::SettingsManagerClient::removePropertiesByPrefix",
         L"Failed to make remove properties by prefix request. Error code: MODULE_STATUS_NOT_FOUND(2147483658)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        bus->answer = nullptr;
        bus->replyPayload = L"{\"responses\":[]}";
        c.call();
        EXPECT_EQ(c.message, bus->calls().back().message->getName());
        std::vector<JSONFormatter> elements;
        ASSERT_TRUE(lastPayload(*bus).getObjectArray(L"properties", elements));
        ASSERT_EQ(1u, elements.size());
        EXPECT_EQ(c.element, elements[0].toString());

        log.clear();
        bus->answer = FakeBus::refusing(FakeBus::Call::Request, L"", MODULE_STATUS_NOT_FOUND);
        EXPECT_EQ((SettingsManager::PropertyResults{{L"a", false}}), c.call());
        const auto refusals = log.matching(c.refused);
        ASSERT_EQ(1u, refusals.size());
        EXPECT_EQ(c.function, refusals[0].function);
        EXPECT_EQ(2u, refusals[0].level);
    }
}

TEST_F(SettingsClient, NotificationsThatCannotBeReadAreRefusedWithoutCallingBack)
{
    std::vector<std::wstring> seen;
    ASSERT_TRUE(client.watchPropertySet([&](const std::wstring& name) { seen.push_back(name); }, L"p"));
    ASSERT_TRUE(client.watchPrefixSet(
        [&](const std::wstring& name, const std::wstring& value) { seen.push_back(name + L"=" + value.substr(0, 3)); },
        L"Core.Update."));
    const std::wstring exact = L"SETTINGS_MANAGER_PROPERTY_SET";
    const std::wstring prefixed = bus->calls().back().alias;
    ASSERT_EQ(bus->calls().back().name, prefixed);
    const auto deliver = [&](const std::wstring& alias, const std::wstring& payload) {
        return bus->deliver(alias, L"S", payload);
    };

    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, deliver(exact, L"not json"));
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, deliver(exact, L"{\"value\":\"v\"}"));
    EXPECT_EQ(0u, deliver(exact, L"{\"name\":\"other\"}"));
    EXPECT_EQ(0u, deliver(exact, L"{\"name\":\"p\"}"));
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, deliver(prefixed, L"{\"name\":\"Core.Update.x\"}"));
    const std::wstring huge(1 << 20, L'v');
    EXPECT_EQ(0u, deliver(prefixed, L"{\"name\":\"Core.Update.x\",\"value\":\"" + huge + L"\"}"));
    EXPECT_EQ((std::vector<std::wstring>{L"p", L"Core.Update.x=vvv"}), seen);
    EXPECT_TRUE(log.contains(L"Failed to parse setting property data."));
    EXPECT_TRUE(log.contains(L"Failed to read setting property name."));
    EXPECT_TRUE(log.contains(L"Failed to read setting value."));
}

// A prefix is matched as written; its pattern characters are not syntax.
TEST_F(SettingsClient, PrefixWatchesMatchThePrefixLiterally)
{
    const auto lastPattern = [&] { return bus->calls().back().name; };
    ASSERT_TRUE(client.watchPrefixSet([](const std::wstring&, const std::wstring&) {}, L"Core.Update."));
    EXPECT_EQ(L"^SettingsManager.Notify.Set.Core\\.Update\\..*", lastPattern());
    ASSERT_TRUE(client.watchPrefixDelete([](const std::wstring&) {}, L"a(b*"));
    const std::wstring pattern = lastPattern();
    EXPECT_EQ(L"^SettingsManager.Notify.Delete.a\\(b\\*.*", pattern);
    EXPECT_TRUE(client.unwatchPrefixDelete(L"a(b*"));
    EXPECT_EQ(FakeBus::Call::Unsubscribe, bus->calls().back().call);
    EXPECT_EQ(pattern, lastPattern());
    // An empty prefix watches nothing and succeeds.
    const std::size_t before = bus->calls().size();
    EXPECT_TRUE(client.watchPrefixSet([](const std::wstring&, const std::wstring&) {}, L""));
    EXPECT_TRUE(client.unwatchPrefixSet(L""));
    EXPECT_EQ(before, bus->calls().size());
}

} // namespace
