// The building blocks of the engine on their own: rounding, the saturation curve, the filter
// stages, the gate and the ducker.
#include "effect/dsp.h"
#include "effect/gateducker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace ql;
using namespace ql::dsp;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

// One step of the resonant low-pass with the same input and coefficients on both sides; answers
// the left output and checks that the right one is the same.
float resonantStep(float x, const ResonantCoefficients& c, FilterStates& s) {
    const Floats2 y = resonantLowPass(splat(x), splat(c.f), splat(c.k), s);
    EXPECT_EQ(left(y), right(y));
    return left(y);
}

float hiCutStep(float x, double c, FilterStates& s) {
    return left(hiCut(splat(x), splat(c), s));
}
float loCutStep(float x, double c, FilterStates& s) {
    return left(loCut(splat(x), splat(c), s));
}
} // namespace

TEST(EngineNumerics, RoundingGoesHalvesToEven) {
    EXPECT_EQ(roundToInt(0.5), 0);
    EXPECT_EQ(roundToInt(1.5), 2);
    EXPECT_EQ(roundToInt(2.5), 2);
    EXPECT_EQ(roundToInt(-2.5), -2);
    EXPECT_EQ(roundToInt(-16537.5), -16538);
    EXPECT_EQ(roundToInt(16536.5), 16536);
    EXPECT_EQ(roundToInt(2.4999999999999996), 2);
    EXPECT_EQ(roundToInt(921600.49), 921600);
    EXPECT_EQ(roundToInt(-0.4), 0);
}

TEST(EngineNumerics, SaturationAtBothKnees) {
    const auto out = [](double x, double knee) {
        return static_cast<float>(softSaturate(x, knee));
    };
    EXPECT_EQ(out(0.9, kOutputKnee), 0.9f);
    EXPECT_NEAR(out(1.0, kOutputKnee), 0.975, 5e-7);
    EXPECT_NEAR(out(1.5, kOutputKnee), 0.954508, 5e-7);
    EXPECT_NEAR(out(2.0, kOutputKnee), 0.952376, 5e-7);
    EXPECT_NEAR(out(10.0, kOutputKnee), 0.950276, 5e-7);
    EXPECT_NEAR(out(0.9, kLineKnee), 0.88, 5e-7);
    EXPECT_NEAR(out(1.0, kLineKnee), 0.9, 5e-7);
    EXPECT_NEAR(out(2.0, kLineKnee), 0.832432, 5e-7);
    // odd, continuous at the knee, largest at 1
    for (double x : {0.3, 0.95, 1.0, 1.5, 2.0, 10.0}) {
        EXPECT_EQ(softSaturate(-x, kOutputKnee), -softSaturate(x, kOutputKnee)) << x;
        EXPECT_EQ(softSaturate(-x, kLineKnee), -softSaturate(x, kLineKnee)) << x;
    }
    EXPECT_EQ(softSaturate(0.95, kOutputKnee), 0.95);
    EXPECT_NEAR(softSaturate(std::nextafter(0.95, 2.0), kOutputKnee), 0.95, 1e-15);
    EXPECT_GT(softSaturate(1.0, kOutputKnee), softSaturate(1.2, kOutputKnee));
    EXPECT_GT(softSaturate(1.0, kOutputKnee), softSaturate(0.99, kOutputKnee));
}

TEST(EngineNumerics, SaturationOfOverflowAndNaNStaysDefined) {
    EXPECT_EQ(softSaturate(kInf, kOutputKnee), kOutputKnee);
    EXPECT_EQ(softSaturate(-kInf, kOutputKnee), -kOutputKnee);
    EXPECT_EQ(softSaturate(kInf, kLineKnee), kLineKnee);
    EXPECT_EQ(softSaturate(std::numeric_limits<double>::quiet_NaN(), kOutputKnee), 0.0);
    const double huge = softSaturate(1e300, kOutputKnee);
    EXPECT_TRUE(std::isfinite(huge));
    EXPECT_NEAR(huge, kOutputKnee, 1e-12);
}

TEST(ResonantFilter, CoefficientClampsAndRefresh) {
    ResonantCoefficients clamped, limits;
    clamped.refresh(1.0f, 1.0f);
    limits.refresh(0.99f, 0.98f);
    EXPECT_EQ(clamped.f, static_cast<double>(0.99f));
    EXPECT_EQ(clamped.k, limits.k);
    EXPECT_NEAR(clamped.k, 98.98, 0.05);
    EXPECT_EQ(clamped.k, static_cast<double>(static_cast<float>(clamped.k))); // a float value
    // a cached k follows a change of either value
    clamped.refresh(0.5f, 0.5f);
    EXPECT_EQ(clamped.k, static_cast<double>(static_cast<float>(0.5 + 0.5 / 0.5)));
    clamped.refresh(0.5f, 0.25f);
    EXPECT_EQ(clamped.k, static_cast<double>(static_cast<float>(0.25 + 0.25 / 0.5)));
}

TEST(ResonantFilter, ZeroFrequencyHoldsTheSecondState) {
    ResonantCoefficients c;
    c.refresh(0.0f, 0.0f);
    FilterStates s;
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(resonantStep(1.0f, c, s), 0.0f);
    EXPECT_EQ(left(s.stage2), 0.0f);
}

TEST(ResonantFilter, WithoutResonanceItIsTwoOnePoles) {
    ResonantCoefficients c;
    c.refresh(0.5f, 0.0f);
    FilterStates s;
    EXPECT_EQ(resonantStep(1.0f, c, s), 0.25f);
    EXPECT_EQ(left(s.stage1), 0.5f);
    // the denormal constant lands in the first state even with no signal
    FilterStates z;
    resonantStep(0.0f, c, z);
    EXPECT_EQ(left(z.stage1), 1e-25f);
}

TEST(ResonantFilter, RunawayStatesRestartFromZero) {
    ResonantCoefficients c;
    c.refresh(0.99f, 0.98f);
    FilterStates s{splat(double{3e38f}), splat(double{-3e38f})};
    const float y = resonantStep(3e38f, c, s);
    EXPECT_TRUE(std::isfinite(left(s.stage1)));
    EXPECT_TRUE(std::isfinite(left(s.stage2)));
    EXPECT_TRUE(std::isfinite(y));
}

TEST(CutFilters, OneStepAndTheEdgeCoefficients) {
    FilterStates a, b;
    EXPECT_EQ(hiCutStep(1.0f, 0.5, a), 0.25f);
    EXPECT_EQ(loCutStep(1.0f, 0.5, b), 0.75f);

    // hi cut at 0: the frozen second state comes out; lo cut at 0: the input passes
    FilterStates h, l;
    for (float x : {0.5f, -0.25f, 0.125f}) {
        EXPECT_EQ(hiCutStep(x, 0.0, h), 0.0f);
        EXPECT_EQ(loCutStep(x, 0.0, l), x);
    }

    // lo cut at 0.99: a steady input is removed almost at once
    FilterStates c;
    float y = 0.0f;
    for (int i = 0; i < 10; ++i)
        y = loCutStep(0.5f, static_cast<double>(0.99f), c);
    EXPECT_LT(std::fabs(y), 1e-6f);
}

TEST(Gate, LengthsFromTheSpeed) {
    const struct {
        float speed;
        int attack, hold, release;
    } table[] = {{0.0f, 210, 4200, 10500},
                 {0.3f, 150, 3000, 7500},
                 {0.5f, 110, 2200, 5500},
                 {1.0f, 10, 200, 500}};
    for (const auto& row : table) {
        GateTiming t;
        t.refresh(row.speed);
        EXPECT_EQ(t.attackLength, row.attack) << row.speed;
        EXPECT_EQ(t.holdLength, row.hold) << row.speed;
        EXPECT_EQ(t.releaseLength, row.release) << row.speed;
    }
}

namespace {
// Runs one gate frame with both echo samples at `level`; answers the left sample that leaves.
float gateFrame(Gate& g, float level, float speed = 0.3f, float threshold = 0.1f) {
    GateTiming t;
    t.refresh(speed);
    const Floats2 out = g.apply(t, threshold, splat(level));
    EXPECT_EQ(left(out), right(out));
    return left(out);
}
} // namespace

TEST(Gate, OpensOverTheAttackFromClosed) {
    Gate g;
    EXPECT_EQ(gateFrame(g, 0.05f), 0.0f); // closed, below threshold: silent
    EXPECT_EQ(g.gateState, GateClosed);
    EXPECT_EQ(gateFrame(g, 0.5f), static_cast<float>(0.5 * (1.0 / 150)));
    EXPECT_EQ(g.gateState, GateOpening);
    for (int i = 2; i <= 150; ++i)
        gateFrame(g, 0.5f);
    EXPECT_EQ(g.gateState, GateOpening);
    EXPECT_EQ(gateFrame(g, 0.5f), 0.5f); // frame 151: attack count passes 150
    EXPECT_EQ(g.gateState, GateOpen);
    EXPECT_EQ(g.gateGain, 1.0);
}

TEST(Gate, ClosesAfterTheHoldAndReleasesOver7501Steps) {
    Gate g;
    for (int i = 0; i < 151; ++i)
        gateFrame(g, 0.5f);
    ASSERT_EQ(g.gateState, GateOpen);
    for (int i = 1; i <= 3000; ++i) {
        EXPECT_EQ(gateFrame(g, 0.05f), 0.05f);
        ASSERT_EQ(g.gateState, GateOpen) << i;
    }
    // the frame in which the hold count reaches 3001 already takes the first release step
    EXPECT_EQ(gateFrame(g, 0.05f), static_cast<float>(0.05f * (1.0 - 1.0 / 7500)));
    EXPECT_EQ(g.gateState, GateClosing);
    EXPECT_EQ(g.gateHoldCount, 0);
    EXPECT_EQ(g.gateReleaseCount, 1);
    for (int i = 1; i < 7500; ++i) {
        gateFrame(g, 0.05f);
        ASSERT_EQ(g.gateState, GateClosing) << i;
    }
    EXPECT_EQ(gateFrame(g, 0.05f), 0.0f); // 7500 frames after the closing frame
    EXPECT_EQ(g.gateState, GateClosed);
    EXPECT_EQ(g.gateReleaseCount, 7501);
    EXPECT_LT(g.gateGain, 0.0); // slightly below 0 after 7501 steps down from 1
    EXPECT_GT(g.gateGain, -1e-3);
}

TEST(Gate, AnEchoAboveTheThresholdWhileClosingOpensFromTheCurrentGain) {
    Gate g;
    for (int i = 0; i < 151; ++i)
        gateFrame(g, 0.5f);
    for (int i = 0; i < 3001; ++i)
        gateFrame(g, 0.0f);
    ASSERT_EQ(g.gateState, GateClosing);
    const double before = g.gateGain;
    gateFrame(g, 0.5f);
    EXPECT_EQ(g.gateState, GateOpening);
    EXPECT_EQ(g.gateGain, before + 1.0 / 150);
    double peak = 0.0;
    for (int i = 0; i < 149; ++i) {
        gateFrame(g, 0.5f);
        peak = std::fmax(peak, g.gateGain);
    }
    EXPECT_GT(peak, 1.9); // the gain passes 1.0 during the attack
    gateFrame(g, 0.5f);
    EXPECT_EQ(g.gateState, GateOpen);
    EXPECT_EQ(g.gateGain, 1.0);
}

TEST(Gate, LevelAtTheThresholdHoldsButDoesNotOpen) {
    Gate g;
    EXPECT_EQ(gateFrame(g, 0.1f), 0.0f); // not above the threshold: stays closed
    for (int i = 0; i < 151; ++i)
        gateFrame(g, 0.5f);
    for (int i = 0; i < 5000; ++i)
        gateFrame(g, 0.1f); // equal counts as not below
    EXPECT_EQ(g.gateState, GateOpen);
    EXPECT_EQ(g.gateHoldCount, 0);
}

TEST(Ducker, EnvelopeClimbsSilencesAndFalls) {
    Ducker d;
    DuckerRates rates;
    rates.refresh(0.3f, 0.5f);
    int silentFrom = -1;
    for (int i = 1; i <= 9000; ++i) {
        const Floats2 out = d.apply(rates, pair(1.0f, -1.0f), pair(0.5f, -0.5f));
        EXPECT_EQ(left(out), -right(out));
        if (silentFrom < 0 && left(out) == 0.0f) silentFrom = i;
    }
    EXPECT_NEAR(rates.riseStep, 0.3 / 3600, 1e-8);
    // 1 / (5 x 0.3) at about 8.33e-5 per frame
    EXPECT_GE(silentFrom, 7999);
    EXPECT_LE(silentFrom, 8001);
    EXPECT_NEAR(d.duckerEnvelope, 9000 * rates.riseStep, 1e-9);

    // fall at 0.28 of the rate once the input stops
    Ducker fall;
    fall.duckerEnvelope = 0.6666;
    int frames = 0;
    while (fall.duckerEnvelope > 0.0 && frames < 100000) {
        fall.apply(rates, splat(0.0f), splat(0.0f));
        ++frames;
    }
    EXPECT_NEAR(frames, 0.6666 / (0.28 * rates.riseStep), 2.0);
    EXPECT_EQ(fall.duckerEnvelope, 0.0);
}

TEST(Ducker, RampLengthFromTheSpeedAndFullScaleClamp) {
    const struct {
        float speed;
        double n;
    } table[] = {{0.0f, 5600}, {0.5f, 3600}, {1.0f, 1600}};
    for (const auto& row : table) {
        DuckerRates rates;
        rates.refresh(1.0f, row.speed);
        EXPECT_EQ(rates.riseStep, 1.0 / row.n) << row.speed;
    }
    Ducker d;
    DuckerRates full;
    full.refresh(1.0f, 1.0f);
    for (int i = 0; i < 2000; ++i)
        d.apply(full, splat(2.0f), splat(1.0f));
    EXPECT_EQ(d.duckerEnvelope, 1.0);
}
