#include "LogCapture.h"
#include "Logging/CLogger.h"
#include "Logging/LoggerHolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Basalt::CLogger;

namespace {

struct Delivered {
    std::int32_t type;
    std::wstring file;
    std::wstring function;
    std::uint32_t line;
    std::wstring message;
};

class RecordingHandler : public Basalt::ILoggingHandler {
public:
    std::vector<Delivered> messages;
    void HandleMessage(std::int32_t type, const wchar_t* file, const wchar_t* function, std::uint32_t line,
                       const wchar_t* message) override
    {
        messages.push_back({type, file, function, line, message});
    }
};

bool endsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::wstring hex(const void* p)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

// Each test starts and ends with an empty handler slot.
class CoreLogger : public ::testing::Test {
protected:
    void SetUp() override { clearSlot(); }
    void TearDown() override { clearSlot(); }
    static void clearSlot()
    {
        if (Basalt::ILoggingHandler* h = CLogger::RegisteredHandler()) {
            ASSERT_EQ(0u, CLogger::UnregisterHandler(h));
        }
    }
    RecordingHandler first;
    RecordingHandler second;
};

TEST_F(CoreLogger, RegisteringNullIsRefusedWithCode87)
{
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_EQ(87u, CLogger::RegisterHandler(nullptr));
    ASSERT_EQ(1u, first.messages.size());
    const Delivered& m = first.messages[0];
    EXPECT_EQ(2, m.type);
    EXPECT_EQ(L"Logging\\internal_logging", m.file);
    EXPECT_EQ(L"Basalt::CLogger::RegisterHandler", m.function);
    EXPECT_EQ(57u, m.line);
    EXPECT_TRUE(endsWith(m.message, L": Cannot Register (NULL) handler")) << std::string(m.message.begin(), m.message.end());
    EXPECT_GT(m.message.size(), std::wstring(L": Cannot Register (NULL) handler").size()); // system text first
    EXPECT_EQ(&first, CLogger::RegisteredHandler());
}

TEST_F(CoreLogger, ReRegisteringOrReplacingTheDefaultSucceedsSilently)
{
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_TRUE(first.messages.empty());
    ASSERT_EQ(0u, CLogger::UnregisterHandler(&first));

    ASSERT_EQ(0u, CLogger::RegisterHandler(&Basalt::CDefaultLoggingHandler::instance()));
    EXPECT_EQ(0u, CLogger::RegisterHandler(&second));
    EXPECT_EQ(&second, CLogger::RegisteredHandler());
    EXPECT_TRUE(second.messages.empty());
}

TEST_F(CoreLogger, AnotherHandlerCannotReplaceTheRegisteredOne)
{
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_EQ(5023u, CLogger::RegisterHandler(&second));
    EXPECT_EQ(&first, CLogger::RegisteredHandler());
    ASSERT_EQ(1u, first.messages.size());
    EXPECT_EQ(67u, first.messages[0].line);
    EXPECT_TRUE(endsWith(first.messages[0].message,
                         L": Registered Logging Handler " + hex(&first) + L" cannot be replaced with " + hex(&second)));
    EXPECT_TRUE(second.messages.empty());
}

TEST_F(CoreLogger, UnregisterRules)
{
    // Null.
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_EQ(87u, CLogger::UnregisterHandler(nullptr));
    ASSERT_EQ(1u, first.messages.size());
    EXPECT_EQ(92u, first.messages[0].line);
    EXPECT_EQ(L"Basalt::CLogger::UnregisterHandler", first.messages[0].function);

    // Someone else's handler: both the registered one and the asker hear of it.
    first.messages.clear();
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&second));
    EXPECT_EQ(&first, CLogger::RegisteredHandler());
    ASSERT_EQ(1u, first.messages.size());
    ASSERT_EQ(1u, second.messages.size());
    EXPECT_EQ(110u, first.messages[0].line);
    EXPECT_EQ(115u, second.messages[0].line);
    const std::wstring tail = L": Failed to Unregister Logging handler (requested handler " + hex(&second) +
                              L" != registered handler " + hex(&first) + L")";
    EXPECT_TRUE(endsWith(first.messages[0].message, tail));
    EXPECT_EQ(first.messages[0].message, second.messages[0].message);

    // Nothing registered: the message goes to the asker and the slot stays empty.
    ASSERT_EQ(0u, CLogger::UnregisterHandler(&first));
    second.messages.clear();
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&second));
    EXPECT_EQ(nullptr, CLogger::RegisteredHandler());
    ASSERT_EQ(1u, second.messages.size());
    EXPECT_EQ(102u, second.messages[0].line);
    EXPECT_TRUE(endsWith(second.messages[0].message,
                         L": Request to Unregister Logging handler " + hex(&second) + L", but none are registered"));
}

TEST_F(CoreLogger, LogInstallsTheDefaultHandlerWhenNoneIsRegistered)
{
    CLogger::Log(1, L"core", L"fn", 3, L"hello %s %d", L"world", 5);
    EXPECT_EQ(&Basalt::CDefaultLoggingHandler::instance(), CLogger::RegisteredHandler());
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    CLogger::Log(7, L"core", L"fn", 4, L"%s-%d", L"formatted", 12);
    ASSERT_EQ(1u, first.messages.size());
    EXPECT_EQ(7, first.messages[0].type);
    EXPECT_EQ(L"formatted-12", first.messages[0].message);
    EXPECT_EQ(4u, first.messages[0].line);
}

TEST(BasaltBridge, MapsCoreTypesToLevels)
{
    testsupport::LogCapture log;
    auto& bridge = ETWLogging::CBasaltLogHandler::instance();
    bridge.HandleMessage(0, L"core", L"fn", 1, L"type0");
    bridge.HandleMessage(1, L"core", L"fn", 2, L"type1");
    bridge.HandleMessage(2, L"core", L"fn", 3, L"type2");
    bridge.HandleMessage(7, L"core", L"fn", 4, L"type7");
    auto records = log.records();
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(1u, records[0].level);
    EXPECT_EQ(1u, records[1].level);
    EXPECT_EQ(4u, records[2].level);
    EXPECT_EQ(2u, records[3].level);
    EXPECT_EQ(L"type7", records[3].text);
    EXPECT_EQ(4, records[3].line);
    EXPECT_EQ(L"core", records[3].file);
}

} // namespace
