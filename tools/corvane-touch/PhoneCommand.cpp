#include "PhoneCommand.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace corvane {

namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < line.size()) {
        const auto start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = line.find_first_of(" \t\r", start);
        out.push_back(line.substr(start, end - start));
        at = end == std::string_view::npos ? line.size() : end;
    }
    return out;
}

std::expected<double, Error> number(std::string_view word) {
    double value = 0;
    const auto [end, status] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (status != std::errc{} || end != word.data() + word.size() || !std::isfinite(value)) {
        return std::unexpected(Error("not a number: " + std::string(word)));
    }
    return value;
}

std::expected<std::int64_t, Error> integer(std::string_view word) {
    std::int64_t value = 0;
    const auto [end, status] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (status != std::errc{} || end != word.data() + word.size()) {
        return std::unexpected(Error("not an integer: " + std::string(word)));
    }
    return value;
}

Error usage(std::string_view command, std::string_view arguments) {
    return Error("usage: " + std::string(command) + std::string(arguments));
}

std::expected<TouchMessage, Error> withDelta(TouchMessage::Kind kind,
                                             const std::vector<std::string_view>& args) {
    if (args.size() != 3) {
        return std::unexpected(usage(args[0], " DX DY"));
    }
    auto dx = number(args[1]);
    auto dy = number(args[2]);
    if (!dx || !dy) {
        return std::unexpected(dx ? dy.error() : dx.error());
    }
    TouchMessage message;
    message.kind = kind;
    message.dx = *dx;
    message.dy = *dy;
    return message;
}

std::expected<TouchMessage, Error> withValue(TouchMessage::Kind kind,
                                             const std::vector<std::string_view>& args) {
    if (args.size() != 2) {
        return std::unexpected(usage(args[0], " V"));
    }
    auto value = number(args[1]);
    if (!value) {
        return std::unexpected(value.error());
    }
    TouchMessage message;
    message.kind = kind;
    message.value = *value;
    return message;
}

std::expected<TouchMessage, Error> bare(TouchMessage::Kind kind,
                                        const std::vector<std::string_view>& args) {
    if (args.size() != 1) {
        return std::unexpected(usage(args[0], ""));
    }
    TouchMessage message;
    message.kind = kind;
    return message;
}

} // namespace

std::expected<TouchMessage, Error> parsePhoneCommand(std::string_view line) {
    const auto args = words(line);
    if (args.empty()) {
        return std::unexpected(Error("empty command"));
    }
    using Kind = TouchMessage::Kind;
    const auto command = args[0];
    if (command == "move") {
        return withDelta(Kind::move, args);
    }
    if (command == "scroll") {
        return withDelta(Kind::scroll, args);
    }
    if (command == "zoom") {
        return withValue(Kind::zoom, args);
    }
    if (command == "navigate") {
        return withValue(Kind::navigate, args);
    }
    if (command == "click") {
        return bare(Kind::click, args);
    }
    if (command == "rightClick") {
        return bare(Kind::rightClick, args);
    }
    if (command == "middleClick") {
        return bare(Kind::middleClick, args);
    }
    if (command == "down") {
        return bare(Kind::buttonDown, args);
    }
    if (command == "up") {
        return bare(Kind::buttonUp, args);
    }
    if (command == "key") {
        if (args.size() != 2) {
            return std::unexpected(usage(command, " NAME"));
        }
        TouchMessage message;
        message.kind = Kind::key;
        message.key = std::string(args[1]);
        return message;
    }
    if (command == "modifiers") {
        if (args.size() != 2) {
            return std::unexpected(usage(command, " MASK"));
        }
        auto mask = integer(args[1]);
        if (!mask) {
            return std::unexpected(mask.error());
        }
        TouchMessage message;
        message.kind = Kind::modifiers;
        message.modifiers = *mask;
        return message;
    }
    return std::unexpected(Error("unknown command: " + std::string(command)));
}

} // namespace corvane
