// The event-trace back end through a trace platform that plays a session:
// the exact event bytes, level mapping, the message cut, sessions coming and
// going, the registry overrides, its configuration record, and the builder.
#include "Logging/CETWLogging.h"
#include "Logging/CLogging.h"
#include "Logging/LoggingNames.h"
#include "registry/CRegKey.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

using namespace ETWLogging;

namespace {

class PlayedSession : public TracePlatform {
public:
    struct Event {
        TraceEventHeader header;
        std::vector<std::uint8_t> record;
        TRACEHANDLE session;
    };
    WMIDPREQUEST callback = nullptr;
    void* context = nullptr;
    GUID controlGuid{};
    GUID eventClassGuid{};
    int registrations = 0;
    int unregistrations = 0;
    std::map<TRACEHANDLE, UCHAR> levels;
    std::vector<Event> events;

    ULONG RegisterTraceGuids(WMIDPREQUEST cb, void* ctx, const GUID& control, const GUID& eventClass,
                             TRACEHANDLE* registration) override
    {
        ++registrations;
        callback = cb;
        context = ctx;
        controlGuid = control;
        eventClassGuid = eventClass;
        *registration = 0x1234;
        return 0;
    }
    ULONG UnregisterTraceGuids(TRACEHANDLE) override { return ++unregistrations, 0u; }
    TRACEHANDLE GetTraceLoggerHandle(void* buffer) override { return *static_cast<TRACEHANDLE*>(buffer); }
    UCHAR GetTraceEnableLevel(TRACEHANDLE session) override { return levels[session]; }
    ULONG GetTraceEnableFlags(TRACEHANDLE) override { return 0; }
    ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) override
    {
        Event event{};
        std::memcpy(&event.header, header, sizeof(TraceEventHeader));
        const auto* data = reinterpret_cast<const std::uint8_t*>(event.header.data.DataPtr);
        event.record.assign(data, data + event.header.data.Length);
        event.session = session;
        events.push_back(event);
        return 0;
    }

    ULONG control(WMIDPREQUESTCODE code, TRACEHANDLE session, UCHAR level = 0)
    {
        levels[session] = level;
        ULONG size = sizeof(session);
        return callback(code, context, &size, &session);
    }
};

struct Item {
    std::uint32_t tag;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::uint32_t number() const
    {
        std::uint32_t value = 0;
        std::memcpy(&value, data.data(), data.size() < 4 ? data.size() : 4);
        return value;
    }
    std::wstring text() const
    {
        return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    }
};

std::vector<Item> decode(const std::vector<std::uint8_t>& record)
{
    std::vector<Item> items;
    std::size_t at = 0;
    while (at + 10 <= record.size()) {
        Item item{};
        std::uint16_t length = 0;
        std::memcpy(&item.tag, &record[at], 4);
        std::memcpy(&item.type, &record[at + 4], 4);
        std::memcpy(&length, &record[at + 8], 2);
        at += 10;
        if (at + length > record.size())
            break;
        item.data.assign(record.begin() + at, record.begin() + at + length);
        at += length;
        items.push_back(item);
    }
    EXPECT_EQ(at, record.size()) << "the record ends with a whole item";
    return items;
}

// HKEY_LOCAL_MACHINE redirected to a scratch key of this process.
class TraceBackEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratchKey_ = L"Software\\UmTraceTest\\" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, scratchKey_.c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, scratch_.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_.get()));
    }
    void TearDown() override
    {
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        scratch_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchKey_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, scratchKey_.c_str());
    }
    static void setOverride(const std::wstring& path, const wchar_t* value, DWORD number)
    {
        Basalt::CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, path.c_str()));
        ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(value, number));
    }

    PlayedSession platform;

private:
    std::wstring scratchKey_;
    Orvik::win::UniqueRegKey scratch_;
};

TEST_F(TraceBackEnd, OneEventCarriesTheExactHeaderAndTenItems)
{
    CETWLogging trace(&platform);
    ASSERT_EQ(0u, trace.Initialize_ex(nullptr, L"G", nullptr, nullptr, nullptr));
    EXPECT_EQ(0, platform.registrations) << "the provider registers on the first write";
    ASSERT_EQ(0u, trace.PrepareWrite());
    ASSERT_EQ(0u, trace.PrepareWrite());
    EXPECT_EQ(1, platform.registrations);
    EXPECT_EQ(names::kDefaultProviderGuid, platform.controlGuid);
    EXPECT_EQ(names::kEventClassGuid, platform.eventClassGuid);

    ASSERT_EQ(0u, trace.WriteFormatted_ex(4, L"src\\x.cpp", L"Orvik::F::g", 42, L"hello %s"));
    ASSERT_EQ(1u, platform.events.size());
    const PlayedSession::Event& event = platform.events[0];
    EXPECT_EQ(64u, event.header.header.Size);
    EXPECT_EQ(1u, event.header.header.Class.Type);
    EXPECT_EQ(4u, event.header.header.Class.Level);
    EXPECT_EQ(1u, event.header.header.Class.Version);
    EXPECT_EQ(names::kEventClassGuid, event.header.header.Guid);
    EXPECT_EQ(0x00120000u, event.header.header.Flags);
    EXPECT_EQ(0u, event.session) << "no session attached yet";

    const std::vector<Item> items = decode(event.record);
    ASSERT_EQ(10u, items.size());
    const std::uint32_t tags[] = {4, 5, 13, 6, 7, 8, 9, 10, 11, 12};
    const std::uint32_t types[] = {2, 2, 4, 4, 5, 4, 4, 4, 4, 4};
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(tags[i], items[i].tag) << i;
        EXPECT_EQ(types[i], items[i].type) << i;
    }
    EXPECT_EQ(::GetCurrentProcessId(), items[0].number());
    EXPECT_EQ(::GetCurrentThreadId(), items[1].number());
    EXPECT_EQ(L"test_logging.exe", items[2].text());
    EXPECT_EQ(L"src\\x.cpp", items[3].text());
    EXPECT_EQ(42u, items[4].number());
    EXPECT_EQ(L"Orvik::F::g", items[5].text());
    EXPECT_EQ(LibraryVersionInfo::instance().fileName, items[6].text());
    EXPECT_EQ(LibraryVersionInfo::instance().version, items[7].text());
    EXPECT_EQ(L"G", items[8].text());
    EXPECT_EQ(L"hello %s", items[9].text()) << "a finished message is not formatted again";
}

TEST_F(TraceBackEnd, LevelsAreMappedAndLongMessagesCut)
{
    CETWLogging trace(&platform);
    ASSERT_EQ(0u, trace.Initialize_ex(nullptr, L"G", nullptr, nullptr, nullptr));
    trace.SetSeverity(4);
    EXPECT_FALSE(trace.IsLevelEnabled(1));
    EXPECT_TRUE(trace.IsLevelEnabled(3)) << "level 3 always passes";
    EXPECT_TRUE(trace.IsLevelEnabled(6));
    trace.WriteFormatted_ex(1, nullptr, nullptr, 0, L"filtered");
    trace.WriteFormatted_ex(6, nullptr, nullptr, 0, L"six");
    trace.WriteFormatted_ex(5, nullptr, nullptr, 0, std::wstring(3000, L'm').c_str());
    ASSERT_EQ(2u, platform.events.size());
    EXPECT_EQ(3u, platform.events[0].header.header.Class.Level);
    EXPECT_EQ(5u, platform.events[1].header.header.Class.Level);
    EXPECT_EQ(std::wstring(2079, L'm'), decode(platform.events[1].record)[9].text());
    EXPECT_EQ(3u, CETWLogging::MapLevel(6));
}

TEST_F(TraceBackEnd, OneSessionAtATimeAndTheRegistryHasTheLastWord)
{
    const std::wstring provider = names::kDefaultProviderKey;
    CETWLogging trace(&platform);
    ASSERT_EQ(0u, trace.Initialize_ex(nullptr, L"G", nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, trace.PrepareWrite());

    EXPECT_EQ(0u, platform.control(WMI_ENABLE_EVENTS, 0xA, 5));
    EXPECT_EQ(5u, trace.GetSeverity());
    EXPECT_TRUE(trace.IsSessionHandle(0xA));
    EXPECT_EQ(0u, platform.control(WMI_ENABLE_EVENTS, 0xB, 1));
    EXPECT_EQ(5u, trace.GetSeverity()) << "a second session is ignored";
    EXPECT_EQ(0u, platform.control(WMI_DISABLE_EVENTS, 0xB));
    EXPECT_TRUE(trace.IsEnabled()) << "nor can it switch the first one's logging off";
    trace.WriteFormatted_ex(5, nullptr, nullptr, 0, L"to A");
    ASSERT_EQ(1u, platform.events.size());
    EXPECT_EQ(0xAu, platform.events[0].session);

    // Overrides: the provider key, its group key, then group\module win in that order.
    setOverride(provider, names::kSeverityValue, 2);
    setOverride(provider + L"\\G", names::kEnableValue, 1);
    EXPECT_EQ(0u, platform.control(WMI_DISABLE_EVENTS, 0xA));
    EXPECT_FALSE(trace.IsSessionHandle(0xA));
    EXPECT_TRUE(trace.IsEnabled()) << "the registry keeps it enabled";
    EXPECT_EQ(0u, platform.control(WMI_ENABLE_EVENTS, 0xB, 5));
    EXPECT_EQ(2u, trace.GetSeverity()) << "the registry's severity wins over the session's";
    setOverride(provider + L"\\G\\test_logging", names::kSeverityValue, 4);
    setOverride(provider + L"\\G\\test_logging", names::kEnableValue, 0);
    EXPECT_EQ(0u, platform.control(WMI_ENABLE_EVENTS, 0xB, 1));
    EXPECT_EQ(4u, trace.GetSeverity()) << "the most specific key wins";
    EXPECT_FALSE(trace.IsEnabled());
    EXPECT_EQ(87u, trace.OnTraceControl(WMI_GET_ALL_DATA, nullptr));

    trace.Uninitialize();
    EXPECT_EQ(1, platform.unregistrations);
}

TEST_F(TraceBackEnd, ConfigurationComesFromTheApplicationKeyOrTheBuiltInDefaults)
{
    internal::ETWAppProperties defaults;
    ASSERT_TRUE(defaults.Load(nullptr));
    EXPECT_EQ(L"QMX", defaults.applicationName);
    EXPECT_EQ(names::kDefaultProviderGuid, defaults.providerGuid);
    EXPECT_EQ(std::wstring(names::kDefaultProviderKey), defaults.providerKeyPath);
    EXPECT_FALSE(defaults.Load(L"Again")) << "loads once";

    CETWLogging unknown(&platform);
    EXPECT_EQ(87u, unknown.Initialize_ex(L"Unknown", L"G", nullptr, nullptr, nullptr))
        << "only QMX has built-in defaults";

    const std::wstring app = std::wstring(names::kAppRootKey) + L"\\Acme";
    const GUID provider = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    {
        Basalt::CRegKey appKey;
        ASSERT_EQ(ERROR_SUCCESS, appKey.Create(HKEY_LOCAL_MACHINE, app.c_str()));
        Basalt::CObfuscatedRegKey session, providerKey, controller;
        ASSERT_EQ(ERROR_SUCCESS, session.Create(HKEY_LOCAL_MACHINE, (app + L"\\Session").c_str()));
        ASSERT_EQ(ERROR_SUCCESS, providerKey.Create(HKEY_LOCAL_MACHINE, (app + L"\\Provider").c_str()));
        ASSERT_EQ(ERROR_SUCCESS, controller.Create(HKEY_LOCAL_MACHINE, (app + L"\\Controller").c_str()));
        session.SetGUIDValue(names::kSessionIdGuidValue, provider);
        session.SetStringValue(names::kSessionNameValue, L"AcmeSession");
        controller.SetStringValue(names::kControllerPathValue, L"C:\\acme\\ctl.exe");
        controller.SetStringValue(names::kOwnerMutexNameValue, L"AcmeOwner");
        internal::ETWAppProperties incomplete;
        EXPECT_FALSE(incomplete.Load(L"Acme")) << "no provider GUID yet";
        providerKey.SetGUIDValue(names::kProviderGuidValue, provider);
    }
    internal::ETWAppProperties acme;
    ASSERT_TRUE(acme.Load(L"Acme"));
    EXPECT_EQ(provider, acme.providerGuid);
    EXPECT_EQ(L"AcmeSession", acme.sessionName);
    EXPECT_EQ(app + L"\\Provider", acme.providerKeyPath);
    EXPECT_EQ(acme.dataFolder + names::kDefaultEtlPath + L"\\zulogs.etl", acme.etlFilePath);
}

TEST_F(TraceBackEnd, TheBuilderChoosesByTheSelectorThenTheScrambledMechanism)
{
    CDefaultLogBuilder& builder = CDefaultLogBuilder::instance();
    const auto build = [&](std::int32_t selector, const wchar_t* group = L"BuilderTest") {
        CLoggingIf* built = nullptr;
        const bool ok = builder.Build_ex(nullptr, group, nullptr, nullptr, selector, &built, nullptr);
        std::unique_ptr<CLoggingIf> owned(built);
        return ok ? std::string(dynamic_cast<CLogging*>(built) != nullptr ? "file" : "trace") : std::string("none");
    };
    EXPECT_EQ("trace", build(0));
    EXPECT_EQ("file", build(1));
    EXPECT_EQ("none", build(0, L""));
    {
        Basalt::CObfuscatedRegKey logging;
        ASSERT_EQ(ERROR_SUCCESS, logging.Create(HKEY_LOCAL_MACHINE, names::kLoggingKey));
        ASSERT_EQ(ERROR_SUCCESS, logging.SetDWORDValue(names::kLoggingMechanismValue, names::kMechanismFile));
    }
    EXPECT_EQ("file", build(0));
    setOverride(names::kLoggingKey, names::kLoggingMechanismValue, 1); // plain: not the scrambled form
    EXPECT_EQ("trace", build(0));

    CLoggingIf* occupied = reinterpret_cast<CLoggingIf*>(&builder);
    EXPECT_FALSE(builder.Build(L"G", nullptr, nullptr, 1, &occupied, nullptr)) << "the output slot must be empty";
}

} // namespace
