// The engine on its own: taps at the ends of the line checked by placing samples in it, and the
// whole per-frame flow compared bit for bit with a plain, uncached transcription of it while
// every parameter moves.
#include "effect/engine.h"
#include "moving_params.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

using namespace ql;

namespace {

constexpr int32_t N = DelayEngine::DelayLineLength;

struct Params {
    std::atomic<float> v[kNumParams];
    Params() {
        for (int i = 0; i < kNumParams; ++i)
            v[i].store(defaultParameterValue(i));
    }
    void set(int i, float value) { v[i].store(value); }
    float operator[](int i) const { return v[i].load(); }
};

// One frame with silent input; answers the left output.
float oneFrame(DelayEngine& e, const Params& p, double wholeNote, float* right = nullptr) {
    float in = 0.0f, outL = 0.0f, outR = 0.0f;
    e.run<false>(p.v, wholeNote, &in, &in, &outL, &outR, 1);
    if (right) *right = outR;
    return outL;
}

} // namespace

TEST(EngineLine, ADelayOfZeroOrOfTheWholeLineTapsTheOldestSample) {
    auto e = std::make_unique<DelayEngine>();
    Params p;
    p.set(InitialDelayOn, 0.0f);
    // 0 whole notes, then 1 whole note of exactly one line
    for (const auto& [time, wholeNote] : {std::pair{0.0f, 88200.0}, std::pair{1.0f, 921600.0}}) {
        p.set(LeftDelayTime, time);
        p.set(RightDelayTime, time);
        const int32_t w = e->state.leftWritePos;
        // what this slot holds was written one full line (921600 frames) ago
        e->leftDelayLine[w] = 0.5f;
        e->rightDelayLine[w] = -0.25f;
        float right = 0.0f;
        EXPECT_EQ(oneFrame(*e, p, wholeNote, &right), 0.5f) << time;
        EXPECT_EQ(right, -0.25f);
        // the feedback tap read the same sample before the slot was overwritten
        EXPECT_EQ(e->leftDelayLine[w], 0.5f * 0.4f);
        EXPECT_EQ(e->rightDelayLine[w], -0.25f * 0.4f);
    }
}

TEST(EngineLine, WetTapsWrapAtBothEndsOfTheLine) {
    auto e = std::make_unique<DelayEngine>();
    Params p;
    p.set(InitialDelayOn, 1.0f);
    p.set(LeftDelayTime, 0.25f);        // 22050 samples at 88200 per whole note
    p.set(LeftInitialDelayTime, 0.0f);  // -44100: newer than the feedback tap
    p.set(RightDelayTime, 0.75f);       // 66150
    p.set(RightInitialDelayTime, 1.0f); // +44100
    // at write position 0 the left feedback tap is 921600 - 22050; its wet tap lies 44100
    // newer, past the end, so it wraps to slot 22050: the oldest end of the line
    e->leftDelayLine[N - 22050] = 0.125f;
    e->leftDelayLine[22050] = 0.5f;
    e->rightDelayLine[N - 66150] = 0.0625f;
    e->rightDelayLine[N - 66150 - 44100] = -0.5f;
    float right = 0.0f;
    EXPECT_EQ(oneFrame(*e, p, 88200.0, &right), 0.5f);
    EXPECT_EQ(right, -0.5f);
    EXPECT_EQ(e->leftDelayLine[0], 0.125f * 0.4f);
    EXPECT_EQ(e->rightDelayLine[0], 0.0625f * 0.4f);
    EXPECT_EQ(e->state.leftWritePos, 1);

    // the write positions wrap from the last slot to 0
    e->state.leftWritePos = e->state.rightWritePos = N - 1;
    oneFrame(*e, p, 88200.0);
    EXPECT_EQ(e->state.leftWritePos, 0);
    EXPECT_EQ(e->state.rightWritePos, 0);
}

namespace {

// The per-frame flow written out plainly: every derived value recomputed every frame, library
// rounding, no shortcuts. The engine must match it bit for bit.
struct Reference {
    std::vector<float> lineL = std::vector<float>(N), lineR = std::vector<float>(N);
    int32_t posL = 0, posR = 0;
    float fbL = 0, fbR = 0;
    float f1L = 0, f2L = 0, f1R = 0, f2R = 0;
    float h1L = 0, h2L = 0, h1R = 0, h2R = 0, l1L = 0, l2L = 0, l1R = 0, l2R = 0;
    int32_t gState = 1, gHold = 0, gAttack = 0, gRelease = 0;
    double gGain = 0, env = 0;

    static bool on(float v) { return v == 1.0f; }
    static int32_t rnd(double x) { return static_cast<int32_t>(std::nearbyint(x)); }
    static double sat(double x, double k) {
        if (x > k) {
            if (std::isinf(x)) return k;
            const double u = x - k;
            double y = k + u / (1 + (u / (1 - k)) * (u / (1 - k)));
            return y > 1 ? 1 : y;
        }
        if (x < -k) {
            if (std::isinf(x)) return -k;
            const double u = -x - k;
            double y = -(k + u / (1 + (u / (1 - k)) * (u / (1 - k))));
            return y < -1 ? -1 : y;
        }
        return x == x ? x : 0.0;
    }
    static float resonant(float x, float fv, float qv, float& s1, float& s2) {
        const double f = fv > 0.99f ? 0.99f : fv;
        const double q = qv > 0.98f ? 0.98f : qv;
        const float k = static_cast<float>(q + q / (1 - f));
        s1 = static_cast<float>(s1 + f * ((x - double(s1)) + (double(s1) - s2) * k) + 1e-25);
        if (!std::isfinite(s1)) s1 = 0;
        s2 = static_cast<float>(s2 + f * (double(s1) - s2));
        if (!std::isfinite(s2)) s2 = 0;
        return s2;
    }
    static float lowPass(float x, float cv, float& s1, float& s2) {
        const double c = cv > 0.99f ? 0.99f : cv;
        s1 = static_cast<float>(s1 + (x - double(s1)) * c + 1e-25);
        s2 = static_cast<float>(s2 + (double(s1) - s2) * c);
        return s2;
    }
    static float write(float in, float tap, float level, bool fbOn, bool sat08) {
        float fb = tap * level;
        if (std::fabs(fb) < 1e-25 || !fbOn) fb = 0;
        double x = double(in) + fb;
        if (sat08) x = sat(x, 0.8);
        const float s = static_cast<float>(x);
        return std::isfinite(s) ? s : 0.0f;
    }

    void frame(const Params& p, double spwn, float inL, float inR, float& outL, float& outR) {
        if (!std::isfinite(inL)) inL = 0;
        if (!std::isfinite(inR)) inR = 0;
        const int32_t dL = rnd(p[LeftDelayTime] * spwn);
        const int32_t dR = on(p[DelayTimeLink]) ? dL : rnd(p[RightDelayTime] * spwn);
        int32_t oL = 0, oR = 0;
        if (on(p[InitialDelayOn])) {
            oL = rnd((p[LeftInitialDelayTime] - 0.5) * spwn);
            oR = rnd((p[RightInitialDelayTime] - 0.5) * spwn);
        }
        int32_t rL = posL - dL, rR = posR - dR;
        if (rL < 0) rL += N;
        if (rR < 0) rR += N;
        fbL = lineL[rL];
        fbR = lineR[rR];
        int32_t wL = rL - oL, wR = rR - oR;
        wL = wL < 0 ? wL + N : wL >= N ? wL - N : wL;
        wR = wR < 0 ? wR + N : wR >= N ? wR - N : wR;
        float wetL = lineL[wL], wetR = lineR[wR];
        if (on(p[LeftFilterOn]))
            fbL = resonant(fbL, p[LeftFilterFreq], p[LeftFilterReso], f1L, f2L);
        if (on(p[RightFilterOn]))
            fbR = resonant(fbR, p[RightFilterFreq], p[RightFilterReso], f1R, f2R);
        const bool gateOn = on(p[GateOn]);
        lineL[posL] = write(inL, fbL, p[LeftFeedbackLevel], on(p[LeftFeedbackOn]), gateOn);
        lineR[posR] = write(inR, fbR, p[RightFeedbackLevel], on(p[RightFeedbackOn]), gateOn);
        if (on(p[HiCutOn])) {
            wetL = lowPass(wetL, p[HiCutFreq], h1L, h2L);
            wetR = lowPass(wetR, p[HiCutFreq], h1R, h2R);
        }
        if (on(p[LoCutOn])) {
            wetL = wetL - lowPass(wetL, p[LoCutFreq], l1L, l2L);
            wetR = wetR - lowPass(wetR, p[LoCutFreq], l1R, l2R);
        }
        if (gateOn && p[GateThreshold] > 0) {
            const double t = 1.05 - p[GateSpeed];
            const int32_t attack = rnd(200 * t), hold = rnd(4000 * t), release = rnd(10000 * t);
            const float level = std::max(std::fabs(wetL), std::fabs(wetR));
            const float threshold = p[GateThreshold];
            if ((gState == 1 || gState == 3) && level > threshold) {
                gState = 2;
                gAttack = gHold = 0;
            }
            if (gState == 2) {
                ++gAttack;
                gGain += 1.0 / attack;
                if (gAttack > attack) gState = 0, gGain = 1.0;
            }
            if (gState == 0 || gState == 2) {
                if (level >= threshold)
                    gHold = 0;
                else if (++gHold > hold)
                    gHold = 0, gState = 3, gRelease = 0;
            }
            if (gState == 3) {
                ++gRelease;
                gGain -= 1.0 / release;
                if (gRelease > release) gState = 1;
            }
            wetL = gState == 1 ? 0.0f : static_cast<float>(wetL * gGain);
            wetR = gState == 1 ? 0.0f : static_cast<float>(wetR * gGain);
        }
        if (on(p[DuckerOn]) && p[DuckerRange] > 0) {
            const double input = std::max(std::fabs(inL), std::fabs(inR));
            const double r = p[DuckerRange];
            const double step = r / rnd(4000 * (1.4 - p[DuckerSpeed]));
            if (input > env) {
                env = std::min(env + step, 1.0);
            } else {
                env -= 0.28 * step;
                if (env < 0) env = 0;
            }
            double gain = 1 - 5 * env * r;
            if (gain < 0) gain = 0;
            wetL = static_cast<float>(wetL * gain);
            wetR = static_cast<float>(wetR * gain);
        }
        float mL = 0, mR = 0;
        if (on(p[LeftDelayOn])) mL = wetL * p[LeftDelayLevel];
        if (on(p[RightDelayOn])) mR = wetR * p[RightDelayLevel];
        if (on(p[DryOn])) {
            mL = mL + inL * p[DryLevel];
            mR = mR + inR * p[DryLevel];
        }
        outL = static_cast<float>(sat(mL, 0.95));
        outR = static_cast<float>(sat(mR, 0.95));
        if (++posL > N - 1) posL = 0;
        if (++posR > N - 1) posR = 0;
    }
};

struct Rng {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    float unit() { return static_cast<float>(next() >> 8) / 16777216.0f; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<uint32_t>(n)); }
};

} // namespace

TEST(EngineReference, EveryFrameMatchesThePlainFlowWhileParametersMove) {
    auto engine = std::make_unique<DelayEngine>();
    auto ref = std::make_unique<Reference>();
    Params p;
    Rng rng{12345};
    // The moving parameters and the values they jump between: switches on and off (and just
    // below on), levels, short delay times so echoes pile up, offsets, filter settings at and
    // beyond their clamps.
    const std::vector<int> switches = enginetest::movingSwitches();
    const std::vector<int> values = enginetest::movingValues();
    for (int s : switches)
        p.set(s, 1.0f);
    p.set(LeftDelayTime, 0.01f);
    p.set(RightDelayTime, 0.02f);
    p.set(GateThreshold, 0.1f);

    std::vector<float> inL(256), inR(256), outL(256), outR(256);
    double wholeNote = 88200.0;
    int64_t frames = 0, differing = 0;
    for (int block = 0; block < 1500; ++block) {
        // mostly short blocks, so that changes land between nearby frames
        const int n = 1 + rng.below(block % 10 == 0 ? 256 : 16);
        for (int changes = rng.below(3); changes > 0; --changes) {
            if (rng.below(3) == 0) {
                const float choice[] = {0.0f, 1.0f, 1.0f, 0.999f};
                p.set(switches[size_t(rng.below(int(switches.size())))], choice[rng.below(4)]);
            } else {
                const int index = values[size_t(rng.below(int(values.size())))];
                float v = rng.unit();
                if (index == LeftDelayTime || index == RightDelayTime) v *= 0.05f;
                if (rng.below(8) == 0) v = (rng.below(2) ? 1.0f : 0.0f);
                p.set(index, v);
            }
        }
        if (block % 300 == 299) wholeNote = wholeNote == 88200.0 ? 96000.0 : 88200.0;
        for (int i = 0; i < n; ++i) {
            const float burst = (rng.below(50) < 3) ? 4.0f : 0.6f; // drive the saturations
            inL[i] = (rng.unit() - 0.5f) * burst;
            inR[i] = rng.below(100) == 0 ? NAN : (rng.unit() - 0.5f) * burst;
        }
        engine->run<false>(p.v, wholeNote, inL.data(), inR.data(), outL.data(), outR.data(), n);
        for (int i = 0; i < n; ++i) {
            float l, r;
            ref->frame(p, wholeNote, inL[i], inR[i], l, r);
            if (std::bit_cast<uint32_t>(l) != std::bit_cast<uint32_t>(outL[i]) ||
                std::bit_cast<uint32_t>(r) != std::bit_cast<uint32_t>(outR[i])) {
                if (differing++ < 5)
                    ADD_FAILURE() << "frame " << frames + i << ": " << outL[i] << " vs " << l
                                  << ", " << outR[i] << " vs " << r;
            }
        }
        frames += n;
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(frames, 10000);
    EXPECT_EQ(engine->state.gate.gateGain, ref->gGain);
    EXPECT_EQ(engine->state.ducker.duckerEnvelope, ref->env);
    EXPECT_EQ(dsp::left(engine->state.filter.stage2), ref->f2L);
    EXPECT_EQ(dsp::right(engine->state.loCut.stage2), ref->l2R);
}
