#include "pairing/TokenMapJson.h"

#include <simdjson.h>

#include <array>
#include <cstdint>

namespace corvane {

namespace {

void appendEscapedControl(Bytes& out, unsigned char c) {
    constexpr std::array<char, 16> hex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    out += "\\u00";
    out += hex[c >> 4];
    out += hex[c & 0x0f];
}

void appendJsonString(Bytes& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                appendEscapedControl(out, static_cast<unsigned char>(c));
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

Error decodeError(std::string_view what) {
    return Error("Stored pairings are not readable: " + std::string(what));
}

} // namespace

Bytes encodeTokenMap(const TokenMap& tokens) {
    Bytes out = "{";
    for (const auto& [clientID, token] : tokens) {
        if (out.size() > 1) {
            out += ',';
        }
        appendJsonString(out, clientID);
        out += ':';
        appendJsonString(out, token);
    }
    out += '}';
    return out;
}

std::expected<TokenMap, Error> decodeTokenMap(std::string_view json) {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(json);
    simdjson::dom::element document;
    if (const auto error = parser.parse(padded).get(document); error) {
        return std::unexpected(decodeError(simdjson::error_message(error)));
    }
    simdjson::dom::object object;
    if (document.get_object().get(object)) {
        return std::unexpected(decodeError("expected a JSON object"));
    }
    TokenMap tokens;
    for (const auto member : object) {
        std::string_view token;
        if (member.value.get_string().get(token)) {
            return std::unexpected(decodeError("a member is not a string"));
        }
        // A repeated key keeps its last value, as most JSON decoders do.
        tokens.insert_or_assign(std::string(member.key), std::string(token));
    }
    return tokens;
}

} // namespace corvane
