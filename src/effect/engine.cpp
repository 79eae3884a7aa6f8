#include "effect/engine.h"

namespace ql {

namespace {

constexpr std::int32_t kLength = DelayEngine::DelayLineLength;

// The stored value of a parameter: one relaxed 32-bit load, taken afresh at every frame.
inline float get(const std::atomic<float>* params, int index) {
    return params[index].load(std::memory_order_relaxed);
}

// The value a frame writes into a line: the input plus the scaled feedback (flushed to 0 below
// the denormal threshold or when switched off), saturated at the knee 0.8 while the gate switch
// is on. A value that would not be a finite float is written as 0: one bad sum must not stay
// in the line and in the loop for good.
inline float lineInput(float in, float feedbackSample, float level, bool feedbackOn,
                       bool saturate) {
    float fb = feedbackSample * level;
    if (!feedbackOn || !(std::fabs(static_cast<double>(fb)) >= dsp::kAntiDenormal)) fb = 0.0f;
    double x = static_cast<double>(in) + fb;
    if (saturate) x = dsp::softSaturate(x, dsp::kLineKnee);
    const float stored = static_cast<float>(x);
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

    for (std::int32_t i = 0; i < frames; ++i) {
        const float inLeft = dsp::finiteOrZero(inL[i]);
        const float inRight = dsp::finiteOrZero(inR[i]);

        // 1, 2: delays and offsets in samples.
        const std::int32_t delayL = cached(leftDelay, get(params, LeftDelayTime), false);
        const std::int32_t delayR = isOn(get(params, DelayTimeLink))
                                        ? delayL
                                        : cached(rightDelay, get(params, RightDelayTime), false);
        std::int32_t offsetL = 0, offsetR = 0;
        if (isOn(get(params, InitialDelayOn))) {
            offsetL = cached(leftOffset, get(params, LeftInitialDelayTime), true);
            offsetR = cached(rightOffset, get(params, RightInitialDelayTime), true);
        }

        // 3, 4: feedback taps. A tap at the write position reads the sample one line old.
        std::int32_t readL = leftWritePos - delayL;
        if (readL < 0) readL += kLength;
        std::int32_t readR = rightWritePos - delayR;
        if (readR < 0) readR += kLength;
        leftFeedbackSample = leftDelayLine[readL];
        rightFeedbackSample = rightDelayLine[readR];

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
        float wetL = leftDelayLine[wetPosL];
        float wetR = rightDelayLine[wetPosR];

        // 6: resonant low-passes on what is fed back.
        if (isOn(get(params, LeftFilterOn))) {
            leftResonance.refresh(get(params, LeftFilterFreq), get(params, LeftFilterReso));
            leftFeedbackSample = dsp::resonantLowPass(leftFeedbackSample, leftResonance,
                                                      leftFilterStage1, leftFilterStage2);
        }
        if (isOn(get(params, RightFilterOn))) {
            rightResonance.refresh(get(params, RightFilterFreq), get(params, RightFilterReso));
            rightFeedbackSample = dsp::resonantLowPass(rightFeedbackSample, rightResonance,
                                                       rightFilterStage1, rightFilterStage2);
        }

        // 7, 8: write input plus feedback.
        const bool gateOn = isOn(get(params, GateOn));
        leftDelayLine[leftWritePos] =
            lineInput(inLeft, leftFeedbackSample, get(params, LeftFeedbackLevel),
                      isOn(get(params, LeftFeedbackOn)), gateOn);
        rightDelayLine[rightWritePos] =
            lineInput(inRight, rightFeedbackSample, get(params, RightFeedbackLevel),
                      isOn(get(params, RightFeedbackOn)), gateOn);

        // 9: hi cut, then lo cut, on the echoes.
        if (isOn(get(params, HiCutOn))) {
            const double c = dsp::clampCoefficient(get(params, HiCutFreq));
            wetL = dsp::hiCut(wetL, c, leftHiCutStage1, leftHiCutStage2);
            wetR = dsp::hiCut(wetR, c, rightHiCutStage1, rightHiCutStage2);
        }
        if (isOn(get(params, LoCutOn))) {
            const double c = dsp::clampCoefficient(get(params, LoCutFreq));
            wetL = dsp::loCut(wetL, c, leftLoCutStage1, leftLoCutStage2);
            wetR = dsp::loCut(wetR, c, rightLoCutStage1, rightLoCutStage2);
        }

        // 10, 11: gate, then ducker.
        if (gateOn) {
            const float threshold = get(params, GateThreshold);
            if (threshold > 0.0f) gate.process(get(params, GateSpeed), threshold, wetL, wetR);
        }
        if (isOn(get(params, DuckerOn))) {
            const float range = get(params, DuckerRange);
            if (range > 0.0f)
                ducker.process(range, get(params, DuckerSpeed), inLeft, inRight, wetL, wetR);
        }

        // 12: mix in float.
        float mixL = 0.0f, mixR = 0.0f;
        if (isOn(get(params, LeftDelayOn))) mixL = wetL * get(params, LeftDelayLevel);
        if (isOn(get(params, RightDelayOn))) mixR = wetR * get(params, RightDelayLevel);
        if (isOn(get(params, DryOn))) {
            const float dry = get(params, DryLevel);
            mixL = mixL + inLeft * dry;
            mixR = mixR + inRight * dry;
        }

        // 13: saturated outputs.
        const float yL = static_cast<float>(dsp::softSaturate(mixL, dsp::kOutputKnee));
        const float yR = static_cast<float>(dsp::softSaturate(mixR, dsp::kOutputKnee));
        if constexpr (Accumulate) {
            outL[i] += yL;
            outR[i] += yR;
        } else {
            outL[i] = yL;
            outR[i] = yR;
        }

        // 14: advance.
        if (++leftWritePos >= kLength) leftWritePos = 0;
        if (++rightWritePos >= kLength) rightWritePos = 0;
    }
}

template void DelayEngine::run<false>(const std::atomic<float>*, double, const float*,
                                      const float*, float*, float*, std::int32_t);
template void DelayEngine::run<true>(const std::atomic<float>*, double, const float*,
                                     const float*, float*, float*, std::int32_t);

} // namespace ql
