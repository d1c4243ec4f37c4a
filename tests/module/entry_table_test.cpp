#include "LogCapture.h"
#include "Logging/Logger.h"
#include "Logging/LoggerTestSeam.h"
#include "module/BaseModule.h"
#include "entry/ModuleFunctions.h"
#include "entry/UpdateModule.h"
#include "settings/SettingsManager.h"

#include <algorithm>
#include "update/UpdateModuleImp.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace Orvik;
using testsupport::LogCapture;

namespace {

const ModuleEntryTable& entries()
{
    return *CreateObject();
}

// A module that is not a BaseModule, to see which entries care.
class PlainModule : public Module {
public:
    bool throwOnStart = false;
    int initializeCalls = 0;
    ModuleStatus initialize() override
    {
        ++initializeCalls;
        return 7;
    }
    ModuleStatus start() override
    {
        if (throwOnStart)
            throw std::runtime_error("boom");
        return 0;
    }
    ModuleStatus stop() override { throw 42; }
    ModuleStatus uninitialize() override { return 0x80000002; }
};

struct DestroyProbe {
    static int calls;
    static void destroy(Module* module)
    {
        ++calls;
        delete module;
    }
};
int DestroyProbe::calls = 0;

ModuleHandle handleFor(Module* module)
{
    return new ModuleHandleRecord{&DestroyProbe::destroy, module};
}

TEST(EntryTable, IsOneStaticTableInHostSlotOrder)
{
    const ModuleEntryTable* first = CreateObject();
    EXPECT_EQ(first, CreateObject());
    auto slots = reinterpret_cast<void* const*>(first);
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(nullptr, slots[i]) << i;
    EXPECT_EQ(reinterpret_cast<void*>(first->newModule), slots[0]);
    EXPECT_EQ(reinterpret_cast<void*>(first->initializeModuleV2), slots[7]);
    EXPECT_EQ(2001000u, GetVersionNum());
    EXPECT_STREQ("2.1.0", GetVersionStr());
    ReleaseObject();
}

TEST(EntryTable, NullHandlesAreRefusedWithTheirFixedLogRecords)
{
    LogCapture log;
    const auto& t = entries();
    const wchar_t* none[] = {nullptr};
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.newModule(nullptr, L"x"));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.destroyModule(nullptr));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.initializeModule(nullptr, L"", L"", 0, none, none, nullptr, nullptr));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.startModule(nullptr));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.stopModule(nullptr));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.uninitializeModule(nullptr));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.directMessage(nullptr, nullptr, L"n", L"s", L"p"));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER,
              t.initializeModuleV2(nullptr, L"", L"", 0, none, none, nullptr, nullptr, nullptr, nullptr));

    struct Expected {
        const wchar_t* text;
        const wchar_t* function;
        int line;
    };
    const Expected expected[] = {
        {L"Invalid handle address.", L"NewModule", 38}, {L"Invalid handle.", L"DestroyModule", 68},
        {L"Invalid handle.", L"InitializeModule", 86},  {L"Invalid handle.", L"StartModule", 127},
        {L"Invalid handle.", L"StopModule", 141},       {L"Invalid handle.", L"UninitializeModule", 155},
        {L"Invalid handle.", L"DirectMessage", 170},    {L"Invalid handle.", L"InitializeModuleV2", 192},
    };
    auto records = log.records();
    ASSERT_EQ(std::size(expected), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(4u, records[i].level);
        EXPECT_EQ(L"ModuleFunctions", records[i].file);
        EXPECT_EQ(expected[i].text, records[i].text);
        EXPECT_EQ(expected[i].function, records[i].function);
        EXPECT_EQ(expected[i].line, records[i].line);
    }
}

TEST(EntryTable, HandleWithoutModuleIsInvalidExceptForDestroy)
{
    LogCapture log;
    const auto& t = entries();
    ModuleHandle empty = handleFor(nullptr);
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.startModule(empty));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, t.directMessage(empty, nullptr, L"n", L"s", L"p"));
    const int before = DestroyProbe::calls;
    EXPECT_EQ(0u, t.destroyModule(empty)); // releases the record, destroys nothing
    EXPECT_EQ(before, DestroyProbe::calls);
}

TEST(EntryTable, BarrierTurnsAnyExceptionIntoUnknownException)
{
    LogCapture log;
    const auto& t = entries();
    auto* module = new PlainModule;
    module->throwOnStart = true;
    ModuleHandle handle = handleFor(module);
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, t.startModule(handle));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, t.stopModule(handle)); // a non-standard exception too
    EXPECT_EQ(0x80000002u, t.uninitializeModule(handle));              // statuses pass through as they are
    EXPECT_TRUE(log.records().empty());
    const int before = DestroyProbe::calls;
    EXPECT_EQ(0u, t.destroyModule(handle));
    EXPECT_EQ(before + 1, DestroyProbe::calls);
}

TEST(EntryTable, NonBaseModuleSkipsBaseInitialisationAndDirectMessages)
{
    const auto& t = entries();
    auto* module = new PlainModule;
    ModuleHandle handle = handleFor(module);
    // No bus is built for a module that is not a BaseModule: its own initialize answers.
    EXPECT_EQ(7u, t.initializeModule(handle, L"M", L"", 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1, module->initializeCalls);
    EXPECT_EQ(0u, t.directMessage(handle, nullptr, L"Core.Update.RunUpdate", L"peer", L"{}"));
    EXPECT_EQ(0u, t.destroyModule(handle));
}

TEST(EntryTable, NewModuleSetsTheLoggerGroupOnlyForANonEmptyName)
{
    const auto& t = entries();
    SetLoggerIdentity(nullptr, L"UpdateModule", nullptr, nullptr, 0);
    ModuleHandle handle = nullptr;
    ASSERT_EQ(0u, t.newModule(&handle, nullptr));
    EXPECT_STREQ(L"UpdateModule", ETWLogging::testing::identityGroupNameForTesting());
    EXPECT_EQ(0u, t.destroyModule(handle));

    ASSERT_EQ(0u, t.newModule(&handle, L""));
    EXPECT_STREQ(L"UpdateModule", ETWLogging::testing::identityGroupNameForTesting());
    EXPECT_EQ(0u, t.destroyModule(handle));

    static const wchar_t kHostName[] = L"HostGivenName";
    ASSERT_EQ(0u, t.newModule(&handle, kHostName));
    EXPECT_STREQ(kHostName, ETWLogging::testing::identityGroupNameForTesting());
    ASSERT_NE(nullptr, handle);
    EXPECT_NE(nullptr, dynamic_cast<UpdateModuleImp*>(handle->module));
    EXPECT_EQ(0u, t.destroyModule(handle));
    SetLoggerIdentity(nullptr, L"UpdateModule", nullptr, nullptr, 0);
}

TEST(EntryTable, PropertyMapKeepsTheFirstOfARepeatedName)
{
    const wchar_t* names[] = {L"a", L"b", L"a", nullptr};
    const wchar_t* values[] = {L"1", L"2", L"3", L"4"};
    auto map = internal::makePropertyMap(4, names, values);
    EXPECT_EQ(2u, map.size());
    EXPECT_EQ(L"1", map[L"a"]);
    EXPECT_EQ(L"2", map[L"b"]);
    EXPECT_TRUE(internal::makePropertyMap(0, names, values).empty());
    EXPECT_TRUE(internal::makePropertyMap(3, nullptr, values).empty());
}

TEST(ModuleCreation, LogsItsOutcomeAtTheFixedLines)
{
    LogCapture log;
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, createModule(nullptr));
    Module* module = nullptr;
    ASSERT_EQ(0u, createModule(&module));
    ASSERT_NE(nullptr, module);
    auto* base = dynamic_cast<BaseModule*>(module);
    ASSERT_NE(nullptr, base);
    EXPECT_TRUE(base->container()->isRegistered<SettingsManager>());
    destroyModule(module);
    destroyModule(nullptr);

    // Creation also binds the settings client's own bus, which logs on its own account.
    auto records = log.records();
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const auto& record) { return record.file != L"UpdateModule"; }),
                  records.end());
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(L"Invalid input", records[0].text);
    EXPECT_EQ(66, records[0].line);
    EXPECT_EQ(4u, records[0].level);
    EXPECT_EQ(L"Module creation succeeded", records[1].text);
    EXPECT_EQ(86, records[1].line);
    EXPECT_EQ(1u, records[1].level);
    EXPECT_EQ(L"Orvik::createModule", records[1].function);
    EXPECT_EQ(L"UpdateModule", records[1].file);
    EXPECT_EQ(L"Module destruction succeeded", records[2].text);
    EXPECT_EQ(92, records[2].line);
    EXPECT_EQ(L"Orvik::destroyModule", records[2].function);
    EXPECT_EQ(L"Module destruction succeeded", records[3].text);
}

} // namespace
