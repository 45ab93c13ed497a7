#include "PhoneCommand.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

// Each command becomes the line of its message, with only its own fields; anything malformed is
// an error, not a message. (The end-to-end run plays every kind of command against the desktop.)
TEST(PhoneCommandTest, Commands_BecomeTheirLines_MalformedAreErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"move 10 -4.5", R"({"kind":"move","dx":10,"dy":-4.5})"},
        {"  down\r", R"({"kind":"buttonDown"})"},
        {"zoom 1", R"({"kind":"zoom","value":1})"},
        {"key redo", R"({"kind":"key","key":"redo"})"},
        {"modifiers 12", R"({"kind":"modifiers","modifiers":12})"},
        {"", nullptr},
        {"move 1", nullptr},
        {"move 1 2 3", nullptr},
        {"move x 1", nullptr},
        {"scroll nan 1", nullptr},
        {"modifiers 1.5", nullptr},
        {"click now", nullptr},
        {"Click", nullptr},
    };
    for (const auto& [command, line] : cases) {
        const auto message = parsePhoneCommand(command);
        ASSERT_EQ(message.has_value(), line != nullptr) << command;
        if (message) {
            EXPECT_EQ(message->line(), std::string(line) + "\n") << command;
        }
    }
}

} // namespace
} // namespace corvane
