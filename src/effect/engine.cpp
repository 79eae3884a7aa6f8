#include "effect/engine.h"

namespace ql {

namespace {

constexpr std::int32_t kLength = DelayEngine::DelayLineLength;

// The stored value of a parameter: one relaxed 32-bit load, taken afresh at every frame.
inline float get(const std::atomic<float>* params, int index) {
    return params[index].load(std::memory_order_relaxed);
}

// A switch is on exactly at 1.0; comparing the bits is the same test without a float compare.
inline bool on(const std::atomic<float>* params, int index) {
    return dsp::bitsOf(get(params, index)) == 0x3F800000u;
}

// The value a frame writes into a line: the input plus the scaled feedback (flushed to 0 below
// the denormal threshold or when switched off), saturated at the knee 0.8 while the gate switch
// is on. A value that would not be a finite float is written as 0: one bad sum must not stay
// in the line and in the loop for good.
inline float lineInput(float in, float feedbackSample, float level, bool feedbackOn,
                       bool saturate) {
    constexpr float kFlush = dsp::floatAtOrAbove(dsp::kAntiDenormal); // |fb| < 1e-25 exactly
    float fb = feedbackSample * level;
    if (!feedbackOn || !(std::fabs(fb) >= kFlush)) fb = 0.0f;
    // The double sum rounded to float equals the float sum (the double holds it with room to
    // spare); the double is needed only where the saturation bends.
    float stored = in + fb;
    if (saturate && !(std::fabs(stored) <= 0.79f))
        stored = static_cast<float>(
            dsp::softSaturate(static_cast<double>(in) + fb, dsp::kLineKnee));
    return std::isfinite(stored) ? stored : 0.0f;
}

} // namespace

std::int32_t DelayEngine::delaySamples(float value, double samplesPerWholeNote) {
    double samples = value * samplesPerWholeNote;
    // The bounds are whole numbers, so clamping before rounding changes no in-range result.
    if (!(samples >= 0.0)) samples = 0.0; // negative or NaN (0 x infinity)
    if (samples > kLength) samples = kLength;
    return dsp::roundToInt(samples);
}

std::int32_t DelayEngine::offsetSamples(float value, double samplesPerWholeNote) {
    double samples = (value - 0.5) * samplesPerWholeNote;
    if (samples != samples) samples = 0.0; // 0 x infinity at the value 0.5
    if (samples > kLength) samples = kLength;
    if (samples < -kLength) samples = -kLength;
    return dsp::roundToInt(samples);
}

void DelayEngine::clearDelayLines() {
    for (std::int32_t i = 0; i < kLength; ++i) {
        leftDelayLine[i] = 0.0f;
        rightDelayLine[i] = 0.0f;
    }
}

// Kept out of line: it runs only when a parameter moved, and the frame loop stays small.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void DelayEngine::readSettings(const std::atomic<float>* params, double samplesPerWholeNote) {
    Settings& s = settings;
    const auto cached = [samplesPerWholeNote](CachedSamples& cache, float value, bool offset) {
        if (dsp::bitsOf(value) != cache.key) {
            cache.key = dsp::bitsOf(value);
            cache.samples = offset ? offsetSamples(value, samplesPerWholeNote)
                                   : delaySamples(value, samplesPerWholeNote);
        }
        return cache.samples;
    };

    // 1, 2: delays and offsets in samples.
    s.delayL = cached(s.delayCacheL, get(params, LeftDelayTime), false);
    s.delayR = on(params, DelayTimeLink) ? s.delayL
                                         : cached(s.delayCacheR, get(params, RightDelayTime), false);
    s.offsetL = s.offsetR = 0;
    if (on(params, InitialDelayOn)) {
        s.offsetL = cached(s.offsetCacheL, get(params, LeftInitialDelayTime), true);
        s.offsetR = cached(s.offsetCacheR, get(params, RightInitialDelayTime), true);
    }

    // 6: resonant low-passes.
    s.filterL = on(params, LeftFilterOn);
    if (s.filterL) s.resonanceL.refresh(get(params, LeftFilterFreq), get(params, LeftFilterReso));
    s.filterR = on(params, RightFilterOn);
    if (s.filterR)
        s.resonanceR.refresh(get(params, RightFilterFreq), get(params, RightFilterReso));

    // 7, 8: line input.
    s.saturate = on(params, GateOn);
    s.feedbackL = on(params, LeftFeedbackOn);
    s.feedbackLevelL = get(params, LeftFeedbackLevel);
    s.feedbackR = on(params, RightFeedbackOn);
    s.feedbackLevelR = get(params, RightFeedbackLevel);

    // 9: cuts.
    s.hiCut = on(params, HiCutOn);
    if (s.hiCut) s.hiCutCoefficient = dsp::clampCoefficient(get(params, HiCutFreq));
    s.loCut = on(params, LoCutOn);
    if (s.loCut) s.loCutCoefficient = dsp::clampCoefficient(get(params, LoCutFreq));

    // 10, 11: gate and ducker, each only while its switch is on and its amount above 0.
    s.gateThreshold = get(params, GateThreshold);
    s.gate = s.saturate && s.gateThreshold > 0.0f;
    if (s.gate) s.gateTiming.refresh(get(params, GateSpeed));
    const float range = get(params, DuckerRange);
    s.ducker = on(params, DuckerOn) && range > 0.0f;
    if (s.ducker) s.duckerRates.refresh(range, get(params, DuckerSpeed));

    // 12: mix.
    s.wetL = on(params, LeftDelayOn);
    s.wetLevelL = get(params, LeftDelayLevel);
    s.wetR = on(params, RightDelayOn);
    s.wetLevelR = get(params, RightDelayLevel);
    s.dry = on(params, DryOn);
    s.dryLevel = get(params, DryLevel);
}

template <bool Accumulate>
void DelayEngine::run(const std::atomic<float>* params, double samplesPerWholeNote,
                      const float* inL, const float* inR, float* outL, float* outR,
                      std::int32_t frames, const std::atomic<std::uint32_t>* changes) {
    if (std::bit_cast<std::uint64_t>(samplesPerWholeNote) !=
        std::bit_cast<std::uint64_t>(cachedWholeNote)) {
        cachedWholeNote = samplesPerWholeNote;
        Settings& s = settings;
        s.delayCacheL.key = s.delayCacheR.key = s.offsetCacheL.key = s.offsetCacheR.key =
            dsp::kNoKey;
        settingsValid = false;
    }
    // Without a change counter every frame reads the parameters again.
    const bool everyFrame = changes == nullptr;
    bool stale = everyFrame || !settingsValid;

    // The state is worked on in locals and stored back after the block: the output buffers
    // could otherwise alias any float of this object, and every store to them would force the
    // state back into memory. The settings are a local copy for the same reason.
    float* const lineL = leftDelayLine;
    float* const lineR = rightDelayLine;
    std::int32_t posL = leftWritePos, posR = rightWritePos;
    float fbSampleL = leftFeedbackSample, fbSampleR = rightFeedbackSample;
    float filterL1 = leftFilterStage1, filterL2 = leftFilterStage2;
    float filterR1 = rightFilterStage1, filterR2 = rightFilterStage2;
    float hiL1 = leftHiCutStage1, hiL2 = leftHiCutStage2, hiR1 = rightHiCutStage1,
          hiR2 = rightHiCutStage2;
    float loL1 = leftLoCutStage1, loL2 = leftLoCutStage2, loR1 = rightLoCutStage1,
          loR2 = rightLoCutStage2;
    Gate g = gate;
    Ducker d = ducker;
    Settings s = settings;
    std::uint32_t seen = seenChanges;

    for (std::int32_t i = 0; i < frames; ++i) {
        // One acquire load per frame (a plain load on x86); the parameters are read again only
        // when a writer has bumped the counter since they were last read.
        if (stale) {
            if (changes) seen = changes->load(std::memory_order_acquire);
        } else {
            const std::uint32_t now = changes->load(std::memory_order_acquire);
            stale = now != seen;
            seen = now;
        }
        if (stale) {
            readSettings(params, samplesPerWholeNote);
            s = settings;
            settingsValid = true;
            stale = everyFrame;
        }

        const float inLeft = dsp::finiteOrZero(inL[i]);
        const float inRight = dsp::finiteOrZero(inR[i]);

        // 3, 4: feedback taps. A tap at the write position reads the sample one line old.
        std::int32_t readL = posL - s.delayL;
        if (readL < 0) readL += kLength;
        std::int32_t readR = posR - s.delayR;
        if (readR < 0) readR += kLength;
        fbSampleL = lineL[readL];
        fbSampleR = lineR[readR];

        // 5: wet taps, shifted by the offsets.
        std::int32_t wetPosL = readL - s.offsetL;
        if (wetPosL < 0)
            wetPosL += kLength;
        else if (wetPosL >= kLength)
            wetPosL -= kLength;
        std::int32_t wetPosR = readR - s.offsetR;
        if (wetPosR < 0)
            wetPosR += kLength;
        else if (wetPosR >= kLength)
            wetPosR -= kLength;
        float wetL = lineL[wetPosL];
        float wetR = lineR[wetPosR];

        // 6: resonant low-passes on what is fed back.
        if (s.filterL) fbSampleL = dsp::resonantLowPass(fbSampleL, s.resonanceL, filterL1, filterL2);
        if (s.filterR) fbSampleR = dsp::resonantLowPass(fbSampleR, s.resonanceR, filterR1, filterR2);

        // 7, 8: write input plus feedback.
        lineL[posL] = lineInput(inLeft, fbSampleL, s.feedbackLevelL, s.feedbackL, s.saturate);
        lineR[posR] = lineInput(inRight, fbSampleR, s.feedbackLevelR, s.feedbackR, s.saturate);

        // 9: hi cut, then lo cut, on the echoes.
        if (s.hiCut) {
            wetL = dsp::hiCut(wetL, s.hiCutCoefficient, hiL1, hiL2);
            wetR = dsp::hiCut(wetR, s.hiCutCoefficient, hiR1, hiR2);
        }
        if (s.loCut) {
            wetL = dsp::loCut(wetL, s.loCutCoefficient, loL1, loL2);
            wetR = dsp::loCut(wetR, s.loCutCoefficient, loR1, loR2);
        }

        // 10, 11: gate, then ducker.
        if (s.gate) g.step(s.gateTiming, s.gateThreshold, wetL, wetR);
        if (s.ducker) d.step(s.duckerRates, inLeft, inRight, wetL, wetR);

        // 12: mix in float.
        float mixL = 0.0f, mixR = 0.0f;
        if (s.wetL) mixL = wetL * s.wetLevelL;
        if (s.wetR) mixR = wetR * s.wetLevelR;
        if (s.dry) {
            mixL = mixL + inLeft * s.dryLevel;
            mixR = mixR + inRight * s.dryLevel;
        }

        // 13: saturated outputs.
        const float yL = dsp::saturateOutput(mixL);
        const float yR = dsp::saturateOutput(mixR);
        if constexpr (Accumulate) {
            outL[i] += yL;
            outR[i] += yR;
        } else {
            outL[i] = yL;
            outR[i] = yR;
        }

        // 14: advance.
        if (++posL >= kLength) posL = 0;
        if (++posR >= kLength) posR = 0;
    }

    leftWritePos = posL;
    rightWritePos = posR;
    leftFeedbackSample = fbSampleL;
    rightFeedbackSample = fbSampleR;
    leftFilterStage1 = filterL1;
    leftFilterStage2 = filterL2;
    rightFilterStage1 = filterR1;
    rightFilterStage2 = filterR2;
    leftHiCutStage1 = hiL1;
    leftHiCutStage2 = hiL2;
    rightHiCutStage1 = hiR1;
    rightHiCutStage2 = hiR2;
    leftLoCutStage1 = loL1;
    leftLoCutStage2 = loL2;
    rightLoCutStage1 = loR1;
    rightLoCutStage2 = loR2;
    gate = g;
    ducker = d;
    seenChanges = seen;
}

template void DelayEngine::run<false>(const std::atomic<float>*, double, const float*,
                                      const float*, float*, float*, std::int32_t,
                                      const std::atomic<std::uint32_t>*);
template void DelayEngine::run<true>(const std::atomic<float>*, double, const float*,
                                     const float*, float*, float*, std::int32_t,
                                     const std::atomic<std::uint32_t>*);

} // namespace ql
