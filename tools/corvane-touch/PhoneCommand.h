#pragma once

#include "common/Error.h"
#include "protocol/TouchMessage.h"

#include <expected>
#include <string_view>

namespace corvane {

// One line a person types for the command-line phone, such as "move 10 -4" or "key undo".
std::expected<TouchMessage, Error> parsePhoneCommand(std::string_view line);

} // namespace corvane
