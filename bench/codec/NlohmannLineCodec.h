#pragma once

#include "protocol/TouchMessage.h"

#include <optional>
#include <string_view>

namespace corvane {

// The same line codec written with nlohmann::json, checking the same types.
class NlohmannLineCodec {
public:
    static constexpr std::string_view name = "nlohmann::json";

    std::optional<TouchMessage> decode(std::string_view line);
    std::optional<Bytes> line(const TouchMessage& message);
};

} // namespace corvane
