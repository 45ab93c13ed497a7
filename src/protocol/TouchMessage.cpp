#include "protocol/TouchMessage.h"

#include "protocol/JsonString.h"

#include <simdjson.h>

#include <array>
#include <charconv>
#include <cmath>
#include <initializer_list>

namespace corvane {
namespace {

constexpr std::array<std::string_view, 14> rawValues = {
    "hello",  "accepted",   "rejected", "move", "click",    "rightClick", "middleClick",
    "scroll", "buttonDown", "buttonUp", "zoom", "navigate", "key",        "modifiers",
};

bool isFiniteOrAbsent(const std::optional<double>& number) {
    return !number || std::isfinite(*number);
}

bool isValidUtf8OrAbsent(const std::optional<std::string>& text) {
    return !text || simdjson::validate_utf8(text->data(), text->size());
}

bool canEncode(const TouchMessage& message) {
    return isFiniteOrAbsent(message.dx) && isFiniteOrAbsent(message.dy) &&
           isFiniteOrAbsent(message.value) && isValidUtf8OrAbsent(message.code) &&
           isValidUtf8OrAbsent(message.key) && isValidUtf8OrAbsent(message.hostID) &&
           isValidUtf8OrAbsent(message.clientID) && isValidUtf8OrAbsent(message.token);
}

template<typename Number>
void appendDigits(Number number, std::string& out) {
    std::array<char, 32> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    out.append(digits.data(), result.ptr);
}

// `member` is the separator, the quoted key and the colon: one append instead of four.
void appendString(std::string_view member, const std::optional<std::string>& text,
                  std::string& out) {
    if (text) {
        out += member;
        appendJsonString(*text, out);
    }
}

template<typename Number>
void appendNumber(std::string_view member, const std::optional<Number>& number, std::string& out) {
    if (number) {
        out += member;
        appendDigits(*number, out);
    }
}

} // namespace

std::string_view rawValue(TouchMessage::Kind kind) {
    const auto index = static_cast<std::size_t>(kind);
    return index < rawValues.size() ? rawValues[index] : std::string_view{};
}

std::optional<TouchMessage::Kind> kindFromRawValue(std::string_view raw) {
    using Kind = TouchMessage::Kind;
    // Sorted by length first: every decoded line asks, so one or two comparisons is the budget.
    const auto match = [raw](std::initializer_list<Kind> candidates) -> std::optional<Kind> {
        for (const Kind kind : candidates) {
            if (rawValue(kind) == raw) {
                return kind;
            }
        }
        return std::nullopt;
    };
    switch (raw.size()) {
    case 3:
        return match({Kind::key});
    case 4:
        return match({Kind::move, Kind::zoom});
    case 5:
        return match({Kind::click, Kind::hello});
    case 6:
        return match({Kind::scroll});
    case 8:
        return match({Kind::accepted, Kind::rejected, Kind::buttonUp, Kind::navigate});
    case 9:
        return match({Kind::modifiers});
    case 10:
        return match({Kind::rightClick, Kind::buttonDown});
    case 11:
        return match({Kind::middleClick});
    default:
        return std::nullopt;
    }
}

bool encodeJson(const TouchMessage& message, std::string& out) {
    // Checked up front so that a failure leaves `out` exactly as it was.
    const std::string_view kind = rawValue(message.kind);
    if (kind.empty() || !canEncode(message)) {
        return false;
    }
    out += "{\"kind\":\"";
    out += kind;
    out += '"';
    appendString(R"(,"code":)", message.code, out);
    appendNumber(R"(,"dx":)", message.dx, out);
    appendNumber(R"(,"dy":)", message.dy, out);
    appendNumber(R"(,"value":)", message.value, out);
    appendString(R"(,"key":)", message.key, out);
    appendNumber(R"(,"modifiers":)", message.modifiers, out);
    appendString(R"(,"hostID":)", message.hostID, out);
    appendString(R"(,"clientID":)", message.clientID, out);
    appendString(R"(,"token":)", message.token, out);
    out += '}';
    return true;
}

std::optional<Bytes> TouchMessage::line() const {
    Bytes bytes;
    bytes.reserve(64);
    if (!encodeJson(*this, bytes)) {
        return std::nullopt;
    }
    bytes += '\n';
    return bytes;
}

} // namespace corvane
