#include "PhoneCommand.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Kind = TouchMessage::Kind;

TEST(PhoneCommandTest, Commands_BecomeTheirMessages) {
    auto move = parsePhoneCommand("move 10 -4.5");
    ASSERT_TRUE(move.has_value());
    EXPECT_EQ(move->kind, Kind::move);
    EXPECT_EQ(move->dx, 10.0);
    EXPECT_EQ(move->dy, -4.5);

    EXPECT_EQ(parsePhoneCommand("  down\r")->kind, Kind::buttonDown);
    EXPECT_EQ(parsePhoneCommand("up")->kind, Kind::buttonUp);
    EXPECT_EQ(parsePhoneCommand("rightClick")->kind, Kind::rightClick);
    EXPECT_EQ(parsePhoneCommand("navigate -1")->value, -1.0);
    EXPECT_EQ(parsePhoneCommand("key redo")->key, "redo");
    EXPECT_EQ(parsePhoneCommand("modifiers 12")->modifiers, 12);
}

TEST(PhoneCommandTest, Message_CarriesOnlyItsOwnFields) {
    EXPECT_EQ(parsePhoneCommand("click")->line(), "{\"kind\":\"click\"}\n");
    EXPECT_EQ(parsePhoneCommand("zoom 1")->line(), "{\"kind\":\"zoom\",\"value\":1}\n");
}

TEST(PhoneCommandTest, Malformed_IsAnErrorNotAMessage) {
    EXPECT_FALSE(parsePhoneCommand("").has_value());
    EXPECT_FALSE(parsePhoneCommand("move 1").has_value());
    EXPECT_FALSE(parsePhoneCommand("move 1 2 3").has_value());
    EXPECT_FALSE(parsePhoneCommand("move x 1").has_value());
    EXPECT_FALSE(parsePhoneCommand("scroll nan 1").has_value());
    EXPECT_FALSE(parsePhoneCommand("modifiers 1.5").has_value());
    EXPECT_FALSE(parsePhoneCommand("click now").has_value());
    EXPECT_FALSE(parsePhoneCommand("Click").has_value());
}

} // namespace
} // namespace corvane
