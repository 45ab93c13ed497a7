#include "protocol/JsonNumber.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(JsonNumber, IsJsonNumber_FollowsGrammar) {
    for (const char* good :
         {"0", "-0", "7", "-12", "0.5", "1e5", "1E+5", "1e-05", "-0.0e0", "10"}) {
        EXPECT_TRUE(isJsonNumber(good)) << good;
    }
    for (const char* bad : {"", "-", "+1", "01", "-01", "1.", ".5", "1e", "1e+", "1.e5", "0x1",
                            "1 ", " 1", "1-", "--1", "NaN", "1e5.0"}) {
        EXPECT_FALSE(isJsonNumber(bad)) << bad;
    }
}

TEST(JsonNumber, WholeInt64_IsExactOnDecimalText) {
    EXPECT_EQ(wholeInt64("0.000"), 0);
    EXPECT_EQ(wholeInt64("1000e-3"), 1);
    EXPECT_EQ(wholeInt64("0.0000000000000000000000000000000000001e37"), 1);
    EXPECT_EQ(wholeInt64("922337203685477580.7e1"), 9223372036854775807);
    EXPECT_EQ(wholeInt64("-92233720368547758.08e2"), INT64_MIN);
    EXPECT_FALSE(wholeInt64("1.0000000000000000000000001"));
    EXPECT_FALSE(wholeInt64("10000000000000000000"));
    EXPECT_FALSE(wholeInt64("18446744073709551616"));
    EXPECT_FALSE(wholeInt64("1e999999999999999999999"));
    EXPECT_FALSE(wholeInt64("1e-999999999999999999999"));
    EXPECT_FALSE(wholeInt64("5 "));
}

} // namespace
} // namespace corvane
