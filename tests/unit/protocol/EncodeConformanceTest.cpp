#include "protocol/TouchMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace corvane {
namespace {

using Kind = TouchMessage::Kind;

template<typename Set>
TouchMessage with(Kind kind, Set set) {
    TouchMessage result;
    result.kind = kind;
    set(result);
    return result;
}

struct Encoding {
    std::string name;
    TouchMessage message;
    std::string line;
};

void PrintTo(const Encoding& c, std::ostream* os) {
    *os << c.name;
}

class EncodeExactly : public testing::TestWithParam<Encoding> {};

TEST_P(EncodeExactly, Line_Message_IsExactBytes) {
    EXPECT_EQ(GetParam().message.line(), GetParam().line);
}

constexpr double inf = std::numeric_limits<double>::infinity();

const Encoding encodings[] = {
    {"Rejected", with(Kind::rejected, [](TouchMessage&) {}), "{\"kind\":\"rejected\"}\n"},
    {"AcceptedWithHostOnly", with(Kind::accepted, [](TouchMessage& m) { m.hostID = "H-1"; }),
     "{\"kind\":\"accepted\",\"hostID\":\"H-1\"}\n"},
    {"AcceptedWithToken",
     with(Kind::accepted, [](TouchMessage& m) { m.hostID = "H", m.token = "T"; }),
     "{\"kind\":\"accepted\",\"hostID\":\"H\",\"token\":\"T\"}\n"},
    {"EveryFieldInDeclarationOrder",
     with(Kind::hello,
          [](TouchMessage& m) {
              m.token = "t", m.clientID = "c", m.hostID = "h", m.modifiers = -3, m.key = "z";
              m.value = 0.0, m.dy = -2.0, m.dx = 1.5, m.code = "1";
          }),
     "{\"kind\":\"hello\",\"code\":\"1\",\"dx\":1.5,\"dy\":-2,\"value\":0,\"key\":\"z\","
     "\"modifiers\":-3,\"hostID\":\"h\",\"clientID\":\"c\",\"token\":\"t\"}\n"},
    {"WholeDoubleWithoutFraction", with(Kind::move, [](TouchMessage& m) { m.dx = 3.0; }),
     "{\"kind\":\"move\",\"dx\":3}\n"},
    {"ShortestDoubles",
     with(Kind::scroll, [](TouchMessage& m) { m.dx = 0.1, m.dy = -0.0, m.value = 1e-300; }),
     "{\"kind\":\"scroll\",\"dx\":0.1,\"dy\":-0,\"value\":1e-300}\n"},
    {"ExtremeDoubles",
     with(Kind::move,
          [](TouchMessage& m) {
              m.dx = std::numeric_limits<double>::max();
              m.dy = std::numeric_limits<double>::denorm_min();
          }),
     "{\"kind\":\"move\",\"dx\":1.7976931348623157e+308,\"dy\":5e-324}\n"},
    {"ModifiersExtremes",
     with(Kind::modifiers,
          [](TouchMessage& m) { m.modifiers = std::numeric_limits<std::int64_t>::min(); }),
     "{\"kind\":\"modifiers\",\"modifiers\":-9223372036854775808}\n"},
    {"StringEscapes",
     with(Kind::hello, [](TouchMessage& m) { m.code = "a\"b\\c/\n\r\t\b\f\x01\x1f\x7f"; }),
     "{\"kind\":\"hello\",\"code\":\"a\\\"b\\\\c/\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\"}\n"},
    {"NulByteEscaped", with(Kind::key, [](TouchMessage& m) { m.key = std::string("a\0b", 3); }),
     "{\"kind\":\"key\",\"key\":\"a\\u0000b\"}\n"},
    {"NonAsciiPassesThrough",
     with(Kind::hello,
          [](TouchMessage& m) { m.clientID = "\xC3\xA9\xE2\x80\xA6\xF0\x9F\x98\x80\xE2\x80\xA8"; }),
     "{\"kind\":\"hello\",\"clientID\":\"\xC3\xA9\xE2\x80\xA6\xF0\x9F\x98\x80\xE2\x80\xA8\"}\n"},
};

INSTANTIATE_TEST_SUITE_P(Conformance, EncodeExactly, testing::ValuesIn(encodings),
                         [](const auto& test) { return test.param.name; });

struct Unencodable {
    std::string name;
    TouchMessage message;
};

void PrintTo(const Unencodable& c, std::ostream* os) {
    *os << c.name;
}

class EncodeFails : public testing::TestWithParam<Unencodable> {};

TEST_P(EncodeFails, Line_Unencodable_GivesNothing) {
    EXPECT_FALSE(GetParam().message.line());
}

TEST_P(EncodeFails, EncodeJson_Unencodable_LeavesBufferUntouched) {
    std::string out = "kept";
    EXPECT_FALSE(encodeJson(GetParam().message, out));
    EXPECT_EQ(out, "kept");
}

const Unencodable unencodables[] = {
    {"NaNDx", with(Kind::move, [](TouchMessage& m) { m.dx = std::nan(""); })},
    {"InfiniteDy", with(Kind::move, [](TouchMessage& m) { m.dx = 1.0, m.dy = inf; })},
    {"NegativeInfiniteValue", with(Kind::zoom, [](TouchMessage& m) { m.value = -inf; })},
    {"InvalidUtf8Code", with(Kind::hello, [](TouchMessage& m) { m.code = "\xFF"; })},
    {"InvalidUtf8Key", with(Kind::key, [](TouchMessage& m) { m.key = "\xC0\xAF"; })},
    {"SurrogateInHostID", with(Kind::accepted, [](TouchMessage& m) { m.hostID = "\xED\xA0\x80"; })},
    {"TruncatedClientID", with(Kind::hello, [](TouchMessage& m) { m.clientID = "ok\xE2\x82"; })},
    {"InvalidUtf8Token",
     with(Kind::accepted, [](TouchMessage& m) { m.hostID = "H", m.token = "t\x80"; })},
    {"KindOutOfRange", with(static_cast<Kind>(99), [](TouchMessage&) {})},
};

INSTANTIATE_TEST_SUITE_P(Conformance, EncodeFails, testing::ValuesIn(unencodables),
                         [](const auto& test) { return test.param.name; });

TEST(TouchMessageEncoding, Line_LineBreaksInStrings_OnlyFinalLineFeed) {
    const auto message = with(Kind::accepted, [](TouchMessage& m) {
        m.code = "1\n2", m.hostID = "\n", m.token = "\r\n\n";
    });
    const auto line = message.line();
    ASSERT_TRUE(line);
    EXPECT_EQ(std::count(line->begin(), line->end(), '\n'), 1);
    EXPECT_EQ(line->back(), '\n');
}

TEST(TouchMessageEncoding, EncodeJson_ExistingContent_Appends) {
    std::string out = "prefix|";
    ASSERT_TRUE(encodeJson(with(Kind::click, [](TouchMessage&) {}), out));
    EXPECT_EQ(out, "prefix|{\"kind\":\"click\"}");
}

TEST(TouchMessageKind, RawValue_EveryKind_RoundTripsExactly) {
    const std::string_view names[] = {
        "hello",  "accepted",   "rejected", "move", "click",    "rightClick", "middleClick",
        "scroll", "buttonDown", "buttonUp", "zoom", "navigate", "key",        "modifiers",
    };
    for (int i = 0; i < 14; ++i) {
        const auto kind = static_cast<Kind>(i);
        EXPECT_EQ(rawValue(kind), names[i]);
        EXPECT_EQ(kindFromRawValue(names[i]), kind);
    }
    EXPECT_FALSE(kindFromRawValue("Hello"));
    EXPECT_FALSE(kindFromRawValue("hello "));
    EXPECT_FALSE(kindFromRawValue(""));
    EXPECT_EQ(rawValue(static_cast<Kind>(14)), "");
}

} // namespace
} // namespace corvane
