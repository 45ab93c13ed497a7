#pragma once

#include "protocol/TouchMessage.h"

#include <optional>
#include <string_view>

namespace corvane {

// The same line codec written with Qt's QJsonDocument, checking the same types.
class QtLineCodec {
public:
    static constexpr std::string_view name = "QJsonDocument";

    std::optional<TouchMessage> decode(std::string_view line);
    std::optional<Bytes> line(const TouchMessage& message);
};

} // namespace corvane
