#include "platform/qt/SystemHostName.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(SystemHostNameTest, MachineInfo_PrettyName_IsUnquotedOrNothingWhenUnusable) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's \\\"Desk\\\"\"\nICON_NAME=computer\n",
         "Ada's \"Desk\""},
        {"PRETTY_HOSTNAME='Kiosk 2'", "Kiosk 2"},
        {"PRETTY_HOSTNAME=Plain\r\n", "Plain"},
        {"", std::nullopt},
        {"PRETTY_HOSTNAME=\"\"\n", std::nullopt},
        {"# PRETTY_HOSTNAME=Old\n", std::nullopt},
        {"XPRETTY_HOSTNAME=No\n", std::nullopt}};
    for (const auto& [info, expected] : cases) {
        SCOPED_TRACE(info);
        EXPECT_EQ(SystemHostName::prettyNameFromMachineInfo(info), expected);
    }
}

} // namespace
} // namespace corvane
