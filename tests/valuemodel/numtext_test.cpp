#include "valuemodel/numtext.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string fixed(long double value, int decimals, int width = 0) {
    char buf[64];
    const size_t n = ql::formatFixed(buf, sizeof buf, value, decimals, width);
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

std::string integer(long double value) {
    char buf[64];
    ql::formatInteger(buf, sizeof buf, value);
    return buf;
}

class NumText : public ::testing::Test {
  protected:
    void TearDown() override { ql::setDecimalSeparator('.'); }
};

TEST_F(NumText, FixedRoundsExactTiesAwayFromZero) {
    EXPECT_EQ(fixed(0.125L, 2), "0.13");
    EXPECT_EQ(fixed(0.125f, 2), "0.13"); // the host's display text of a parameter at 0.125
    EXPECT_EQ(fixed(0.375L, 2), "0.38");
    EXPECT_EQ(fixed(0.5L, 0), "1");
    EXPECT_EQ(fixed(2.5L, 0), "3");
    EXPECT_EQ(fixed(-2.5L, 0), "-3");
    EXPECT_EQ(fixed(-0.125L, 2), "-0.13");
    EXPECT_EQ(fixed(0.25L, 1), "0.3");
    EXPECT_EQ(fixed(1023.75L, 1), "1023.8");
}

TEST_F(NumText, FixedRoundsTheExactBinaryValueNotItsShortDecimal) {
    // 0.005f is 0.004999999888..., 0.015f is 0.0149999996...: both just below the tie.
    EXPECT_EQ(fixed(0.005f, 2), "0.00");
    EXPECT_EQ(fixed(0.015f, 2), "0.01");
    // 0.005 as a double is just above it.
    EXPECT_EQ(fixed(0.005, 2), "0.01");
    EXPECT_EQ(fixed(0.7f, 2), "0.70");
    EXPECT_EQ(fixed(1.0L / 3.0L, 2), "0.33");
    EXPECT_EQ(fixed(2.0L / 3.0L, 0), "1");
    EXPECT_EQ(fixed(3.14159265358979323846L, 9), "3.141592654");
    EXPECT_EQ(fixed(0.999999f, 2), "1.00");
    EXPECT_EQ(fixed(9.96L, 1), "10.0");
}

TEST_F(NumText, FixedPadsToTheMinimumWidth) {
    EXPECT_EQ(fixed(0.5L, 2, 2), "0.50"); // "%2.2f": the width never cuts
    EXPECT_EQ(fixed(0.5L, 2, 6), "  0.50");
    EXPECT_EQ(fixed(-1.0L, 0, 4), "  -1");
    EXPECT_EQ(fixed(std::numeric_limits<long double>::infinity(), 1, 5), "  INF");
    EXPECT_EQ(fixed(7.0L, 0, -3), "7");
}

TEST_F(NumText, ZeroAndValuesRoundingToZeroHaveNoSign) {
    EXPECT_EQ(fixed(0.0L, 2), "0.00");
    EXPECT_EQ(fixed(-0.0L, 2), "0.00");
    EXPECT_EQ(fixed(-0.004L, 2), "0.00");
    EXPECT_EQ(fixed(-0.3L, 0), "0");
    EXPECT_EQ(fixed(-0.49L, 0), "0");
    EXPECT_EQ(fixed(-0.5L, 0), "-1");
    EXPECT_EQ(fixed(-1e-300L, 4), "0.0000");
    EXPECT_EQ(fixed(-LDBL_TRUE_MIN, 9), "0.000000000");
    EXPECT_EQ(integer(-0.4L), "0");
    EXPECT_EQ(integer(-0.5L), "0");
}

TEST_F(NumText, SeparatorIsTheUsersAndUnsetFallsBackToPoint) {
    ql::setDecimalSeparator(',');
    EXPECT_EQ(ql::decimalSeparator(), ',');
    EXPECT_EQ(fixed(0.125L, 2), "0,13");
    EXPECT_EQ(fixed(-20.0L, 1), "-20,0");
    EXPECT_EQ(fixed(4.0L, 0), "4"); // no decimals, no separator
    EXPECT_EQ(integer(2.5L), "2");
    ql::setDecimalSeparator('\0');
    EXPECT_EQ(ql::decimalSeparator(), '.');
    EXPECT_EQ(fixed(0.125L, 2), "0.13");
}

TEST_F(NumText, NonFiniteValues) {
    const long double inf = std::numeric_limits<long double>::infinity();
    const long double nan = std::numeric_limits<long double>::quiet_NaN();
    EXPECT_EQ(fixed(inf, 2), "INF");
    EXPECT_EQ(fixed(-inf, 1), "-INF");
    EXPECT_EQ(fixed(nan, 1), "NAN");
    EXPECT_EQ(fixed(-nan, 1), "NAN");
    EXPECT_EQ(integer(-inf), "-INF");
    EXPECT_EQ(integer(nan), "NAN");
}

TEST_F(NumText, HugeValuesPrintEveryDigitExactly) {
    EXPECT_EQ(fixed(1e20L, 0), "100000000000000000000");
    EXPECT_EQ(fixed(18446744073709551616.0L, 2), "18446744073709551616.00");
    EXPECT_EQ(fixed(-9007199254740993.0L, 1), "-9007199254740993.0");
    EXPECT_EQ(fixed(static_cast<long double>(FLT_MAX), 0),
              "340282346638528859811704183484516925440");
    EXPECT_EQ(integer(1e19L), "10000000000000000000"); // beyond a 64-bit signed integer
    EXPECT_EQ(integer(-9223372036854775808.0L), "-9223372036854775808");
    EXPECT_EQ(integer(4503599627370496.5L), "4503599627370496"); // halves to even
    EXPECT_EQ(integer(4503599627370497.5L), "4503599627370498");

    std::vector<char> big(6000);
    const size_t n = ql::formatFixed(big.data(), big.size(), -LDBL_MAX, 3);
    const std::string text(big.data());
    ASSERT_EQ(n, text.size());
    ASSERT_EQ(text.size(), 1 + 4933 + 4u);
    EXPECT_EQ(text.substr(0, 21), "-11897314953572317650");
    EXPECT_EQ(text.substr(text.size() - 24), "19552086811989770240.000");
}

std::string divided(long double value, int divisorExponent, int decimals) {
    char buf[64];
    ql::formatFixedDivided(buf, sizeof buf, value, divisorExponent, decimals);
    return buf;
}

TEST_F(NumText, DividedRoundsTheExactDecimalQuotient) {
    EXPECT_EQ(divided(22050.0L, 3, 1), "22.1"); // 22050 / 1000.0L would print 22.0
    EXPECT_EQ(fixed(22050.0L / 1000.0L, 1), "22.0");
    EXPECT_EQ(divided(22049.0L, 3, 1), "22.0");
    EXPECT_EQ(divided(1250.0L, 3, 1), "1.3");
    EXPECT_EQ(divided(-1250.0L, 3, 1), "-1.3");
    EXPECT_EQ(divided(1249.0L, 3, 1), "1.2");
    EXPECT_EQ(divided(125.0L, 3, 2), "0.13");
    EXPECT_EQ(divided(5.0L, 1, 0), "1");
    EXPECT_EQ(divided(4.0L, 1, 0), "0");
    // Binary fractions divided by powers of ten: 0.025 and 0.00375 are exact ties.
    EXPECT_EQ(divided(0.25L, 1, 2), "0.03");
    EXPECT_EQ(divided(-0.25L, 1, 2), "-0.03");
    EXPECT_EQ(divided(0.375L, 2, 3), "0.004");
    EXPECT_EQ(divided(0.375L, 2, 4), "0.0038");
    EXPECT_EQ(divided(22050.5f, 3, 2), "22.05");
    EXPECT_EQ(divided(1180591620717411303424.0L, 3, 1), "1180591620717411303.4");
    EXPECT_EQ(divided(15.0L, 13, 9), "0.000000000");
    EXPECT_EQ(divided(-4.0L, 1, 0), "0");
    EXPECT_EQ(divided(123.0L, 0, 1), "123.0");
    ql::setDecimalSeparator(',');
    EXPECT_EQ(divided(22050.0L, 3, 1), "22,1");
}

TEST_F(NumText, IntegerRoundsHalvesToEven) {
    EXPECT_EQ(integer(0.5L), "0");
    EXPECT_EQ(integer(1.5L), "2");
    EXPECT_EQ(integer(2.5L), "2");
    EXPECT_EQ(integer(-2.5L), "-2");
    EXPECT_EQ(integer(12.5L), "12");
    EXPECT_EQ(integer(220.5f), "220");
    EXPECT_EQ(integer(2.5000001L), "3");
    EXPECT_EQ(integer(-7.0L), "-7");
}

TEST_F(NumText, CapacityCutsAndNeverOverruns) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(ql::formatFixed(buf, 0, 1.0L, 2), 0u);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(ql::formatFixed(buf, 1, 1.0L, 2), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ql::formatFixed(buf, 4, 12.34L, 2), 3u);
    EXPECT_STREQ(buf, "12.");
    EXPECT_EQ(buf[4], '#');
    EXPECT_EQ(ql::formatFixed(buf, 6, 12.34L, 2), 5u); // exactly fits
    EXPECT_STREQ(buf, "12.34");
    EXPECT_EQ(ql::formatFixed(buf, 4, 1.0L, 2, 7), 3u); // padding counts too
    EXPECT_STREQ(buf, "   ");
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(ql::formatInteger(buf, 3, -1234.0L), 2u);
    EXPECT_STREQ(buf, "-1");
    EXPECT_EQ(buf[3], '#');
    EXPECT_EQ(ql::formatFixed(nullptr, 12, 1.0L, 2), 0u);
}

TEST_F(NumText, CopyTextCutsAndReadsNoFurtherThanItWrites) {
    char buf[6];
    EXPECT_EQ(ql::copyText(buf, sizeof buf, "Quillantrope"), 5u);
    EXPECT_STREQ(buf, "Quill");
    EXPECT_EQ(ql::copyText(buf, sizeof buf, nullptr), 0u);
    EXPECT_STREQ(buf, "");
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(ql::copyText(buf, 3, unterminated), 2u);
    EXPECT_STREQ(buf, "ab");
}

} // namespace
