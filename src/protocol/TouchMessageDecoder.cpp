#include "protocol/TouchMessageDecoder.h"

#include "protocol/JsonNumber.h"

#include <simdjson.h>

#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace corvane {
namespace {

namespace ondemand = simdjson::ondemand;

using Step = std::expected<void, Error>;

// Unknown members may nest; a bound keeps a hostile line from exhausting the stack.
constexpr int maxUnknownDepth = 64;

std::unexpected<Error> fail(std::string description) {
    return std::unexpected(Error("Invalid message line: " + std::move(description)));
}

std::unexpected<Error> failJson(simdjson::error_code code) {
    return fail(std::string("malformed JSON (") + simdjson::error_message(code) + ")");
}

std::unexpected<Error> failType(std::string_view key, std::string_view expected) {
    return fail("\"" + std::string(key) + "\" must be " + std::string(expected));
}

// Escapes such as a lone \ud800 could decode to bytes that are not UTF-8; this simdjson refuses
// them, but the fields must hold UTF-8 whatever the library version does.
Step checkUtf8(std::string_view text) {
    if (!simdjson::validate_utf8(text.data(), text.size())) {
        return fail("string is not valid UTF-8");
    }
    return {};
}

std::string_view trimTrailingWhitespace(std::string_view token) {
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\n' ||
                              token.back() == '\r')) {
        token.remove_suffix(1);
    }
    return token;
}

// The text between the quotes of a string token as the input holds it, when it has no escapes
// (nearly always); false when it has to be unescaped. The input was checked to close every
// string before any token is read. Out-parameters keep this hot path out of memory round trips.
bool plainString(const char* afterQuote, std::string_view& text) {
    for (std::size_t i = 0;; ++i) {
        if (afterQuote[i] == '"') {
            text = std::string_view(afterQuote, i);
            return true;
        }
        if (afterQuote[i] == '\\') {
            return false;
        }
    }
}

// Keys with escapes are rare enough to keep out of line.
[[gnu::noinline]] Step unescapedKey(ondemand::field& field, std::string_view& key) {
    if (auto error = field.unescaped_key().get(key)) {
        return failJson(error);
    }
    return checkUtf8(key);
}

inline Step memberKey(ondemand::field& field, std::string_view& key) {
    if (plainString(reinterpret_cast<const char*>(field.key().raw()), key)) {
        return {};
    }
    return unescapedKey(field, key);
}

Step skipUnknown(ondemand::value value, int depth);

Step skipUnknownObject(ondemand::value value, int depth) {
    ondemand::object object;
    if (auto error = value.get_object().get(object)) {
        return failJson(error);
    }
    for (auto member : object) {
        if (auto error = member.error()) {
            return failJson(error);
        }
        ondemand::field& field = member.value_unsafe();
        std::string_view key;
        if (auto read = memberKey(field, key); !read) {
            return read;
        }
        if (auto skipped = skipUnknown(field.value(), depth + 1); !skipped) {
            return skipped;
        }
    }
    return {};
}

Step skipUnknownArray(ondemand::value value, int depth) {
    ondemand::array array;
    if (auto error = value.get_array().get(array)) {
        return failJson(error);
    }
    for (auto element : array) {
        ondemand::value item;
        if (auto error = std::move(element).get(item)) {
            return failJson(error);
        }
        if (auto skipped = skipUnknown(item, depth + 1); !skipped) {
            return skipped;
        }
    }
    return {};
}

// Ignored members are still read to the end, so that a malformed one fails the line.
Step skipUnknown(ondemand::value value, int depth) {
    if (depth > maxUnknownDepth) {
        return fail("nested too deeply");
    }
    ondemand::json_type type;
    if (auto error = value.type().get(type)) {
        return failJson(error);
    }
    simdjson::error_code error = simdjson::SUCCESS;
    switch (type) {
    case ondemand::json_type::object:
        return skipUnknownObject(value, depth);
    case ondemand::json_type::array:
        return skipUnknownArray(value, depth);
    case ondemand::json_type::string: {
        std::string_view text;
        error = value.get_string().get(text);
        if (!error) {
            return checkUtf8(text);
        }
        break;
    }
    case ondemand::json_type::number:
        // Any valid number will do, even one too large for a double.
        if (!isJsonNumber(trimTrailingWhitespace(value.raw_json_token()))) {
            return fail("malformed number");
        }
        break;
    case ondemand::json_type::boolean:
        error = value.get_bool().error();
        break;
    case ondemand::json_type::null:
        error = value.is_null().error();
        break;
    }
    return error ? Step(failJson(error)) : Step();
}

// The ten keys in declaration order; a key's bit is 1 << its index.
constexpr std::array<std::string_view, 10> memberNames = {
    "kind", "code", "dx", "dy", "value", "key", "modifiers", "hostID", "clientID", "token",
};

constexpr unsigned bitOf(std::size_t index) {
    return 1U << index;
}

constexpr unsigned kindBit = bitOf(0);
constexpr unsigned codeBit = bitOf(1);
constexpr unsigned dxBit = bitOf(2);
constexpr unsigned dyBit = bitOf(3);
constexpr unsigned valueBit = bitOf(4);
constexpr unsigned keyBit = bitOf(5);
constexpr unsigned modifiersBit = bitOf(6);
constexpr unsigned hostIDBit = bitOf(7);
constexpr unsigned clientIDBit = bitOf(8);
constexpr unsigned tokenBit = bitOf(9);

std::string_view memberName(unsigned bit) {
    return memberNames[static_cast<std::size_t>(std::countr_zero(bit))];
}

unsigned memberBit(std::string_view key) {
    for (std::size_t i = 0; i < memberNames.size(); ++i) {
        if (memberNames[i] == key) {
            return bitOf(i);
        }
    }
    return 0;
}

// The bit of a known key compared straight in the input, the way nearly every key arrives;
// 0 for other keys and for keys written with escapes, which take the slow path.
unsigned plainMemberBit(ondemand::raw_json_string key) {
    const auto is = [key](unsigned bit) { return key.unsafe_is_equal(memberName(bit)) ? bit : 0U; };
    switch (*reinterpret_cast<const char*>(key.raw())) {
    case 'd':
        return is(dxBit) | is(dyBit);
    case 'k':
        return is(kindBit) | is(keyBit);
    case 'c':
        return is(codeBit) | is(clientIDBit);
    case 'v':
        return is(valueBit);
    case 'm':
        return is(modifiersBit);
    case 'h':
        return is(hostIDBit);
    case 't':
        return is(tokenBit);
    default:
        return 0;
    }
}

// Reads one member value of a known key into its field; a JSON null leaves the field absent.
// Each read tries the expected type first and only looks closer when that fails.
class MemberReader {
public:
    MemberReader(unsigned bit, ondemand::value value) : bit_(bit), value_(value) {}

    Step kind(TouchMessage::Kind& out) {
        const std::string_view token = value_.raw_json_token();
        if (token.empty() || token.front() != '"') {
            return failType(memberName(bit_), "a string");
        }
        std::string_view raw;
        // An unread value is skipped by the iterator by itself.
        if (!plainString(token.data() + 1, raw)) {
            if (auto error = value_.get_string().get(raw)) {
                return failJson(error);
            }
        }
        const auto kind = kindFromRawValue(raw);
        if (!kind) {
            return fail("unknown \"kind\"");
        }
        out = *kind;
        return {};
    }

    Step text(std::optional<std::string>& out) {
        std::string_view raw;
        if (auto error = value_.get_string().get(raw)) {
            return notRead(ondemand::json_type::string, "a string", error);
        }
        if (auto checked = checkUtf8(raw); !checked) {
            return checked;
        }
        out.emplace(raw);
        return {};
    }

    Step number(std::optional<double>& out) {
        double parsed = 0;
        if (auto error = value_.get_double().get(parsed)) {
            return notRead(ondemand::json_type::number, "a number", error);
        }
        out = parsed;
        return {};
    }

    Step wholeNumber(std::optional<std::int64_t>& out) {
        std::int64_t parsed = 0;
        if (value_.get_int64().get(parsed) == simdjson::SUCCESS) {
            out = parsed;
            return {};
        }
        if (!isType(ondemand::json_type::number)) {
            return notRead(ondemand::json_type::number, "a whole number", simdjson::SUCCESS);
        }
        // 5.0 and 5e0 are whole too; judge them from the text, which a double would round.
        const auto whole = wholeInt64(trimTrailingWhitespace(value_.raw_json_token()));
        if (!whole) {
            return failType(memberName(bit_), "a whole number within 64 bits");
        }
        out = *whole;
        return {};
    }

private:
    bool isType(ondemand::json_type expected) {
        ondemand::json_type type;
        return value_.type().get(type) == simdjson::SUCCESS && type == expected;
    }

    // The value did not read as `expected`: a null leaves the field absent, a malformed value of
    // the right type reports `error`, and any other type fails.
    Step notRead(ondemand::json_type expected, std::string_view description,
                 simdjson::error_code error) {
        ondemand::json_type type;
        if (auto typeError = value_.type().get(type)) {
            return failJson(typeError);
        }
        if (type == ondemand::json_type::null) {
            return readNull();
        }
        if (type == expected && error != simdjson::SUCCESS) {
            return failJson(error);
        }
        return failType(memberName(bit_), description);
    }

    Step readNull() {
        bool isNull = false;
        if (auto error = value_.is_null().get(isNull)) {
            return failJson(error);
        }
        if (!isNull) {
            return fail("malformed null");
        }
        return {};
    }

    unsigned bit_;
    ondemand::value value_;
};

// Collects the members of one line into a message, refusing a field given twice.
class LineReader {
public:
    explicit LineReader(TouchMessage& message) : message_(message) {}

    Step member(ondemand::field& field) {
        unsigned bit = plainMemberBit(field.key());
        if (bit == 0) {
            std::string_view key;
            if (auto read = memberKey(field, key); !read) {
                return read;
            }
            bit = memberBit(key);
        }
        if (bit == 0) {
            return skipUnknown(field.value(), 1);
        }
        if ((seen_ & bit) != 0) {
            return fail("\"" + std::string(memberName(bit)) + "\" appears twice");
        }
        seen_ |= bit;
        MemberReader reader(bit, field.value());
        switch (bit) {
        case kindBit:
            return reader.kind(message_.kind);
        case codeBit:
            return reader.text(message_.code);
        case dxBit:
            return reader.number(message_.dx);
        case dyBit:
            return reader.number(message_.dy);
        case valueBit:
            return reader.number(message_.value);
        case keyBit:
            return reader.text(message_.key);
        case modifiersBit:
            return reader.wholeNumber(message_.modifiers);
        case hostIDBit:
            return reader.text(message_.hostID);
        case clientIDBit:
            return reader.text(message_.clientID);
        default:
            return reader.text(message_.token);
        }
    }

    Step finish() const {
        if ((seen_ & kindBit) == 0) {
            return fail("\"kind\" is missing");
        }
        return {};
    }

private:
    TouchMessage& message_;
    unsigned seen_ = 0;
};

} // namespace

struct TouchMessageDecoder::Parser {
    ondemand::parser json;
    std::vector<char> scratch;

    // simdjson reads up to SIMDJSON_PADDING bytes past the end, so lines are copied into a
    // buffer that keeps that much room and is reused from line to line.
    const char* padded(std::string_view line) {
        const std::size_t needed = line.size() + simdjson::SIMDJSON_PADDING;
        if (scratch.size() < needed) {
            scratch.resize(needed);
        }
        std::memcpy(scratch.data(), line.data(), line.size());
        std::memset(scratch.data() + line.size(), 0, simdjson::SIMDJSON_PADDING);
        return scratch.data();
    }

    Step read(std::string_view line, TouchMessage& message) {
        const char* input = padded(line);
        ondemand::document document;
        if (auto error = json.iterate(input, line.size(), scratch.size()).get(document)) {
            return failJson(error);
        }
        ondemand::object object;
        if (auto error = document.get_object().get(object)) {
            return error == simdjson::INCORRECT_TYPE ? fail("not a JSON object") : failJson(error);
        }
        LineReader reader(message);
        for (auto member : object) {
            if (auto error = member.error()) {
                return failJson(error);
            }
            if (auto read = reader.member(member.value_unsafe()); !read) {
                return read;
            }
        }
        // The iterator reports "out of bounds" exactly when every token has been consumed.
        if (document.current_location().error() != simdjson::OUT_OF_BOUNDS) {
            return fail("more than one JSON value");
        }
        return reader.finish();
    }
};

TouchMessageDecoder::TouchMessageDecoder() : parser_(std::make_unique<Parser>()) {}
TouchMessageDecoder::~TouchMessageDecoder() = default;
TouchMessageDecoder::TouchMessageDecoder(TouchMessageDecoder&&) noexcept = default;
TouchMessageDecoder& TouchMessageDecoder::operator=(TouchMessageDecoder&&) noexcept = default;

std::expected<TouchMessage, Error> TouchMessageDecoder::decode(std::string_view line) {
    if (!parser_) {
        parser_ = std::make_unique<Parser>(); // a moved-from decoder stays usable
    }
    // Built in place and returned from one variable, so the message is never copied or moved.
    std::expected<TouchMessage, Error> result;
    if (auto read = parser_->read(line, *result); !read) {
        result = std::unexpected(std::move(read.error()));
    }
    return result;
}

} // namespace corvane
