#include "status/ModuleException.h"
#include "status/ModuleStatus.h"

#include <gtest/gtest.h>

#include <string>

using Orvik::getStatusName;

TEST(ModuleStatus, NamesEveryAssignedCode)
{
    EXPECT_STREQ(L"MODULE_STATUS_SUCCESS", getStatusName(0));
    EXPECT_STREQ(L"MODULE_STATUS_NOT_SUPPORTED", getStatusName(0x80000001));
    EXPECT_STREQ(L"MODULE_STATUS_INVALID_PARAMETER", getStatusName(0x80000008));
    EXPECT_STREQ(L"MODULE_STATUS_PROPERTY_NOT_FOUND", getStatusName(0x8000000C));
    EXPECT_STREQ(L"MODULE_STATUS_UNKNOWN_EXCEPTION", getStatusName(0x8000000F));
    EXPECT_STREQ(L"MODULE_STATUS_SESSION_INVALID", getStatusName(0x80000015));
    EXPECT_STREQ(L"MODULE_STATUS_INVALID_STATE", getStatusName(0x800000FF));
}

TEST(ModuleStatus, UnassignedValuesNameAsUnknown)
{
    for (ModuleStatus value : {0x00000001u, 0x7FFFFFFFu, 0x80000000u, 0x80000016u, 0x80000080u, 0x800000FEu,
                               0x80000100u, 0xFFFFFFFFu})
        EXPECT_STREQ(L"MODULE_STATUS_UNKNOWN", getStatusName(value)) << std::hex << value;
}

TEST(ModuleStatus, ContiguousRunMatchesItsValues)
{
    // Each name in the run must belong to its own value, not a neighbour's.
    EXPECT_STREQ(L"MODULE_STATUS_TIMEOUT", getStatusName(MODULE_STATUS_TIMEOUT));
    EXPECT_STREQ(L"MODULE_STATUS_NO_SUBSCRIBERS", getStatusName(MODULE_STATUS_NO_SUBSCRIBERS));
    EXPECT_STREQ(L"MODULE_STATUS_DUPLICATE_MODULE", getStatusName(MODULE_STATUS_DUPLICATE_MODULE));
    EXPECT_STREQ(L"MODULE_STATUS_APP_SERVICE_UNAUTHORIZED", getStatusName(MODULE_STATUS_APP_SERVICE_UNAUTHORIZED));
}

TEST(ModuleException, CarriesItsTextAndSurvivesCopy)
{
    Orvik::ModuleException original("Invalid message bus handle");
    Orvik::ModuleException copy = original;
    EXPECT_STREQ("Invalid message bus handle", copy.what());
    EXPECT_STREQ("Unknown exception", Orvik::ModuleException().what());
    EXPECT_STREQ("Unknown exception", Orvik::ModuleException(static_cast<const char*>(nullptr)).what());
    try {
        throw Orvik::ModuleException(std::string("thrown by value"));
    } catch (const std::exception& e) {
        EXPECT_STREQ("thrown by value", e.what());
    }
}
