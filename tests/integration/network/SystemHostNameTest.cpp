#include "platform/qt/SystemHostName.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(SystemHostNameTest, MachineInfo_QuotedPrettyName_IsUnquoted) {
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo(
                  "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's \\\"Desk\\\"\"\nICON_NAME=computer\n"),
              "Ada's \"Desk\"");
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo("PRETTY_HOSTNAME='Kiosk 2'"), "Kiosk 2");
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo("PRETTY_HOSTNAME=Plain\r\n"), "Plain");
}

TEST(SystemHostNameTest, MachineInfo_WithoutUsableName_GivesNothing) {
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo(""), std::nullopt);
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo("PRETTY_HOSTNAME=\"\"\n"), std::nullopt);
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo("# PRETTY_HOSTNAME=Old\n"), std::nullopt);
    EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo("XPRETTY_HOSTNAME=No\n"), std::nullopt);
}

TEST(SystemHostNameTest, LocalizedName_WithoutMachineInfo_FallsBackToTheHostName) {
    SystemHostName name("/nonexistent/machine-info");
    const auto result = name.localizedName();
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->empty());
}

} // namespace
} // namespace corvane
