#include "valuemodel/numtext.h"
#include "valuemodel/qlcvaluetype.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Formats into a 12-byte buffer between guard bytes and checks nothing outside it was touched.
std::string text(const QLCvalueType& type, float value) {
    char area[QLCvalueType::TextSize + 8];
    std::memset(area, '#', sizeof area);
    char* dest = area + 4;
    type.ToText(dest, value);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(area[i], '#');
        EXPECT_EQ(area[sizeof area - 1 - i], '#');
    }
    EXPECT_NE(std::memchr(dest, '\0', QLCvalueType::TextSize), nullptr);
    return dest;
}

class ValueType : public ::testing::Test {
  protected:
    void TearDown() override { ql::setDecimalSeparator('.'); }
};

TEST_F(ValueType, BaseWritesNothing) {
    const QLCvalueType base;
    char buf[QLCvalueType::TextSize] = "untouched";
    base.ToText(buf, 0.5f);
    EXPECT_STREQ(buf, "untouched");
}

TEST_F(ValueType, PercentRoundsHalvesToEven) {
    const QLCpercentValueType percent;
    EXPECT_EQ(text(percent, 0.5f), "50");
    EXPECT_EQ(text(percent, 1.0f), "100");
    EXPECT_EQ(text(percent, 0.125f), "12");
    EXPECT_EQ(text(percent, 0.375f), "38");
    EXPECT_EQ(text(percent, 0.004f), "0");
    EXPECT_EQ(text(percent, 0.006f), "1");
    EXPECT_EQ(text(percent, 0.0f), "0");
}

TEST_F(ValueType, MillisecondsFollowMax) {
    QLCmsValueType ms(4800);
    EXPECT_EQ(ms.Max(), 4800);
    EXPECT_EQ(text(ms, 0.25f), "1200");
    EXPECT_EQ(text(ms, 1.0f), "4800");
    ms.SetMax(2000);
    EXPECT_EQ(ms.Max(), 2000);
    EXPECT_EQ(text(ms, 0.25f), "500");
    // Fixed-point ties round away from zero, unlike the halves-to-even of "%d".
    ms.SetMax(4);
    EXPECT_EQ(text(ms, 0.125f), "1");
    EXPECT_EQ(text(ms, 0.625f), "3");
}

TEST_F(ValueType, CentredMillisecondsCarryASignBelowTheCentre) {
    QLCbidiMsValueType ms(4800);
    EXPECT_EQ(ms.Max(), 4800);
    EXPECT_EQ(text(ms, 0.0f), "-2400");
    EXPECT_EQ(text(ms, 0.5f), "0");
    EXPECT_EQ(text(ms, 1.0f), "2400");
    EXPECT_EQ(text(ms, 0.4998f), "-1");
    // About -0.48 ms rounds to zero and shows as the centre does, without a sign.
    EXPECT_EQ(text(ms, 0.4999f), "0");
    ms.SetMax(1000);
    EXPECT_EQ(text(ms, 0.25f), "-250");
}

TEST_F(ValueType, Sixteenths) {
    const QLCrhythmValueType rhythm(16);
    EXPECT_EQ(rhythm.Max(), 16);
    EXPECT_EQ(text(rhythm, 0.25f), "4.0");
    EXPECT_EQ(text(rhythm, 1.0f), "16.0");
    EXPECT_EQ(text(rhythm, 0.0f), "0.0");
    EXPECT_EQ(text(rhythm, 1.0f / 3.0f), "5.3");

    const QLCbidiRhythmValueType bidi(16);
    EXPECT_EQ(text(bidi, 0.0f), "-8.0");
    EXPECT_EQ(text(bidi, 0.75f), "4.0");
    EXPECT_EQ(text(bidi, 0.5f), "0.0");
    EXPECT_EQ(text(bidi, 0.49f), "-0.2");
    EXPECT_EQ(text(bidi, 0.499f), "0.0"); // -0.016 rounds to zero: no sign
}

TEST_F(ValueType, Decibels) {
    const QLCdbValueType db;
    EXPECT_EQ(text(db, 1.0f), "0.0");
    EXPECT_EQ(text(db, 0.1f), "-20.0");
    EXPECT_EQ(text(db, 0.5f), "-6.0");
    EXPECT_EQ(text(db, 0.0f), "-INF");
    EXPECT_EQ(text(db, FLT_TRUE_MIN), "-897.1");
}

TEST_F(ValueType, FrequencySwitchesToKilohertzAt1000) {
    QLChzValueType hz(22050);
    EXPECT_EQ(hz.Max(), 22050);
    EXPECT_EQ(text(hz, 1.0f), "22.1k");
    EXPECT_EQ(text(hz, 0.02f), "441");
    EXPECT_EQ(text(hz, 0.0453f), "999");
    EXPECT_EQ(text(hz, 0.0454f), "1.0k");
    EXPECT_EQ(text(hz, 0.01f), "220"); // exactly 220.5 as a float: halves to even
    hz.SetMax(24000);
    EXPECT_EQ(text(hz, 1.0f), "24.0k");
    hz.SetMax(2000);
    EXPECT_EQ(text(hz, 0.5f), "1.0k"); // exactly 1000
    EXPECT_EQ(text(hz, 0.4995f), "999");
}

TEST_F(ValueType, FrequencyBeforeTheFirstRefreshShowsZero) {
    const QLChzValueType hz(0);
    for (float v : {0.0f, 0.02f, 0.5f, 1.0f})
        EXPECT_EQ(text(hz, v), "0");
}

TEST_F(ValueType, CommaSeparator) {
    ql::setDecimalSeparator(',');
    EXPECT_EQ(text(QLCrhythmValueType(16), 0.25f), "4,0");
    EXPECT_EQ(text(QLChzValueType(22050), 1.0f), "22,1k");
    EXPECT_EQ(text(QLCdbValueType(), 0.1f), "-20,0");
    EXPECT_EQ(text(QLCbidiMsValueType(4800), 0.0f), "-2400");
}

TEST_F(ValueType, ExtremeInputsStayInsideTheBuffer) {
    const float big = FLT_MAX;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QLCmsValueType ms(INT32_MAX);
    EXPECT_EQ(text(ms, 1.0f), "2147483647");
    EXPECT_EQ(text(ms, big), "73075077476"); // cut to 11 characters
    QLCbidiMsValueType bidi(INT32_MIN);
    EXPECT_EQ(text(bidi, 1.0f), "-1073741824");
    QLChzValueType hz(INT32_MAX);
    EXPECT_EQ(text(hz, 1.0f), "2147483.6k");
    EXPECT_EQ(text(hz, 4e-7f), "859");
    hz.SetMax(1000000000);
    EXPECT_EQ(text(hz, 1.0f), "1000000.0k");
    EXPECT_EQ(text(hz, 200.0f), "199999995.9"); // f is a float; 11 characters, no "k"
    EXPECT_EQ(text(hz, big), "INF");
    EXPECT_EQ(text(hz, nan), "NAN");
    EXPECT_EQ(text(QLCpercentValueType(), big), "34028234663");
    EXPECT_EQ(text(QLCdbValueType(), -1.0f), "NAN");
    EXPECT_EQ(text(QLCrhythmValueType(16), -big), "-5444517546");
}

} // namespace
