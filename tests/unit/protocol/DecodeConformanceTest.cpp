#include "protocol/TouchMessageDecoder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
namespace {

using Kind = TouchMessage::Kind;
using namespace std::string_literals;

TouchMessage message(Kind kind) {
    TouchMessage result;
    result.kind = kind;
    return result;
}

template<typename Set>
TouchMessage with(Kind kind, Set set) {
    TouchMessage result = message(kind);
    set(result);
    return result;
}

struct Accept {
    std::string name;
    std::string line;
    TouchMessage expected;
};

void PrintTo(const Accept& c, std::ostream* os) {
    *os << c.name << ": " << c.line;
}

class DecodeAccepts : public testing::TestWithParam<Accept> {};

TEST_P(DecodeAccepts, Decode_Line_GivesMessage) {
    TouchMessageDecoder decoder;
    const auto decoded = decoder.decode(GetParam().line);
    ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
    EXPECT_EQ(*decoded, GetParam().expected);
}

const Accept acceptCases[] = {
    {"PlainClick", R"({"kind":"click"})", message(Kind::click)},
    {"WhitespaceAroundAndInside", " \t\r{ \"kind\" :\r\n \"click\" }\r \t", message(Kind::click)},
    {"TrailingCarriageReturn", "{\"kind\":\"click\"}\r", message(Kind::click)},
    {"IntegerDeltasBecomeDoubles", R"({"kind":"move","dx":3,"dy":-2})",
     with(Kind::move, [](TouchMessage& m) { m.dx = 3.0, m.dy = -2.0; })},
    {"MembersInAnyOrder", R"({"dy":0.25,"dx":-1.5e2,"kind":"scroll"})",
     with(Kind::scroll, [](TouchMessage& m) { m.dx = -150.0, m.dy = 0.25; })},
    {"NullValueIsAbsent", R"({"kind":"zoom","value":null})", message(Kind::zoom)},
    {"EveryFieldNull",
     R"({"kind":"hello","code":null,"dx":null,"dy":null,"value":null,"key":null,)"
     R"("modifiers":null,"hostID":null,"clientID":null,"token":null})",
     message(Kind::hello)},
    {"HelloWithCredentials", R"({"kind":"hello","code":"042133","clientID":"C","token":"dG9r"})",
     with(Kind::hello,
          [](TouchMessage& m) { m.code = "042133", m.clientID = "C", m.token = "dG9r"; })},
    {"AcceptedReply", R"({"kind":"accepted","hostID":"H","token":"T"})",
     with(Kind::accepted, [](TouchMessage& m) { m.hostID = "H", m.token = "T"; })},
    {"FieldsUnusedByKindAreKept", R"({"kind":"click","key":"undo","value":1})",
     with(Kind::click, [](TouchMessage& m) { m.key = "undo", m.value = 1.0; })},
    {"UnknownString", R"({"kind":"click","extra":"x"})", message(Kind::click)},
    {"UnknownNumbers", R"({"kind":"click","a":-0,"b":1e400,"c":12345678901234567890123})",
     message(Kind::click)},
    {"UnknownLiterals", R"({"kind":"click","a":true,"b":false,"c":null})", message(Kind::click)},
    {"UnknownNested", R"({"kind":"click","x":{"a":[1,{"b":[null,"s",{}]},[]],"c":{"d":{}}}})",
     message(Kind::click)},
    {"UnknownKeyDifferingOnlyInCase", R"({"kind":"move","DX":"ignored","Kind":5})",
     message(Kind::move)},
    {"EscapedKindValue", R"({"kind":"cl\u0069ck"})", message(Kind::click)},
    {"EscapedKey", R"({"\u006bind":"click"})", message(Kind::click)},
    {"StringEscapes", R"({"kind":"key","key":"q\"b\\s\/n\n\r\t\b\f\u0001\u00e9\ud83d\ude00"})",
     with(Kind::key,
          [](TouchMessage& m) { m.key = "q\"b\\s/n\n\r\t\b\f\x01\xC3\xA9\xF0\x9F\x98\x80"; })},
    {"RawUtf8Strings", "{\"kind\":\"hello\",\"code\":\"\xC3\xA9\xE2\x80\xA6\xF0\x9F\x91\x8D\"}",
     with(Kind::hello, [](TouchMessage& m) { m.code = "\xC3\xA9\xE2\x80\xA6\xF0\x9F\x91\x8D"; })},
    {"EmptyStrings", R"({"kind":"hello","code":"","token":""})",
     with(Kind::hello, [](TouchMessage& m) { m.code = "", m.token = ""; })},
    {"ExtremeDoubles", R"({"kind":"move","dx":1.7976931348623157e308,"dy":5e-324,"value":1E-300})",
     with(Kind::move,
          [](TouchMessage& m) {
              m.dx = std::numeric_limits<double>::max();
              m.dy = std::numeric_limits<double>::denorm_min();
              m.value = 1e-300;
          })},
    {"NestingWithinBound", R"({"kind":"click","x":[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]})",
     message(Kind::click)},
};

INSTANTIATE_TEST_SUITE_P(Conformance, DecodeAccepts, testing::ValuesIn(acceptCases),
                         [](const auto& test) { return test.param.name; });

struct Reject {
    std::string name;
    std::string line;
};

void PrintTo(const Reject& c, std::ostream* os) {
    *os << c.name << ": " << c.line;
}

class DecodeRejects : public testing::TestWithParam<Reject> {};

TEST_P(DecodeRejects, Decode_Line_FailsWithDescription) {
    TouchMessageDecoder decoder;
    const auto decoded = decoder.decode(GetParam().line);
    ASSERT_FALSE(decoded.has_value()) << "decoded a " << static_cast<int>(decoded->kind);
    EXPECT_FALSE(decoded.error().description().empty());
}

std::string nested(int depth) {
    return R"({"kind":"click","x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

const Reject rejectCases[] = {
    {"Empty", ""},
    {"WhitespaceOnly", " \t\r "},
    {"Array", R"([{"kind":"click"}])"},
    {"BareString", R"("click")"},
    {"BareNumber", "42"},
    {"BareNull", "null"},
    {"EmptyObject", "{}"},
    {"KindMissing", R"({"code":"123456"})"},
    {"KindCaseDiffers", R"({"kind":"Click"})"},
    {"KindUnknown", R"({"kind":"tap"})"},
    {"KindEmpty", R"({"kind":""})"},
    {"KindWithSpace", R"({"kind":"click "})"},
    {"KindNull", R"({"kind":null})"},
    {"KindNumber", R"({"kind":4})"},
    {"KindArray", R"({"kind":["click"]})"},
    {"DeltaAsString", R"({"kind":"move","dx":"3","dy":1})"},
    {"DeltaAsBool", R"({"kind":"move","dx":true})"},
    {"DeltaAsObject", R"({"kind":"scroll","dy":{}})"},
    {"ValueAsArray", R"({"kind":"zoom","value":[1]})"},
    {"DeltaTooLarge", R"({"kind":"move","dx":1e400})"},
    {"CodeAsNumber", R"({"kind":"hello","code":123456})"},
    {"KeyAsArray", R"({"kind":"key","key":["undo"]})"},
    {"HostIDAsObject", R"({"kind":"accepted","hostID":{}})"},
    {"ClientIDAsBool", R"({"kind":"hello","clientID":false})"},
    {"TokenAsNumber", R"({"kind":"hello","token":0})"},
    {"Unterminated", R"({"kind":"click")"},
    {"UnterminatedString", R"({"kind":"click)"},
    {"TrailingComma", R"({"kind":"click",})"},
    {"MissingColon", R"({"kind" "click"})"},
    {"MissingComma", R"({"kind":"click" "x":1})"},
    {"SingleQuotes", R"({'kind':'click'})"},
    {"UnquotedKey", R"({kind:"click"})"},
    {"ExtraClosingBrace", R"({"kind":"click"}})"},
    {"TrailingGarbage", R"({"kind":"click"}x)"},
    {"TrailingArray", R"({"kind":"click"}[])"},
    {"TwoObjects", R"({"kind":"click"} {"kind":"click"})"},
    {"LeadingZero", R"({"kind":"move","dx":01})"},
    {"BareDecimalPoint", R"({"kind":"move","dx":1.})"},
    {"LeadingDecimalPoint", R"({"kind":"move","dx":.5})"},
    {"PlusSign", R"({"kind":"move","dx":+1})"},
    {"NaNLiteral", R"({"kind":"move","dx":NaN})"},
    {"InfinityLiteral", R"({"kind":"move","dx":-Infinity})"},
    {"HexNumber", R"({"kind":"move","dx":0x10})"},
    {"NumberWithSuffix", R"({"kind":"move","dx":1x})"},
    {"LoneMinus", R"({"kind":"move","dx":-})"},
    {"DoubleExponent", R"({"kind":"move","dy":1e5e5})"},
    {"NullWithSuffix", R"({"kind":"zoom","value":nullx})"},
    {"UnknownBoolWithSuffix", R"({"kind":"click","x":truex})"},
    {"UnknownUnterminatedArray", R"({"kind":"click","x":[1,})"},
    {"UnknownArrayMissingComma", R"({"kind":"click","x":[1 2]})"},
    {"UnknownBadLiteral", R"({"kind":"click","x":{"a":tru}})"},
    {"UnknownBadNull", R"({"kind":"click","x":nul})"},
    {"UnknownLeadingZero", R"({"kind":"click","x":01})"},
    {"UnknownBadExponent", R"({"kind":"click","x":[1e]})"},
    {"UnknownBadEscape", R"({"kind":"click","x":"\q"})"},
    {"UnknownObjectWithoutValue", R"({"kind":"click","x":{"a"}})"},
    {"UnknownTooDeep", nested(100)},
    {"UnknownFarTooDeep", nested(5000)},
    {"RawTabInString", "{\"kind\":\"hello\",\"code\":\"a\tb\"}"},
    {"RawNulInString", "{\"kind\":\"hello\",\"code\":\"a\0b\"}"s},
    {"NulOutsideString", "{\"kind\":\"click\"}\0"s},
    {"InvalidUtf8InValue", "{\"kind\":\"hello\",\"code\":\"\xFF\"}"},
    {"InvalidUtf8Overlong", "{\"kind\":\"hello\",\"token\":\"\xC0\xAF\"}"},
    {"InvalidUtf8Surrogate", "{\"kind\":\"hello\",\"token\":\"\xED\xA0\x80\"}"},
    {"InvalidUtf8Truncated", "{\"kind\":\"hello\",\"token\":\"\xE2\x82\"}"},
    {"InvalidUtf8InUnknownKey", "{\"kind\":\"click\",\"\xFE\":1}"},
    {"InvalidUtf8InUnknownValue", "{\"kind\":\"click\",\"x\":[\"\x80\"]}"},
    {"InvalidUtf8AfterObject", "{\"kind\":\"click\"} \xC3"},
    {"LoneHighSurrogateEscape", R"({"kind":"hello","code":"\ud800"})"},
    {"LoneLowSurrogateEscape", R"({"kind":"hello","code":"\udc00"})"},
    {"SwappedSurrogateEscapes", R"({"kind":"hello","code":"\ude00\ud83d"})"},
    {"LoneSurrogateInUnknownKey", R"({"kind":"click","\ud800":1})"},
    {"LoneSurrogateInUnknownValue", R"({"kind":"click","x":"\udfff"})"},
    {"DuplicateKind", R"({"kind":"click","kind":"move"})"},
    {"DuplicateKindSameValue", R"({"kind":"click","kind":"click"})"},
    {"DuplicateDelta", R"({"kind":"move","dx":1,"dx":2})"},
    {"DuplicateAfterNull", R"({"kind":"zoom","value":null,"value":1})"},
    {"DuplicateThroughEscape", R"({"kind":"hello","token":"a","t\u006fken":"b"})"},
};

INSTANTIATE_TEST_SUITE_P(Conformance, DecodeRejects, testing::ValuesIn(rejectCases),
                         [](const auto& test) { return test.param.name; });

TEST(TouchMessageDecoder, Decode_Modifiers_OnlyWholeNumbersWithinInt64InAnySpelling) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const auto line = [](const std::string& text) {
        return R"({"kind":"modifiers","modifiers":)" + text + "}";
    };
    TouchMessageDecoder decoder;
    for (const auto& [text, expected] :
         std::vector<std::pair<std::string, std::int64_t>>{{"5", 5},
                                                           {"5.0", 5},
                                                           {"5e0", 5},
                                                           {"0.15E+2", 15},
                                                           {"120e-1", 12},
                                                           {"-0.0e5", 0},
                                                           {"0e99999999999999999999", 0},
                                                           {"9223372036854775807", max},
                                                           {"-9223372036854775808", min},
                                                           {"-9223372036854775808.000", min},
                                                           {"9.223372036854775807e18", max},
                                                           {"2.0 \r", 2}}) {
        SCOPED_TRACE(text);
        const auto decoded = decoder.decode(line(text));
        ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
        EXPECT_EQ(*decoded,
                  with(Kind::modifiers, [&](TouchMessage& m) { m.modifiers = expected; }));
    }
    for (const std::string text :
         {"1.5", "5.0000000000000001", "1e-1", "9223372036854775808", "9223372036854775808.0",
          "-9223372036854775809", "-9223372036854775809.0", "1e19", "1e400", R"("5")", "true", "5x",
          "-", "05"}) {
        SCOPED_TRACE(text);
        const auto decoded = decoder.decode(line(text));
        ASSERT_FALSE(decoded.has_value());
        EXPECT_FALSE(decoded.error().description().empty());
    }
}

TEST(TouchMessageDecoder, Decode_NegativeZeroDelta_KeepsSign) {
    TouchMessageDecoder decoder;
    const auto decoded = decoder.decode(R"({"kind":"move","dx":-0,"dy":-0.0})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(std::signbit(*decoded->dx));
    EXPECT_TRUE(std::signbit(*decoded->dy));
}

TEST(TouchMessageDecoder, Decode_ShorterLineAfterLongerOne_IgnoresStaleBytes) {
    TouchMessageDecoder decoder;
    ASSERT_TRUE(decoder.decode(R"({"kind":"move","dx":1234567.125,"dy":98765})").has_value());
    const auto decoded = decoder.decode(R"({"kind":"move","dx":1)"
                                        R"(,"dy":9})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->dx, 1.0);
    EXPECT_EQ(decoded->dy, 9.0);
    // A prefix of the previous line must not be completed from the old contents.
    EXPECT_FALSE(decoder.decode(R"({"kind":"move","dx":1234567.125,"dy":98765)").has_value());
}

TEST(TouchMessageDecoder, Decode_LineNotEndingBuffer_ReadsOnlyTheLine) {
    const std::string buffer = R"({"kind":"move","dx":12}34,"dy":5})";
    TouchMessageDecoder decoder;
    const auto decoded = decoder.decode(std::string_view(buffer).substr(0, 23));
    ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
    EXPECT_EQ(decoded->dx, 12.0);
}

TEST(TouchMessageDecoder, Decode_AfterFailure_DecodesNextLine) {
    TouchMessageDecoder decoder;
    EXPECT_FALSE(decoder.decode(R"({"kind":"click","x":[)").has_value());
    EXPECT_FALSE(decoder.decode(R"({"kind":"move","dx":"3"})").has_value());
    const auto decoded = decoder.decode(R"({"kind":"move","dx":3})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->dx, 3.0);
}

TEST(TouchMessageDecoder, Decode_LongLine_GrowsAndStillDecodes) {
    TouchMessageDecoder decoder;
    const std::string token(100'000, 'a');
    const auto decoded = decoder.decode(R"({"kind":"hello","token":")" + token + R"("})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->token, token);
    EXPECT_TRUE(decoder.decode(R"({"kind":"click"})").has_value());
}

TEST(TouchMessageDecoder, Decode_MovedFromDecoder_StillDecodes) {
    TouchMessageDecoder first;
    TouchMessageDecoder second(std::move(first));
    EXPECT_TRUE(second.decode(R"({"kind":"click"})").has_value());
    // NOLINTNEXTLINE(bugprone-use-after-move): moved-from decoders stay usable on purpose
    EXPECT_TRUE(first.decode(R"({"kind":"click"})").has_value());
}

TEST(TouchMessageDecoder, Decode_Failure_DescribesTheProblem) {
    TouchMessageDecoder decoder;
    EXPECT_NE(decoder.decode(R"({"code":"1"})").error().description().find("kind"),
              std::string::npos);
    EXPECT_NE(decoder.decode(R"({"kind":"move","dx":"3"})").error().description().find("dx"),
              std::string::npos);
}

} // namespace
} // namespace corvane
