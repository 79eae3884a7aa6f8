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

void DelayEngine::forgetCachedSamples() {
    leftDelay.key = rightDelay.key = leftOffset.key = rightOffset.key = dsp::kNoKey;
}

void DelayEngine::clearDelayLines() {
    for (std::int32_t i = 0; i < kLength; ++i) {
        leftDelayLine[i] = 0.0f;
        rightDelayLine[i] = 0.0f;
    }
}

template <bool Accumulate>
void DelayEngine::run(const std::atomic<float>* params, double samplesPerWholeNote,
                      const float* inL, const float* inR, float* outL, float* outR,
                      std::int32_t frames) {
    if (std::bit_cast<std::uint64_t>(samplesPerWholeNote) !=
        std::bit_cast<std::uint64_t>(cachedWholeNote)) {
        cachedWholeNote = samplesPerWholeNote;
        forgetCachedSamples();
    }
    const auto cached = [samplesPerWholeNote](CachedSamples& cache, float value, bool offset) {
        if (dsp::bitsOf(value) != cache.key) {
            cache.key = dsp::bitsOf(value);
            cache.samples = offset ? offsetSamples(value, samplesPerWholeNote)
                                   : delaySamples(value, samplesPerWholeNote);
        }
        return cache.samples;
    };

    // The state is worked on in locals and stored back after the block: the output buffers
    // could otherwise alias any float of this object, and every store to them would force the
    // state back into memory.
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
    dsp::ResonantCoefficients resL = leftResonance, resR = rightResonance;
    CachedSamples delayCacheL = leftDelay, delayCacheR = rightDelay;
    CachedSamples offsetCacheL = leftOffset, offsetCacheR = rightOffset;

    for (std::int32_t i = 0; i < frames; ++i) {
#if defined(__GNUC__)
        // Keeps the compiler from hoisting some forty parameter addresses out of the loop and
        // spilling them: each load stays one instruction with a constant displacement.
        __asm__("" : "+r"(params));
#endif
        const float inLeft = dsp::finiteOrZero(inL[i]);
        const float inRight = dsp::finiteOrZero(inR[i]);

        // 1, 2: delays and offsets in samples.
        const std::int32_t delayL = cached(delayCacheL, get(params, LeftDelayTime), false);
        const std::int32_t delayR = on(params, DelayTimeLink)
                                        ? delayL
                                        : cached(delayCacheR, get(params, RightDelayTime), false);
        std::int32_t offsetL = 0, offsetR = 0;
        if (on(params, InitialDelayOn)) {
            offsetL = cached(offsetCacheL, get(params, LeftInitialDelayTime), true);
            offsetR = cached(offsetCacheR, get(params, RightInitialDelayTime), true);
        }

        // 3, 4: feedback taps. A tap at the write position reads the sample one line old.
        std::int32_t readL = posL - delayL;
        if (readL < 0) readL += kLength;
        std::int32_t readR = posR - delayR;
        if (readR < 0) readR += kLength;
        fbSampleL = lineL[readL];
        fbSampleR = lineR[readR];

        // 5: wet taps, shifted by the offsets.
        std::int32_t wetPosL = readL - offsetL;
        if (wetPosL < 0)
            wetPosL += kLength;
        else if (wetPosL >= kLength)
            wetPosL -= kLength;
        std::int32_t wetPosR = readR - offsetR;
        if (wetPosR < 0)
            wetPosR += kLength;
        else if (wetPosR >= kLength)
            wetPosR -= kLength;
        float wetL = lineL[wetPosL];
        float wetR = lineR[wetPosR];

        // 6: resonant low-passes on what is fed back.
        if (on(params, LeftFilterOn)) {
            resL.refresh(get(params, LeftFilterFreq), get(params, LeftFilterReso));
            fbSampleL = dsp::resonantLowPass(fbSampleL, resL, filterL1, filterL2);
        }
        if (on(params, RightFilterOn)) {
            resR.refresh(get(params, RightFilterFreq), get(params, RightFilterReso));
            fbSampleR = dsp::resonantLowPass(fbSampleR, resR, filterR1, filterR2);
        }

        // 7, 8: write input plus feedback.
        const bool gateOn = on(params, GateOn);
        lineL[posL] = lineInput(inLeft, fbSampleL, get(params, LeftFeedbackLevel),
                                on(params, LeftFeedbackOn), gateOn);
        lineR[posR] = lineInput(inRight, fbSampleR, get(params, RightFeedbackLevel),
                                on(params, RightFeedbackOn), gateOn);

        // 9: hi cut, then lo cut, on the echoes.
        if (on(params, HiCutOn)) {
            const double c = dsp::clampCoefficient(get(params, HiCutFreq));
            wetL = dsp::hiCut(wetL, c, hiL1, hiL2);
            wetR = dsp::hiCut(wetR, c, hiR1, hiR2);
        }
        if (on(params, LoCutOn)) {
            const double c = dsp::clampCoefficient(get(params, LoCutFreq));
            wetL = dsp::loCut(wetL, c, loL1, loL2);
            wetR = dsp::loCut(wetR, c, loR1, loR2);
        }

        // 10, 11: gate, then ducker.
        if (gateOn) {
            const float threshold = get(params, GateThreshold);
            if (threshold > 0.0f) g.process(get(params, GateSpeed), threshold, wetL, wetR);
        }
        if (on(params, DuckerOn)) {
            const float range = get(params, DuckerRange);
            if (range > 0.0f)
                d.process(range, get(params, DuckerSpeed), inLeft, inRight, wetL, wetR);
        }

        // 12: mix in float.
        float mixL = 0.0f, mixR = 0.0f;
        if (on(params, LeftDelayOn)) mixL = wetL * get(params, LeftDelayLevel);
        if (on(params, RightDelayOn)) mixR = wetR * get(params, RightDelayLevel);
        if (on(params, DryOn)) {
            const float dry = get(params, DryLevel);
            mixL = mixL + inLeft * dry;
            mixR = mixR + inRight * dry;
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
    leftResonance = resL;
    rightResonance = resR;
    leftDelay = delayCacheL;
    rightDelay = delayCacheR;
    leftOffset = offsetCacheL;
    rightOffset = offsetCacheR;
}

template void DelayEngine::run<false>(const std::atomic<float>*, double, const float*,
                                      const float*, float*, float*, std::int32_t);
template void DelayEngine::run<true>(const std::atomic<float>*, double, const float*,
                                     const float*, float*, float*, std::int32_t);

} // namespace ql
