// The delay engine: two independent delay lines with feedback, initial offsets of the wet taps,
// the filter stages, gate and ducker, the mix and the output saturation, one sample frame at a
// time. All state lives in this object (about 7.4 MB, held inside the effect); nothing is
// allocated while audio runs.
#pragma once

#include "effect/dsp.h"
#include "effect/gateducker.h"
#include "effect/parameters.h"

#include <atomic>
#include <cstdint>

namespace ql {

class DelayEngine {
public:
    static constexpr std::int32_t DelayLineLength = dsp::kDelayLineLength;

    // Runs `frames` frames. Both input samples of a frame are read before either output is
    // written, so inputs and outputs may be the same arrays. With Accumulate the result is added
    // to what the outputs held. The caller passes four valid channel pointers and frames > 0.
    //
    // Parameters take effect from the next frame. With `changes`, a counter the writer of the
    // parameters bumps (release) after every store, the engine reads that counter at every
    // frame and reads the parameters again only when it moved; without it the parameters are
    // read afresh at every frame.
    template <bool Accumulate>
    void run(const std::atomic<float>* params, double samplesPerWholeNote, const float* inL,
             const float* inR, float* outL, float* outR, std::int32_t frames,
             const std::atomic<std::uint32_t>* changes = nullptr);

    // Silences both lines; positions, filter, gate and ducker states are kept.
    void clearDelayLines();

    // A delay in samples for a delay-time value: round(value x samplesPerWholeNote), kept inside
    // 0..DelayLineLength (0 and DelayLineLength both tap the sample one full line old).
    static std::int32_t delaySamples(float value, double samplesPerWholeNote);
    // An initial offset for an offset value: round((value - 0.5) x samplesPerWholeNote), kept
    // inside -DelayLineLength..DelayLineLength.
    static std::int32_t offsetSamples(float value, double samplesPerWholeNote);

    float leftDelayLine[DelayLineLength] = {};
    float rightDelayLine[DelayLineLength] = {};
    std::int32_t leftWritePos = 0;
    std::int32_t rightWritePos = 0;
    float leftFeedbackSample = 0.0f;
    float rightFeedbackSample = 0.0f;

    float leftFilterStage1 = 0.0f, leftFilterStage2 = 0.0f;
    float rightFilterStage1 = 0.0f, rightFilterStage2 = 0.0f;
    float leftHiCutStage1 = 0.0f, leftHiCutStage2 = 0.0f;
    float leftLoCutStage1 = 0.0f, leftLoCutStage2 = 0.0f;
    float rightHiCutStage1 = 0.0f, rightHiCutStage2 = 0.0f;
    float rightLoCutStage1 = 0.0f, rightLoCutStage2 = 0.0f;

    Gate gate;
    Ducker ducker;

    // Every state besides the lines, as one comparable value.
    struct Snapshot {
        std::int32_t leftWritePos, rightWritePos;
        float leftFeedbackSample, rightFeedbackSample;
        float leftFilterStage1, leftFilterStage2, rightFilterStage1, rightFilterStage2;
        float leftHiCutStage1, leftHiCutStage2, leftLoCutStage1, leftLoCutStage2;
        float rightHiCutStage1, rightHiCutStage2, rightLoCutStage1, rightLoCutStage2;
        std::int32_t gateState, gateHoldCount, gateAttackCount, gateReleaseCount;
        double gateGain, duckerEnvelope;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const {
        return {leftWritePos,        rightWritePos,        leftFeedbackSample,
                rightFeedbackSample, leftFilterStage1,     leftFilterStage2,
                rightFilterStage1,   rightFilterStage2,    leftHiCutStage1,
                leftHiCutStage2,     leftLoCutStage1,      leftLoCutStage2,
                rightHiCutStage1,    rightHiCutStage2,     rightLoCutStage1,
                rightLoCutStage2,    gate.gateState,       gate.gateHoldCount,
                gate.gateAttackCount, gate.gateReleaseCount, gate.gateGain,
                ducker.duckerEnvelope};
    }

private:
    // A delay or offset in samples, kept while the parameter's bits and the block's whole-note
    // length stay the same.
    struct CachedSamples {
        std::uint32_t key = dsp::kNoKey;
        std::int32_t samples = 0;
    };

    // Everything the per-frame flow takes from the parameters, derived when they change. The
    // derived values keep their caches (keyed on the parameters' bits), so a change of one
    // parameter recomputes only what depends on it.
    struct Settings {
        std::int32_t delayL = 0, delayR = 0, offsetL = 0, offsetR = 0;
        bool filterL = false, filterR = false;
        bool filterFInUnit = false; // both f within 0..1: the second states need no guard
        bool saturate = false, hiCut = false, loCut = false, gate = false, ducker = false;
        bool dry = false;
        float gateThreshold = 0.0f;
        float lineBound = 0.0f;
        dsp::Floats2 dryLevel{};
        dsp::Doubles2 antiDenormal{};
        dsp::Floats2 flushBelow{};
        // Left and right side by side for the paired arithmetic of the frame loop.
        dsp::Doubles2 filterF{}, filterK{}; // resonant coefficients, 0 for a side switched off
        dsp::DoubleMask2 filterOn{};
        dsp::Mask2 filterOnFloat{};
        dsp::Floats2 feedbackLevel{};
        dsp::Mask2 feedbackOn{};
        dsp::Doubles2 hiCutCoefficient{}, loCutCoefficient{};
        dsp::Floats2 wetLevel{};
        dsp::Mask2 wetOn{};
        dsp::ResonantCoefficients resonanceL, resonanceR;
        GateTiming gateTiming;
        DuckerRates duckerRates;
        CachedSamples delayCacheL, delayCacheR, offsetCacheL, offsetCacheR;
    };
    void readSettings(const std::atomic<float>* params, double samplesPerWholeNote);

    Settings settings;
    bool settingsValid = false;        // false until the first frame and after a tempo change
    std::uint32_t seenChanges = 0;     // the change counter the settings were read at
    double cachedWholeNote = -1.0;
};

} // namespace ql
