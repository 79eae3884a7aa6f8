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

// Everything the engine carries from one frame to the next besides the two lines. Left and right
// sit side by side in the lanes of a pair: lane 0 of feedbackSample is leftFeedbackSample, lane 1
// of filter.stage2 is rightFilterStage2 (a float held as a double), and so on for the hi cut and
// the lo cut.
struct EngineState {
    std::int32_t leftWritePos = 0;
    std::int32_t rightWritePos = 0;
    dsp::Floats2 feedbackSample{};
    dsp::FilterStates filter; // the resonant low-passes in the feedback loops
    dsp::FilterStates hiCut;
    dsp::FilterStates loCut;
    Gate gate;
    Ducker ducker;

    bool operator==(const EngineState&) const = default;
};

// A delay or offset in samples, kept while the parameter's bits and the block's whole-note length
// stay the same.
struct CachedSamples {
    std::uint32_t key = dsp::kNoKey;
    std::int32_t samples = 0;
};

// Everything the frame loop takes from the parameters, derived when they change. The derived
// values keep their caches (keyed on the parameters' bits), so a change of one parameter
// recomputes only what depends on it.
struct EngineSettings {
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
    dsp::DoubleMask2 filterStatesOn{};
    dsp::Mask2 filterOn{};
    dsp::Floats2 feedbackLevel{};
    dsp::Mask2 feedbackOn{};
    dsp::Doubles2 hiCutCoefficient{}, loCutCoefficient{};
    dsp::Floats2 wetLevel{};
    dsp::Mask2 wetOn{};
    dsp::ResonantCoefficients resonanceL, resonanceR;
    GateTiming gateTiming;
    DuckerRates duckerRates;
    CachedSamples delayCacheL, delayCacheR, offsetCacheL, offsetCacheR;

    void read(const std::atomic<float>* params, double samplesPerWholeNote);
    // The delays and offsets in samples are derived again at the next read (a new tempo).
    void forgetSamples();
};

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
    EngineState state;

  private:
    EngineSettings settings;
    bool settingsValid = false;    // false until the first frame and after a tempo change
    std::uint32_t seenChanges = 0; // the change counter the settings were read at
    double cachedWholeNote = -1.0;
};

} // namespace ql
