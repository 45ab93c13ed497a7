#pragma once

#include "common/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The one record exchanged with the phone, in both directions and over both transports.
struct TouchMessage {
    enum class Kind {
        hello,
        accepted,
        rejected,
        move,
        click,
        rightClick,
        middleClick,
        scroll,
        buttonDown,
        buttonUp,
        zoom,
        navigate,
        key,
        modifiers,
    };

    Kind kind = Kind::hello;
    std::optional<std::string> code;
    std::optional<double> dx;
    std::optional<double> dy;
    std::optional<double> value;
    std::optional<std::string> key;
    std::optional<std::int64_t> modifiers;
    std::optional<std::string> hostID;
    std::optional<std::string> clientID;
    std::optional<std::string> token;

    // The compact JSON object followed by one line feed; nothing when a double is not finite
    // or a string is not valid UTF-8.
    std::optional<Bytes> line() const;

    bool operator==(const TouchMessage&) const = default;
};

// The wire name of a kind, equal to its case name.
std::string_view rawValue(TouchMessage::Kind kind);

// The kind whose wire name is exactly `raw` (letter case included), or nothing.
std::optional<TouchMessage::Kind> kindFromRawValue(std::string_view raw);

// The compact JSON object text of a message, without the line feed; nothing when it cannot be
// encoded. Appends to `out` so that a caller may reuse one buffer.
bool encodeJson(const TouchMessage& message, std::string& out);

} // namespace corvane
