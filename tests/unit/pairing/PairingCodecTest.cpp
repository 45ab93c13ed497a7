#include "pairing/Base64.h"
#include "pairing/TokenMapJson.h"
#include "pairing/Uuid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace corvane {
namespace {

TEST(UuidTest, IsCanonicalUuid_AcceptsOnlyThe8_4_4_4_12HexForm) {
    EXPECT_TRUE(isCanonicalUuid("00000000-0000-0000-0000-000000000000"));
    EXPECT_TRUE(isCanonicalUuid("abcdef01-2345-6789-ABCD-ef0123456789"));
    for (const std::string& bad : std::vector<std::string>{
             "", "abcdef01-2345-6789-abcd-ef012345678", "abcdef01-2345-6789-abcd-ef01234567890",
             "abcdef0123456789abcdef0123456789", "abcdef01-2345-6789-abcd_ef0123456789",
             "abcdef012-345-6789-abcd-ef0123456789", "abcdeg01-2345-6789-abcd-ef0123456789",
             "{bcdef01-2345-6789-abcd-ef012345678}", " bcdef01-2345-6789-abcd-ef0123456789",
             std::string("abcdef01-2345-6789-abcd-ef012345678\0", 36)}) {
        EXPECT_FALSE(isCanonicalUuid(bad)) << bad;
    }
}

TEST(UuidTest, NewUppercaseUuid_IsCanonicalUppercaseVersion4AndFresh) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string uuid = newUppercaseUuid();
        EXPECT_TRUE(isCanonicalUuid(uuid));
        EXPECT_EQ(uuid.find_first_of("abcdef"), std::string::npos);
        EXPECT_EQ(uuid[14], '4');
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(Base64Test, EncodeDecode_RoundTripsEveryLength) {
    std::vector<std::uint8_t> bytes;
    for (int length = 0; length < 40; ++length) {
        const std::string text = encodeBase64(bytes);
        EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
        const auto decoded = decodeBase64(text);
        ASSERT_TRUE(decoded.has_value()) << text;
        EXPECT_EQ(*decoded, std::string(bytes.begin(), bytes.end()));
        bytes.push_back(static_cast<std::uint8_t>(length * 37 + 200));
    }
    EXPECT_EQ(encodeBase64(std::vector<std::uint8_t>{0xfb, 0xff}), "+/8=");
}

TEST(Base64Test, Decode_RejectsAnythingButCanonicalPaddedText) {
    for (const std::string& bad : std::vector<std::string>{
             "QQ", "QQ=", "QQ===", "Q===", "QR==", "QQ==QQ==", "QQ== ", " QQ==", "QQ\n==", "-_8=",
             "QUJD*", "QUJDRA", std::string("QQ==\0", 5)}) {
        EXPECT_FALSE(decodeBase64(bad).has_value()) << bad;
    }
    EXPECT_EQ(decodeBase64("QQ=="), "A");
    EXPECT_EQ(decodeBase64(""), "");
}

TEST(TokenMapJsonTest, Encode_EscapesHostileTextAndRoundTrips) {
    const TokenMap tokens{{"plain", "abc+/="},
                          {"quote\"back\\slash", "new\nline\ttab\rcr"},
                          {std::string("nul\0ctl\x01\x1f", 9), "caf\xc3\xa9 \xe2\x80\xa6"}};
    const Bytes json = encodeTokenMap(tokens);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_EQ(json.find('\0'), std::string::npos);
    const auto decoded = decodeTokenMap(json);
    ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
    EXPECT_EQ(*decoded, tokens);
    EXPECT_EQ(encodeTokenMap({}), "{}");
    EXPECT_EQ(encodeTokenMap({{"a", "b"}, {"c", "d"}}), R"({"a":"b","c":"d"})");
}

TEST(TokenMapJsonTest, Decode_AcceptsOrdinaryEncoderOutput) {
    const auto decoded = decodeTokenMap(" {\n \"k\" : \"v\\/w\\u00e9\", \"k\":\"last\" } ");
    ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
    EXPECT_EQ(*decoded, (TokenMap{{"k", "last"}}));
}

TEST(TokenMapJsonTest, Decode_NonObjectOrNonStringMember_FailsWithReadableText) {
    const auto array = decodeTokenMap("[]");
    ASSERT_FALSE(array.has_value());
    EXPECT_EQ(array.error().description(),
              "Stored pairings are not readable: expected a JSON object");
    const auto number = decodeTokenMap(R"({"a":"b","c":1})");
    ASSERT_FALSE(number.has_value());
    EXPECT_EQ(number.error().description(),
              "Stored pairings are not readable: a member is not a string");
    const auto broken = decodeTokenMap(R"({"a":)");
    ASSERT_FALSE(broken.has_value());
    EXPECT_NE(broken.error().description().find("Stored pairings are not readable: "),
              std::string::npos);
}

} // namespace
} // namespace corvane
