#include "pairing/TokenMapJson.h"

#include "protocol/JsonString.h"

#include <simdjson.h>

namespace corvane {

namespace {

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
        appendJsonString(clientID, out);
        out += ':';
        appendJsonString(token, out);
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
