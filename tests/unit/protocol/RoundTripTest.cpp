#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace corvane {
namespace {

using Kind = TouchMessage::Kind;

// Each value also appears negated.
const std::vector<double> trickyDoubles = [] {
    std::vector<double> values = {
        0.0,
        1e-300,
        0.1,
        2.5,
        1.0 / 3.0,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::denorm_min(),
        2.2250738585072009e-308, // largest denormal
        std::numeric_limits<double>::min(),
        9007199254740993.0,
        1e21,
        123456.789e-7,
    };
    const std::size_t count = values.size();
    for (std::size_t i = 0; i < count; ++i) {
        values.push_back(-values[i]);
    }
    return values;
}();

std::string everyControlCharacter() {
    std::string text;
    for (char c = 0; c < 0x20; ++c) {
        text += c;
    }
    return text;
}

const std::vector<std::string> trickyStrings = {
    "",
    "042133",
    R"(quote " and backslash \ and slash /)",
    "line\nbreak\r\n",
    everyControlCharacter(),
    "\xF0\x9F\x91\x8D emoji \xE2\x80\xA6 and \xC3\xA9",
    R"(\u0041 looks escaped)",
    "\x7f\xE2\x80\xA8\xE2\x80\xA9",
    std::string(300, 'x'),
};

const std::vector<std::int64_t> trickyModifiers = {
    0,
    15,
    -1,
    std::numeric_limits<std::int64_t>::min(),
    std::numeric_limits<std::int64_t>::max(),
    9007199254740993,
};

// Fills the fields chosen by the bits of `fields`, cycling through the tricky values.
TouchMessage build(Kind kind, unsigned fields, std::size_t seed) {
    TouchMessage m;
    m.kind = kind;
    std::size_t next = seed;
    const auto text = [&] { return trickyStrings[next++ % trickyStrings.size()]; };
    const auto number = [&] { return trickyDoubles[next++ % trickyDoubles.size()]; };
    const auto has = [fields](unsigned bit) { return (fields & (1U << bit)) != 0; };
    if (has(0))
        m.code = text();
    if (has(1))
        m.dx = number();
    if (has(2))
        m.dy = number();
    if (has(3))
        m.value = number();
    if (has(4))
        m.key = text();
    if (has(5))
        m.modifiers = trickyModifiers[next++ % trickyModifiers.size()];
    if (has(6))
        m.hostID = text();
    if (has(7))
        m.clientID = text();
    if (has(8))
        m.token = text();
    return m;
}

bool sameBits(std::optional<double> a, std::optional<double> b) {
    return a.has_value() == b.has_value() &&
           (!a || std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b));
}

TEST(TouchMessageRoundTrip, LineThenDecode_EveryKindAndFieldCombination_GivesEqualMessage) {
    TouchMessageDecoder decoder;
    std::size_t seed = 0;
    for (int k = 0; k < 14; ++k) {
        for (unsigned fields = 0; fields < (1U << 9U); ++fields) {
            const TouchMessage original = build(static_cast<Kind>(k), fields, seed++);
            const auto line = original.line();
            ASSERT_TRUE(line) << "kind " << k << " fields " << fields;
            ASSERT_EQ(std::count(line->begin(), line->end(), '\n'), 1);
            ASSERT_EQ(line->back(), '\n');
            const std::string_view json(line->data(), line->size() - 1);
            const auto decoded = decoder.decode(json);
            ASSERT_TRUE(decoded.has_value()) << decoded.error().description() << "\n" << json;
            ASSERT_EQ(*decoded, original) << json;
            ASSERT_TRUE(sameBits(decoded->dx, original.dx) && sameBits(decoded->dy, original.dy) &&
                        sameBits(decoded->value, original.value))
                << json;
        }
    }
}

} // namespace
} // namespace corvane
