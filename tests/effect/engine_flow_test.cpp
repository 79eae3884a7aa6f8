// The per-frame flow through the effect: where echoes arrive, how the stages are wired, and the
// process entries' handling of buffers and bad input.
#include "engine_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace enginetest;
using namespace ql;

namespace {

// Renders `frames` frames in blocks of 512 with a click of 1.0 in both channels at frame 0;
// answers the frames where each output is not zero.
struct ClickRender {
    std::vector<int> left, right;
    std::vector<float> outL, outR;
};

ClickRender renderClick(APlugin& e, int frames, float click = 1.0f) {
    ClickRender r;
    r.outL.resize(frames);
    r.outR.resize(frames);
    for (int start = 0; start < frames; start += 512) {
        const int n = std::min(512, frames - start);
        Block b(n);
        if (start == 0) b.inL[0] = b.inR[0] = click;
        b.run(e);
        std::copy(b.outL.begin(), b.outL.end(), r.outL.begin() + start);
        std::copy(b.outR.begin(), b.outR.end(), r.outR.begin() + start);
    }
    for (int i = 0; i < frames; ++i) {
        if (r.outL[i] != 0.0f) r.left.push_back(i);
        if (r.outR[i] != 0.0f) r.right.push_back(i);
    }
    return r;
}

// A plain echo setup: no offsets, feedback off, no dry.
void plainEcho(APlugin& e, float leftTime, float rightTime) {
    setAll(e, {{LeftDelayTime, leftTime},
               {RightDelayTime, rightTime},
               {InitialDelayOn, 0.0f},
               {LeftFeedbackOn, 0.0f},
               {RightFeedbackOn, 0.0f}});
}

std::vector<float> noise(int frames, uint32_t seed, float scale = 1.0f) {
    std::vector<float> v(frames);
    for (float& s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = scale * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return v;
}

void allStagesOn(APlugin& e) {
    setAll(e, {{DryOn, 1.0f},
               {LeftDelayTime, 0.01f},
               {RightDelayTime, 0.013f},
               {LeftFilterOn, 1.0f},
               {LeftFilterFreq, 0.6f},
               {LeftFilterReso, 0.5f},
               {RightFilterOn, 1.0f},
               {RightFilterFreq, 0.4f},
               {RightFilterReso, 0.3f},
               {HiCutOn, 1.0f},
               {HiCutFreq, 0.7f},
               {LoCutOn, 1.0f},
               {LoCutFreq, 0.05f},
               {GateOn, 1.0f},
               {GateThreshold, 0.2f},
               {DuckerOn, 1.0f},
               {DuckerRange, 0.3f},
               {LeftInitialDelayTime, 0.45f},
               {RightInitialDelayTime, 0.52f}});
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST(EngineFlow, ClickThroughProgramZeroPingPongs) {
    // 6/16 on both sides, the left tap 3/16 early: at 120 bpm a whole note is 88200 samples,
    // the delay 33075 and the left offset round(-16537.5) = -16538.
    auto e = makeEffect(120.0, 44100.0);
    const ClickRender r = renderClick(*e, 100000);
    EXPECT_EQ(r.left, (std::vector<int>{16537, 49612, 82687}));
    EXPECT_EQ(r.right, (std::vector<int>{33075, 66150, 99225}));
    EXPECT_EQ(r.outL[16537], 0.975f); // 1.0 through the output saturation
    EXPECT_EQ(r.outL[49612], 0.4f);   // once round the loop at feedback 0.4
    EXPECT_EQ(r.outR[33075], 0.975f);
    EXPECT_EQ(r.outR[66150], 0.4f);
    EXPECT_EQ(r.outL[82687], 0.4f * 0.4f);
}

TEST(EngineFlow, EchoArrivesAfterTheDelayInSamples) {
    auto e = makeEffect(120.0, 44100.0);
    plainEcho(*e, 1.0f, 0.25f);
    const ClickRender r = renderClick(*e, 90000);
    EXPECT_EQ(r.left, std::vector<int>{88200});
    EXPECT_EQ(r.right, std::vector<int>{22050});

    // linked: the right side takes the left delay, its own offset stays
    auto linked = makeEffect(120.0, 44100.0);
    plainEcho(*linked, 0.25f, 0.5f);
    setAll(*linked, {{DelayTimeLink, 1.0f},
                     {InitialDelayOn, 1.0f},
                     {LeftInitialDelayTime, 0.5f},
                     {RightInitialDelayTime, 0.625f}});
    const ClickRender l = renderClick(*linked, 50000);
    EXPECT_EQ(l.left, std::vector<int>{22050});
    EXPECT_EQ(l.right, std::vector<int>{22050 + 11025});
}

TEST(EngineFlow, ASwitchAt0999IsOff) {
    auto e = makeEffect(120.0, 44100.0);
    plainEcho(*e, 0.25f, 0.25f);
    setAll(*e, {{LeftDelayOn, 0.999f}, {DryOn, 0.999f}, {RightFeedbackOn, 1.0f}});
    ClickRender r = renderClick(*e, 30000);
    EXPECT_TRUE(r.left.empty());                 // no echo and no dry
    EXPECT_EQ(r.right, std::vector<int>{22050}); // the echo, no dry at frame 0

    // the left line kept running: switching the echo on brings back what is in it
    auto f = makeEffect(120.0, 44100.0);
    plainEcho(*f, 0.25f, 0.25f);
    setAll(*f, {{LeftDelayOn, 0.0f}, {LeftFeedbackOn, 1.0f}, {LeftFeedbackLevel, 1.0f}});
    renderClick(*f, 30000);
    f->setParameter(LeftDelayOn, 1.0f);
    Block b(20000);
    b.run(*f);
    EXPECT_EQ(b.outL[44100 - 30000], 0.975f);
}

TEST(EngineFlow, MixOfDryAndEchoLeavesThroughTheSaturation) {
    auto e = makeEffect(120.0, 44100.0);
    plainEcho(*e, 0.25f, 0.25f);
    setAll(*e, {{DryOn, 1.0f}, {DryLevel, 1.0f}, {LeftDelayLevel, 1.0f}});
    Block b(22100);
    std::fill(b.inL.begin(), b.inL.end(), 1.0f);
    b.run(*e);
    EXPECT_EQ(b.outL[0], 0.975f);
    EXPECT_EQ(b.outL[22049], 0.975f);
    EXPECT_NEAR(b.outL[22050], 0.952376, 5e-7); // 2.0
    EXPECT_EQ(b.outR[0], 0.0f);
}

TEST(EngineFlow, WhatEntersTheLineIsBoundedWhileTheGateSwitchIsOn) {
    auto e = makeEffect(120.0, 44100.0);
    plainEcho(*e, 0.01f, 0.01f);
    setAll(*e, {{GateOn, 1.0f}, {LeftFeedbackOn, 1.0f}, {LeftFeedbackLevel, 1.0f}});
    Block b(20000);
    std::fill(b.inL.begin(), b.inL.end(), 0.5f); // 0.5 + 0.5 meets the curve's peak once
    b.run(*e);
    float peak = 0.0f;
    for (int i = 0; i < 20000; ++i)
        peak = std::fmax(peak, e->getEngine().leftDelayLine[i]);
    EXPECT_EQ(peak, static_cast<float>(dsp::softSaturate(1.0, dsp::kLineKnee)));
    EXPECT_LE(peak, 0.9f);
    EXPECT_GT(peak, 0.899f);
}

TEST(EngineFlow, FilterStagesWiredIntoTheirPlaces) {
    // a resonant filter at frequency 0 holds the feedback at its (zero) state: one echo only
    auto e = makeEffect(120.0, 44100.0);
    plainEcho(*e, 0.125f, 0.125f);
    setAll(*e, {{LeftFeedbackOn, 1.0f},
                {RightFeedbackOn, 1.0f},
                {LeftFilterOn, 1.0f},
                {LeftFilterFreq, 0.0f}});
    ClickRender r = renderClick(*e, 40000);
    EXPECT_EQ(r.left, std::vector<int>{11025});
    EXPECT_EQ(r.right, (std::vector<int>{11025, 22050, 33075}));

    // hi cut at 0 silences the echoes, not the dry path
    auto h = makeEffect(120.0, 44100.0);
    plainEcho(*h, 0.125f, 0.125f);
    setAll(*h, {{HiCutOn, 1.0f}, {HiCutFreq, 0.0f}, {DryOn, 1.0f}});
    r = renderClick(*h, 20000);
    EXPECT_EQ(r.left, std::vector<int>{0});

    // lo cut at 0 lets the echo pass unchanged
    auto l = makeEffect(120.0, 44100.0);
    plainEcho(*l, 0.125f, 0.125f);
    setAll(*l, {{LoCutOn, 1.0f}, {LoCutFreq, 0.0f}});
    r = renderClick(*l, 20000, 0.5f);
    EXPECT_EQ(r.left, std::vector<int>{11025});
    EXPECT_EQ(r.outL[11025], 0.5f);
}

TEST(EngineFlow, GateAndDuckerWiring) {
    // threshold 0: the gate does nothing and stays closed
    auto e = makeEffect(120.0, 44100.0);
    plainEcho(*e, 0.125f, 0.125f);
    setAll(*e, {{GateOn, 1.0f}, {GateThreshold, 0.0f}});
    ClickRender r = renderClick(*e, 12000, 0.5f);
    EXPECT_EQ(r.outL[11025], 0.5f);
    EXPECT_EQ(e->getEngine().state.gate.gateState, GateClosed);

    // the gate sees the echoes after the cuts: a strong lo cut keeps it closed
    auto g = makeEffect(120.0, 44100.0);
    plainEcho(*g, 0.125f, 0.125f);
    setAll(*g, {{GateOn, 1.0f}, {GateThreshold, 0.05f}});
    r = renderClick(*g, 12000, 0.5f);
    EXPECT_EQ(g->getEngine().state.gate.gateState, GateOpen);
    EXPECT_EQ(r.outL[11025], static_cast<float>(0.5 * (1.0 / 150)));
    auto c = makeEffect(120.0, 44100.0);
    plainEcho(*c, 0.125f, 0.125f);
    setAll(*c, {{GateOn, 1.0f}, {GateThreshold, 0.05f}, {LoCutOn, 1.0f}, {LoCutFreq, 0.99f}});
    r = renderClick(*c, 12000, 0.5f);
    EXPECT_EQ(c->getEngine().state.gate.gateState, GateClosed);
    EXPECT_TRUE(r.left.empty());

    // the ducker listens to the input with the dry path off; range 0 freezes it
    auto d = makeEffect(120.0, 44100.0);
    setAll(*d, {{DuckerOn, 1.0f}, {DuckerRange, 0.0f}});
    Block loud(1000);
    std::fill(loud.inL.begin(), loud.inL.end(), 1.0f);
    loud.run(*d);
    EXPECT_EQ(d->getEngine().state.ducker.duckerEnvelope, 0.0);
    d->setParameter(DuckerRange, 0.3f);
    loud.run(*d);
    EXPECT_NEAR(d->getEngine().state.ducker.duckerEnvelope, 1000 * (0.3f / 3600.0), 1e-9);
}

TEST(EngineFlow, InPlaceEqualsSeparateBuffers) {
    auto a = makeEffect(120.0, 44100.0);
    auto b = makeEffect(120.0, 44100.0);
    allStagesOn(*a);
    allStagesOn(*b);
    for (int block = 0; block < 20; ++block) {
        Block sep(700);
        sep.inL = noise(700, 2 * block + 1);
        sep.inR = noise(700, 2 * block + 2);
        std::vector<float> l = sep.inL, r = sep.inR;
        sep.run(*a);
        float* io[2] = {l.data(), r.data()};
        b->processReplacing(io, io, 700);
        ASSERT_TRUE(sameBits(sep.outL, l)) << block;
        ASSERT_TRUE(sameBits(sep.outR, r)) << block;
    }
}

TEST(EngineFlow, ProcessAddsTheSameResultToTheOutputs) {
    auto a = makeEffect(120.0, 44100.0);
    auto b = makeEffect(120.0, 44100.0);
    allStagesOn(*a);
    allStagesOn(*b);
    for (int block = 0; block < 10; ++block) {
        Block rep(600);
        rep.inL = noise(600, 7 * block + 1);
        rep.inR = noise(600, 7 * block + 2);
        rep.run(*a);
        std::vector<float> prevL = noise(600, 99 + block, 0.3f), prevR = noise(600, 77, 0.3f);
        std::vector<float> accL = prevL, accR = prevR;
        float* ins[2] = {rep.inL.data(), rep.inR.data()};
        float* outs[2] = {accL.data(), accR.data()};
        b->process(ins, outs, 600);
        for (int i = 0; i < 600; ++i) {
            ASSERT_EQ(accL[i], prevL[i] + rep.outL[i]) << block << ' ' << i;
            ASSERT_EQ(accR[i], prevR[i] + rep.outR[i]) << block << ' ' << i;
        }
    }
}

TEST(EngineFlow, ResumeClearsTheLinesAndKeepsEveryOtherState) {
    auto e = makeEffect(120.0, 44100.0);
    allStagesOn(*e);
    Block b(3000);
    b.inL = noise(3000, 5);
    b.inR = noise(3000, 6);
    b.run(*e);
    const DelayEngine& s = e->getEngine();
    const EngineState before = s.state;
    ASSERT_NE(before.leftWritePos, 0);
    ASSERT_NE(dsp::left(before.hiCut.stage2), 0.0f);
    ASSERT_NE(before.gate.gateGain, 0.0);
    ASSERT_NE(before.ducker.duckerEnvelope, 0.0);
    e->suspend();
    EXPECT_TRUE(before == s.state);
    e->resume();
    EXPECT_TRUE(before == s.state);
    for (int i = 0; i < DelayEngine::DelayLineLength; ++i) {
        ASSERT_EQ(s.leftDelayLine[i], 0.0f) << i;
        ASSERT_EQ(s.rightDelayLine[i], 0.0f) << i;
    }
}

TEST(EngineFlow, NonFiniteInputCountsAsSilence) {
    auto a = makeEffect(120.0, 44100.0);
    auto b = makeEffect(120.0, 44100.0);
    allStagesOn(*a);
    allStagesOn(*b);
    Block clean(4000), dirty(4000);
    clean.inL = dirty.inL = noise(4000, 11);
    clean.inR = dirty.inR = noise(4000, 12);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (int i = 0; i < 4000; i += 97) {
        clean.inL[i] = 0.0f;
        dirty.inL[i] = bad[i % 3];
        clean.inR[i + 1] = 0.0f;
        dirty.inR[i + 1] = bad[(i + 1) % 3];
    }
    clean.run(*a);
    dirty.run(*b);
    EXPECT_TRUE(sameBits(clean.outL, dirty.outL));
    EXPECT_TRUE(sameBits(clean.outR, dirty.outR));
}

TEST(EngineFlow, ARunawayLoopNeverLeavesTheFloatRange) {
    // full feedback through a resonant filter at its limits, nothing bounding the loop
    auto e = makeEffect(120.0, 44100.0);
    setAll(*e, {{LeftDelayTime, 0.001f},
                {InitialDelayOn, 0.0f},
                {LeftFeedbackLevel, 1.0f},
                {LeftFilterOn, 1.0f},
                {LeftFilterFreq, 1.0f},
                {LeftFilterReso, 1.0f},
                {DryOn, 1.0f}});
    Block b(4096);
    b.inL = noise(4096, 3, 1e30f);
    for (int block = 0; block < 40; ++block) {
        b.run(*e);
        for (int i = 0; i < 4096; ++i) {
            ASSERT_TRUE(std::isfinite(b.outL[i]));
            ASSERT_LE(std::fabs(b.outL[i]), 1.0f);
        }
    }
    const DelayEngine& s = e->getEngine();
    EXPECT_TRUE(std::isfinite(dsp::left(s.state.filter.stage1)));
    EXPECT_TRUE(std::isfinite(dsp::left(s.state.filter.stage2)));
    for (int i = 0; i < DelayEngine::DelayLineLength; i += 1)
        ASSERT_TRUE(std::isfinite(s.leftDelayLine[i]));
}

TEST(EngineFlow, BadBuffersAndFrameCountsProcessNothingButRunTheTiming) {
    auto e = makeEffect(120.0, 44100.0);
    Block b(16);
    std::fill(b.outL.begin(), b.outL.end(), 0.25f);
    float* ins[2] = {b.inL.data(), nullptr};
    float* outs[2] = {b.outL.data(), b.outR.data()};
    script.timeInfo.tempo = 60.0;
    e->processReplacing(ins, outs, 16);
    EXPECT_EQ(e->getWholeNoteMs(), 4000);
    EXPECT_EQ(b.outL[0], 0.25f);
    script.timeInfo.tempo = 240.0;
    e->process(nullptr, nullptr, 16);
    EXPECT_EQ(e->getWholeNoteMs(), 1000);
    ins[1] = b.inR.data();
    script.timeInfo.tempo = 120.0;
    e->processReplacing(ins, outs, -3);
    EXPECT_EQ(e->getWholeNoteMs(), 2000);
    EXPECT_EQ(b.outL[0], 0.25f);
    EXPECT_EQ(e->getEngine().state.leftWritePos, 0);
}

TEST(EngineFlow, BrokenTempiKeepEveryTapInsideTheLines) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double tempo : {0.0, -120.0, nan, inf, 1e-300, 1.0, 5.0}) {
        auto e = makeEffect(tempo, 192000.0);
        allStagesOn(*e);
        setAll(
            *e,
            {{LeftDelayTime, 1.0f}, {LeftInitialDelayTime, 0.0f}, {RightInitialDelayTime, 1.0f}});
        Block b(5000);
        b.inL = noise(5000, 1);
        b.inR = noise(5000, 2);
        b.run(*e);
        for (float s : b.outL)
            ASSERT_TRUE(std::isfinite(s)) << tempo;
    }
}
