#include "valuemodel/qlcvaluescale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct Named {
    std::string name;
    std::shared_ptr<QLCvalueScale> scale;
    bool inverted;
};

std::vector<Named> allScales() {
    return {
        {"linear", std::make_shared<QLCvalueScale>(), false},
        {"square", std::make_shared<QLCsquareValueScale>(), false},
        {"cubic", std::make_shared<QLCcubicValueScale>(), false},
        {"exp4", std::make_shared<QLCexp4ValueScale>(), false},
        {"invert", std::make_shared<QLCinvertValueScale>(), true},
        {"squareInvert", std::make_shared<QLCsquareInvertValueScale>(), true},
    };
}

TEST(ValueScale, EndsMapExactlyInBothDirections) {
    for (const auto& s : allScales()) {
        SCOPED_TRACE(s.name);
        const float atZero = s.inverted ? 1.0f : 0.0f;
        const float atOne = s.inverted ? 0.0f : 1.0f;
        EXPECT_EQ(s.scale->ToPosition(0.0f), atZero);
        EXPECT_EQ(s.scale->ToPosition(1.0f), atOne);
        EXPECT_EQ(s.scale->FromPosition(0.0f), atZero);
        EXPECT_EQ(s.scale->FromPosition(1.0f), atOne);
    }
}

TEST(ValueScale, RootLawsPutTheMiddleOfTheTravelLow) {
    const QLCsquareValueScale square;
    EXPECT_EQ(square.ToPosition(0.25f), 0.5f);
    EXPECT_EQ(square.FromPosition(0.5f), 0.25f);
    const QLCcubicValueScale cubic;
    EXPECT_EQ(cubic.ToPosition(0.125f), 0.5f);
    EXPECT_EQ(cubic.FromPosition(0.5f), 0.125f);
    const QLCexp4ValueScale exp4;
    EXPECT_EQ(exp4.ToPosition(0.0625f), 0.5f);
    EXPECT_EQ(exp4.FromPosition(0.5f), 0.0625f);
    const QLCsquareInvertValueScale squareInvert;
    EXPECT_EQ(squareInvert.ToPosition(0.25f), 0.5f);
    EXPECT_EQ(squareInvert.FromPosition(0.5f), 0.25f);
    EXPECT_EQ(squareInvert.ToPosition(1.0f), 0.0f);
}

TEST(ValueScale, InvertIsItsOwnInverse) {
    const QLCinvertValueScale invert;
    EXPECT_EQ(invert.ToPosition(0.3f), 0.7f);
    EXPECT_EQ(invert.FromPosition(0.3f), 0.7f);
    const QLCvalueScale linear;
    EXPECT_EQ(linear.ToPosition(0.3f), 0.3f);
    EXPECT_EQ(linear.FromPosition(0.3f), 0.3f);
}

TEST(ValueScale, ArgumentsOutsideTheUnitRangeAreClamped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const auto& s : allScales()) {
        SCOPED_TRACE(s.name);
        const float low = s.inverted ? 1.0f : 0.0f;
        const float high = s.inverted ? 0.0f : 1.0f;
        for (float x : {-0.5f, -1e-30f, nan, -std::numeric_limits<float>::infinity()}) {
            EXPECT_EQ(s.scale->ToPosition(x), low);
            EXPECT_EQ(s.scale->FromPosition(x), low);
        }
        for (float x : {1.5f, std::numeric_limits<float>::infinity()}) {
            EXPECT_EQ(s.scale->ToPosition(x), high);
            EXPECT_EQ(s.scale->FromPosition(x), high);
        }
    }
}

std::vector<float> sweepValues() {
    std::vector<float> values;
    for (int i = 0; i <= 20000; ++i)
        values.push_back(static_cast<float>(i) / 20000.0f);
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 20000; ++i)
        values.push_back(unit(random));
    for (float tiny = 1e-30f; tiny < 1e-3f; tiny *= 7.0f)
        values.push_back(tiny);
    return values;
}

TEST(ValueScale, FromPositionUndoesToPosition) {
    const auto values = sweepValues();
    for (const auto& s : allScales()) {
        SCOPED_TRACE(s.name);
        double worst = 0.0;
        for (float x : values) {
            const float back = s.scale->FromPosition(s.scale->ToPosition(x));
            worst = std::fmax(worst, std::fabs(static_cast<double>(back) - x));
        }
        // Float rounding only: far below the step of any control.
        EXPECT_LT(worst, 5e-7);
    }
}

TEST(ValueScale, ATripThroughAControlStaysWithinOneStep) {
    // value -> integer position -> value -> position: the control does not creep, and the value
    // comes back within one step of travel.
    const auto values = sweepValues();
    for (const auto& s : allScales()) {
        for (int maximum : {100, 1000, 10000}) {
            SCOPED_TRACE(s.name + " of " + std::to_string(maximum));
            int failures = 0;
            for (float x : values) {
                const long position = std::lrint(s.scale->ToPosition(x) * maximum);
                const float back = s.scale->FromPosition(static_cast<float>(position) /
                                                         static_cast<float>(maximum));
                const float travelled = s.scale->ToPosition(back) * maximum;
                if (std::lrint(travelled) != position) ++failures;
                if (std::fabs(travelled - s.scale->ToPosition(x) * maximum) > 1.0f) ++failures;
            }
            EXPECT_EQ(failures, 0);
        }
    }
}

} // namespace
