// The agent handle against the sandbox agent, through validated COM creation.
#include "AgentEnvironment.h"
#include "LogCapture.h"
#include "../../sandbox/agent/ZuSandboxAgent.h"
#include "trust/SignedLibraryValidation.h"
#include "win/ComApartment.h"
#include "win/ComPtr.h"
#include "update/ZuUpdateAgentHandle.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace Orvik;
using testsupport::AgentCallLog;
using testsupport::LogCapture;
using testsupport::ScopedEnvironment;
using Calls = std::vector<std::string>;

namespace {

class AgentHandle : public ::testing::Test {
protected:
    win::ComApartment apartment;
    LogCapture log;
    AgentCallLog agentCalls;
    ZuUpdateAgentHandle handle;

    void SetUp() override { ASSERT_TRUE(apartment.succeeded()); }
    bool logged(const std::wstring& text, std::uint32_t level)
    {
        for (const auto& r : log.records())
            if (r.text == text && r.level == level && r.file == L"ZuUpdateAgentHandle")
                return true;
        return false;
    }
};

TEST_F(AgentHandle, ChangeStateWritesTheOptionAsText)
{
    bool enable = true;
    std::int32_t option = -1;
    EXPECT_EQ(0u, handle.changeState(LR"({"state":"OFF","option":2})", enable, option));
    EXPECT_FALSE(enable);
    EXPECT_EQ(0, option);
    EXPECT_EQ(0u, handle.changeState(LR"({"state":"on"})", enable, option));
    EXPECT_TRUE(enable);
    EXPECT_EQ(3, option);
    EXPECT_EQ(0u, handle.changeState(LR"({"state":"On","option":1})", enable, option));
    EXPECT_EQ(0u, handle.changeState(LR"({"state":"on","option":-5})", enable, option));
    EXPECT_EQ((Calls{"SetProperty(default,autochk,0)", "SetProperty(default,autochk,3)",
                     "SetProperty(default,autochk,1)", "SetProperty(default,autochk,-5)"}),
              agentCalls.calls());
    EXPECT_TRUE(logged(L"Setting PackageID: 'default', PropertName: 'autochk', PropertyValue: '1'", 1));

    std::int32_t value = 0;
    EXPECT_EQ(0u, handle.changeState(LR"({"state":"on","option":2})", enable, option));
    EXPECT_EQ(0u, handle.getUpdateSetting(value));
    EXPECT_EQ(2, value);
}

TEST_F(AgentHandle, BadChangeRequestsFailBeforeTheAgentIsCreated)
{
    // Creation would fail: a parse failure must come first and alone.
    ScopedEnvironment failCreation(L"ZU_AGENT_CREATE_RESULT", L"0x80004005");
    bool enable = false;
    std::int32_t option = 0;
    for (const wchar_t* payload : {LR"({"state":"maybe"})", LR"({"option":1})", L"not json", LR"({"state":5})"}) {
        log.clear();
        EXPECT_EQ(0x80000002u, handle.changeState(payload, enable, option)) << payload;
        EXPECT_TRUE(logged(std::wstring(L"Error parsing the change state request '") + payload + L"'", 4));
        EXPECT_FALSE(log.contains(L"Failed to create"));
    }
    EXPECT_TRUE(agentCalls.calls().empty());
    log.clear();
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, handle.changeState(LR"({"state":"maybe"})", enable, option));
    EXPECT_TRUE(logged(L"Invalid 'state': maybe", 4));
}

TEST_F(AgentHandle, RefusedPropertyWriteIsReported)
{
    ScopedEnvironment refuse(L"ZU_AGENT_SETPROPERTY_RESULT", L"0x80004005");
    bool enable = false;
    std::int32_t option = 0;
    EXPECT_EQ(0x80000002u, handle.changeState(LR"({"state":"on"})", enable, option));
    EXPECT_TRUE(logged(L"Error applying the change of state", 4));
}

TEST_F(AgentHandle, UpdateSettingDefaultsToThreeAndConvertsLikeStoi)
{
    std::int32_t value = -1;
    {
        ScopedEnvironment absent(L"ZU_AGENT_GETPROPERTY_RESULT", L"0x80070490");
        EXPECT_EQ(0u, handle.getUpdateSetting(value));
        EXPECT_EQ(3, value);
        EXPECT_TRUE(logged(L"Setting default 'Setting: 3'", 3));
    }
    {
        ScopedEnvironment text(L"ZU_AGENT_AUTOCHK", L"  2 and more");
        EXPECT_EQ(0u, handle.getUpdateSetting(value));
        EXPECT_EQ(2, value);
    }
    {
        ScopedEnvironment text(L"ZU_AGENT_AUTOCHK", L"abc");
        EXPECT_THROW((void)handle.getUpdateSetting(value), std::invalid_argument);
    }
    {
        ScopedEnvironment text(L"ZU_AGENT_AUTOCHK", L"99999999999");
        EXPECT_THROW((void)handle.getUpdateSetting(value), std::out_of_range);
    }
}

TEST_F(AgentHandle, PersonalizeBuildsTheAppIdList)
{
    EXPECT_EQ(0u, handle.personalize(LR"({"products":["A","B"]})"));
    EXPECT_EQ(0u, handle.personalize(LR"({"products":[" A "]})"));
    EXPECT_EQ(0u, handle.personalize(LR"({"products":["A B","  "]})"));
    EXPECT_EQ((Calls{"Install(default,A;B;)", "Install(default,A ;)", "Install(default,A B;  ;)"}),
              agentCalls.calls());
}

TEST_F(AgentHandle, PersonalizeRefusesMissingOrEmptyProducts)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {LR"({"products":[]})", L"Empty products"},
        {LR"({"products":[""]})", L"Empty products"},
        {LR"({"products":"A"})", L"Failed to parse Json: {\"products\":\"A\"}"},
        {LR"({"other":["A"]})", L"Failed to parse Json: {\"other\":[\"A\"]}"},
        {LR"({"products":["A",1]})", L"Failed to parse Json: {\"products\":[\"A\",1]}"},
    };
    for (const auto& [payload, reason] : cases) {
        log.clear();
        EXPECT_EQ(0x80000002u, handle.personalize(payload)) << payload;
        EXPECT_TRUE(logged(reason, 4)) << payload;
        EXPECT_TRUE(logged(std::wstring(L"Error parsing the App ID list \"") + payload + L"\"", 4));
    }
    EXPECT_TRUE(agentCalls.calls().empty());
}

TEST_F(AgentHandle, InstallResultsMapToStatuses)
{
    {
        ScopedEnvironment busy(L"ZU_AGENT_INSTALL_RESULT", L"1");
        EXPECT_EQ(0x80000002u, handle.personalize(LR"({"products":["A"]})"));
        EXPECT_TRUE(logged(L"Another instance of update manager has already beening running", 3));
        EXPECT_TRUE(logged(L"Error installing.", 4));
    }
    {
        ScopedEnvironment failed(L"ZU_AGENT_INSTALL_RESULT", L"0x80070005");
        EXPECT_EQ(0x80000002u, handle.personalize(LR"({"products":["A"]})"));
        EXPECT_TRUE(logged(L"Failed to call Install error is 0x80070005", 3));
    }
    {
        ScopedEnvironment other(L"ZU_AGENT_INSTALL_RESULT", L"2");
        EXPECT_EQ(0u, handle.personalize(LR"({"products":["A"]})"));
    }
}

TEST_F(AgentHandle, StartUpdateTrimsThePackageAndMapsResults)
{
    EXPECT_EQ(0u, handle.startUpdate(L"   "));
    EXPECT_EQ(0u, handle.startUpdate(L" pkg\t"));
    {
        ScopedEnvironment alreadyRunning(L"ZU_AGENT_STARTUPDATE_RESULT", L"1");
        EXPECT_EQ(0u, handle.startUpdate(L""));
    }
    {
        ScopedEnvironment failed(L"ZU_AGENT_STARTUPDATE_RESULT", L"0x80004005");
        EXPECT_EQ(0x80000002u, handle.startUpdate(L""));
        EXPECT_TRUE(logged(L"Failed to Start update error is 0x80004005", 3));
    }
    EXPECT_EQ((Calls{"StartUpdate(default)", "StartUpdate(pkg)", "StartUpdate(default)", "StartUpdate(default)"}),
              agentCalls.calls());
    EXPECT_TRUE(logged(L"Start update", 1));
}

TEST_F(AgentHandle, CreationFailureIsReportedAndRetriedNextTime)
{
    {
        ScopedEnvironment failCreation(L"ZU_AGENT_CREATE_RESULT", L"0x80004005");
        EXPECT_EQ(0x80000002u, handle.startUpdate(L""));
        EXPECT_TRUE(logged(L"Failed to create IID_IZuUpdateAgent instance - error 0x80004005", 4));
        std::int32_t value = 0;
        EXPECT_EQ(0x80000002u, handle.getUpdateSetting(value));
        EXPECT_TRUE(logged(L"Error: It was not possible to get the Update setting", 4));
    }
    {
        // Success without an object is a failure too, not a call through null.
        ScopedEnvironment nullObject(L"ZU_AGENT_CREATE_RESULT", L"null");
        EXPECT_EQ(0x80000002u, handle.startUpdate(L""));
        EXPECT_TRUE(logged(L"Failed to create IID_IZuUpdateAgent instance - error 0x0", 4));
    }
    EXPECT_EQ(0u, handle.startUpdate(L""));
}

TEST(ValidatedAgentCreation, UnsignedCopyOfTheServerIsRefused)
{
    win::ComApartment apartment;
    win::ComPtr<IZuUpdateAgent> agent;
    EXPECT_EQ(E_ACCESSDENIED, createVerifiedInstance(CLSID_ZuUpdateAgentUnsignedCopy, nullptr, 23,
                                                     IID_IZuUpdateAgent, agent.putVoid(), true));
    EXPECT_FALSE(agent);
    EXPECT_EQ(S_OK, createVerifiedInstance(CLSID_ZuUpdateAgent, nullptr, 23, IID_IZuUpdateAgent, agent.putVoid(),
                                           true));
    EXPECT_TRUE(agent);
}

} // namespace
