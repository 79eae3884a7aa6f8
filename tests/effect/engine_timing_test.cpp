// The per-block timing step: the tempo and sample rate a block runs at and what the editor sees.
#include "effect/timing.h"
#include "engine_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace enginetest;
using namespace ql;

namespace {
void zeroFrameBlock(APlugin& e) {
    float* none[2] = {nullptr, nullptr};
    e.processReplacing(none, none, 0);
}
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
} // namespace

TEST(Timing, StartValuesAndTheTimeRequestAtConstruction) {
    auto e = makeEffect(120.0, 48000.0);
    ASSERT_EQ(script.timeFilters.size(), 1u);
    EXPECT_EQ(script.timeFilters[0], kVstTempoValid);
    EXPECT_EQ(e->getCurrentSampleRate(), 48000.0);
    EXPECT_EQ(e->getCurrentTempo(), 140.0);
    EXPECT_EQ(e->getHostTempo(), 0.0f);
    EXPECT_FALSE(e->getHostHasTimeInfo());
    EXPECT_FALSE(e->getTempoSynced());
    EXPECT_EQ(e->getWholeNoteMs(), 0);
}

TEST(Timing, WithoutTimeInfoTheManualTempoAndTheBaseRate) {
    auto e = makeEffect();
    script.giveTimeInfo = false;
    e->setSampleRate(96000.0f);
    zeroFrameBlock(*e); // a block of 0 frames still runs the step
    EXPECT_FALSE(e->getHostHasTimeInfo());
    EXPECT_FALSE(e->getTempoSynced()); // TempoSync is on in program 0
    EXPECT_EQ(e->getCurrentTempo(), 140.0);
    EXPECT_EQ(e->getWholeNoteMs(), 1714);
    EXPECT_EQ(e->getHostTempo(), 0.0f);
    EXPECT_EQ(e->getCurrentSampleRate(), 96000.0);
    EXPECT_EQ(samplesPerWholeNote(140.0, 44100.0), 75600.0);
    EXPECT_EQ(script.timeFilters.back(), kVstTempoValid);
}

TEST(Timing, HostTempoWithAndWithoutSync) {
    auto e = makeEffect(120.0, 44100.0);
    e->setSampleRate(22050.0f); // the record's rate wins
    zeroFrameBlock(*e);
    EXPECT_TRUE(e->getHostHasTimeInfo());
    EXPECT_TRUE(e->getTempoSynced());
    EXPECT_EQ(e->getHostTempo(), 120.0f);
    EXPECT_EQ(e->getCurrentTempo(), 120.0);
    EXPECT_EQ(e->getWholeNoteMs(), 2000);
    EXPECT_EQ(e->getCurrentSampleRate(), 44100.0);
    EXPECT_EQ(samplesPerWholeNote(120.0, 44100.0), 88200.0);

    e->setParameter(TempoSync, 0.999f); // off
    zeroFrameBlock(*e);
    EXPECT_FALSE(e->getTempoSynced());
    EXPECT_EQ(e->getCurrentTempo(), 140.0);
    EXPECT_EQ(e->getHostTempo(), 120.0f);

    // the manual tempo is a whole number of beats per minute
    e->setParameter(ManualTempo, 0.0625f); // 62.5 goes to the even neighbour
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getCurrentTempo(), 62.0);
    e->setParameter(ManualTempo, 0.1875f);
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getCurrentTempo(), 188.0);
    EXPECT_TRUE(script.tempoPositions.empty());
}

TEST(Timing, TempoFromTempoAtWhenTheRecordHasNoValidTempo) {
    auto e = makeEffect(999.0, 44100.0);
    script.timeInfo.flags = 0;
    script.tempoAtAnswer = 1200000;
    script.timeInfo.samplePos = 1000.5;
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getHostTempo(), 120.0f);
    EXPECT_EQ(e->getCurrentTempo(), 120.0);
    script.timeInfo.samplePos = 1001.5;
    zeroFrameBlock(*e);
    script.timeInfo.samplePos = 1e30; // outside the request's 32-bit range
    zeroFrameBlock(*e);
    script.timeInfo.samplePos = kNaN;
    zeroFrameBlock(*e);
    ASSERT_EQ(script.tempoPositions.size(), 4u);
    EXPECT_EQ(script.tempoPositions[0], 1000);
    EXPECT_EQ(script.tempoPositions[1], 1002);
    EXPECT_EQ(script.tempoPositions[2], INT32_MAX);
    EXPECT_EQ(script.tempoPositions[3], 0);

    script.tempoAtAnswer = 1234567; // 123.4567 as a float
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getHostTempo(), static_cast<float>(123.4567));
    EXPECT_EQ(e->getCurrentTempo(), static_cast<double>(static_cast<float>(123.4567)));
}

TEST(Timing, FiftyBeatsPerMinuteFillTheLineAt192k) {
    EXPECT_EQ(wholeNoteMillis(50.0), 4800);
    EXPECT_EQ(samplesPerWholeNote(50.0, 192000.0), 921600.0);
    EXPECT_EQ(DelayEngine::delaySamples(1.0f, samplesPerWholeNote(50.0, 192000.0)), 921600);
}

TEST(Timing, TempiThatAreNotFinitePositiveGiveAWholeNoteOfZero) {
    for (double tempo : {0.0, -120.0, kNaN, kInf, -kInf}) {
        EXPECT_EQ(samplesPerWholeNote(tempo, 44100.0), 0.0) << tempo;
        EXPECT_EQ(wholeNoteMillis(tempo), 0) << tempo;
    }
    EXPECT_EQ(samplesPerWholeNote(120.0, kNaN), 0.0);
    EXPECT_EQ(samplesPerWholeNote(120.0, -44100.0), 0.0);
    EXPECT_EQ(wholeNoteMillis(1e-300), INT32_MAX);

    // the host reports one of them: the published values stay defined
    auto e = makeEffect(kNaN, 44100.0);
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getWholeNoteMs(), 0);
    script.timeInfo.tempo = 0.0;
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getWholeNoteMs(), 0);
    e->setParameter(TempoSync, 0.0f);
    e->setParameter(ManualTempo, 0.0f);
    zeroFrameBlock(*e);
    EXPECT_EQ(e->getCurrentTempo(), 0.0);
    EXPECT_EQ(e->getWholeNoteMs(), 0);
}

TEST(Timing, DelaysAndOffsetsStayInsideTheLineForEveryWholeNote) {
    for (double note : {0.0, 1e6, 1e300, kInf}) {
        for (float v : {0.0f, 0.25f, 0.5f, 1.0f}) {
            const int32_t d = DelayEngine::delaySamples(v, note);
            const int32_t o = DelayEngine::offsetSamples(v, note);
            EXPECT_GE(d, 0);
            EXPECT_LE(d, 921600);
            EXPECT_GE(o, -921600);
            EXPECT_LE(o, 921600);
        }
    }
    // in range, the plain rounding
    EXPECT_EQ(DelayEngine::delaySamples(0.375f, 88200.0), 33075);
    EXPECT_EQ(DelayEngine::offsetSamples(0.3125f, 88200.0), -16538); // -16537.5 to even
    EXPECT_EQ(DelayEngine::offsetSamples(0.0f, 88200.0), -44100);
    EXPECT_EQ(DelayEngine::delaySamples(0.6f, 1e6), 600000);
}
