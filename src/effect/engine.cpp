#include "effect/engine.h"

#include <algorithm>
#include <limits>

namespace ql {

namespace {

constexpr std::int32_t kLength = DelayEngine::DelayLineLength;

// The stored value of a parameter: one relaxed 32-bit load.
inline float get(const std::atomic<float>* params, int index) {
    return params[index].load(std::memory_order_relaxed);
}

// A switch is on exactly at 1.0; comparing the bits is the same test without a float compare.
inline bool on(const std::atomic<float>* params, int index) {
    return dsp::bitsOf(get(params, index)) == 0x3F800000u;
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

    // 6: resonant low-passes. A side switched off computes with zero coefficients and keeps
    // its state and its feedback sample (the lanes are selected afterwards).
    s.filterL = on(params, LeftFilterOn);
    if (s.filterL) s.resonanceL.refresh(get(params, LeftFilterFreq), get(params, LeftFilterReso));
    s.filterR = on(params, RightFilterOn);
    if (s.filterR)
        s.resonanceR.refresh(get(params, RightFilterFreq), get(params, RightFilterReso));
    s.filterF = dsp::pair(s.filterL ? s.resonanceL.f : 0.0, s.filterR ? s.resonanceR.f : 0.0);
    s.filterK = dsp::pair(s.filterL ? s.resonanceL.k : 0.0, s.filterR ? s.resonanceR.k : 0.0);
    s.filterOn = dsp::doubleMask2(s.filterL, s.filterR);
    const auto inUnit = [](double f) { return f >= 0.0 && f <= 1.0; };
    s.filterFInUnit = inUnit(dsp::left(s.filterF)) && inUnit(dsp::right(s.filterF));
    s.filterOnFloat = dsp::mask2(s.filterL, s.filterR);

    // 7, 8: line input.
    s.saturate = on(params, GateOn);
    s.feedbackOn = dsp::mask2(on(params, LeftFeedbackOn), on(params, RightFeedbackOn));
    s.feedbackLevel = dsp::pair(get(params, LeftFeedbackLevel), get(params, RightFeedbackLevel));

    // 9: cuts, one coefficient for both sides.
    s.hiCut = on(params, HiCutOn);
    if (s.hiCut) s.hiCutCoefficient = dsp::splat(double{dsp::clampCoefficient(get(params, HiCutFreq))});
    s.loCut = on(params, LoCutOn);
    if (s.loCut) s.loCutCoefficient = dsp::splat(double{dsp::clampCoefficient(get(params, LoCutFreq))});

    // 10, 11: gate and ducker, each only while its switch is on and its amount above 0.
    s.gateThreshold = get(params, GateThreshold);
    s.gate = s.saturate && s.gateThreshold > 0.0f;
    if (s.gate) s.gateTiming.refresh(get(params, GateSpeed));
    const float range = get(params, DuckerRange);
    s.ducker = on(params, DuckerOn) && range > 0.0f;
    if (s.ducker) s.duckerRates.refresh(range, get(params, DuckerSpeed));

    // 12: mix.
    s.wetOn = dsp::mask2(on(params, LeftDelayOn), on(params, RightDelayOn));
    s.wetLevel = dsp::pair(get(params, LeftDelayLevel), get(params, RightDelayLevel));
    s.dry = on(params, DryOn);
    s.dryLevel = dsp::splat(get(params, DryLevel));

    // What may enter a line without a closer look: inside the saturation's linear part while it
    // is on, any finite float otherwise.
    s.lineBound = s.saturate ? 0.79f : std::numeric_limits<float>::max();

    // Constants of the loop, kept here so that they are memory operands rather than values
    // rebuilt in a register each frame.
    s.antiDenormal = dsp::antiDenormal2();
    s.flushBelow = dsp::splat(dsp::floatAtOrAbove(dsp::kAntiDenormal)); // |fb| < 1e-25 exactly
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
    // state back into memory. The settings are a local copy for the same reason. Filter states
    // are held as doubles (each the exact value of its float), left and right side by side.
    using namespace dsp;
    float* const lineL = leftDelayLine;
    float* const lineR = rightDelayLine;
    std::int32_t posL = leftWritePos, posR = rightWritePos;
    Floats2 fbSample = pair(leftFeedbackSample, rightFeedbackSample);
    Doubles2 filter1 = pair(double{leftFilterStage1}, double{rightFilterStage1});
    Doubles2 filter2 = pair(double{leftFilterStage2}, double{rightFilterStage2});
    Doubles2 hi1 = pair(double{leftHiCutStage1}, double{rightHiCutStage1});
    Doubles2 hi2 = pair(double{leftHiCutStage2}, double{rightHiCutStage2});
    Doubles2 lo1 = pair(double{leftLoCutStage1}, double{rightLoCutStage1});
    Doubles2 lo2 = pair(double{leftLoCutStage2}, double{rightLoCutStage2});
    Gate g = gate;
    Ducker d = ducker;
    Settings s = settings;
    std::uint32_t seen = seenChanges;

    // Before every frame the change counter is read (one acquire load, a plain load on x86);
    // the parameters are read again only when a writer has bumped it since they were last read.
    // The frames run in stretches over which no position of the lines wraps, so that the six
    // positions (write, feedback tap, wet tap, left and right) are fixed bases plus the frame's
    // index within the stretch: no wrapping arithmetic per frame.
    if (!stale) {
        const std::uint32_t now = changes->load(std::memory_order_acquire);
        stale = now != seen;
        seen = now;
    } else if (changes) {
        seen = changes->load(std::memory_order_acquire);
    }
    for (std::int32_t i = 0; i < frames;) {
        if (stale) {
            readSettings(params, samplesPerWholeNote);
            s = settings;
            settingsValid = true;
            stale = false;
        }

        // 3: feedback tap positions. A tap at the write position reads the sample one line old.
        std::int32_t readL = posL - s.delayL;
        if (readL < 0) readL += kLength;
        std::int32_t readR = posR - s.delayR;
        if (readR < 0) readR += kLength;
        // 5: wet tap positions, shifted by the offsets.
        const auto wrap = [](std::int32_t p) {
            return p < 0 ? p + kLength : p >= kLength ? p - kLength : p;
        };
        const std::int32_t wetPosL = wrap(readL - s.offsetL);
        const std::int32_t wetPosR = wrap(readR - s.offsetR);
        // Without a change counter the stretch is one frame: the parameters are read before each.
        std::int32_t stretch = everyFrame ? 1 : frames - i;
        for (const std::int32_t p : {posL, posR, readL, readR, wetPosL, wetPosR})
            stretch = std::min(stretch, kLength - p);
        float* const writeL = lineL + posL;
        float* const writeR = lineR + posR;
        const float* const tapL = lineL + readL;
        const float* const tapR = lineR + readR;
        const float* const wetTapL = lineL + wetPosL;
        const float* const wetTapR = lineR + wetPosR;
        const float* const frameInL = inL + i;
        const float* const frameInR = inR + i;
        float* const frameOutL = outL + i;
        float* const frameOutR = outR + i;

        std::int32_t j = 0;
        for (;;) {
            // Both inputs are read before any output is written (in-place processing).
            const Floats2 raw = load2(frameInL + j, frameInR + j);
            const Floats2 in = keep(raw, finite2(raw));

            // 4, 5: the taps, read before this frame writes.
            const Floats2 tap = load2(tapL + j, tapR + j);
            Floats2 wet = load2(wetTapL + j, wetTapR + j);

            // 6: resonant low-passes on what is fed back. With one side off, its lane keeps
            // its state and its tap (the selects sit on the filter's chain, so only then).
            fbSample = tap;
            if (s.filterL && s.filterR) {
                fbSample = s.filterFInUnit
                               ? resonantLowPass2<false>(tap, s.filterF, s.filterK, filter1,
                                                         filter2, s.antiDenormal)
                               : resonantLowPass2(tap, s.filterF, s.filterK, filter1, filter2,
                                                  s.antiDenormal);
            } else if (s.filterL || s.filterR) {
                Doubles2 n1 = filter1, n2 = filter2;
                const Floats2 y =
                    resonantLowPass2(tap, s.filterF, s.filterK, n1, n2, s.antiDenormal);
                filter1 = select(s.filterOn, n1, filter1);
                filter2 = select(s.filterOn, n2, filter2);
                fbSample = select(s.filterOnFloat, y, tap);
            }

            // 7, 8: write input plus feedback: the feedback flushed to 0 below the denormal
            // threshold or when switched off, saturated at the knee 0.8 while the gate switch
            // is on. A value that would not be a finite float is written as 0: one bad sum
            // must not stay in the line and in the loop for good.
            {
                Floats2 fb = fbSample * s.feedbackLevel;
                fb = keep(fb, absAtLeast(fb, s.flushBelow) & s.feedbackOn);
                // The double sum rounded to float equals the float sum (the double holds it
                // with room to spare); the double is needed only where the saturation bends.
                Floats2 stored = in + fb;
                // One test covers both the bend and finiteness: inside the bound (0.79 while
                // saturating, the largest float otherwise) the sum is stored as it is.
                if (!both(absAtMost(stored, s.lineBound))) {
                    const auto fix = [&s](float x, float inSample, float fbValue) {
                        if (s.saturate && !(std::fabs(x) <= 0.79f))
                            x = static_cast<float>(softSaturate(
                                static_cast<double>(inSample) + fbValue, kLineKnee));
                        return std::isfinite(x) ? x : 0.0f;
                    };
                    stored = pair(fix(left(stored), left(in), left(fb)),
                                  fix(right(stored), right(in), right(fb)));
                }
                store2(stored, writeL + j, writeR + j);
            }

            // 9: hi cut, then lo cut, on the echoes.
            if (s.hiCut) wet = twoPoleLowPass2(wet, s.hiCutCoefficient, hi1, hi2, s.antiDenormal);
            if (s.loCut)
                wet = wet - twoPoleLowPass2(wet, s.loCutCoefficient, lo1, lo2, s.antiDenormal);

            // 10, 11: gate, then ducker; each ends in a gain in double applied to both echoes.
            if (s.gate) {
                wet = g.advance(s.gateTiming, s.gateThreshold, maxAbs(wet))
                          ? narrow(widen(wet) * splat(g.gateGain))
                          : pair(0.0f, 0.0f);
            }
            if (s.ducker)
                wet = narrow(widen(wet) * splat(d.advanceLevel(s.duckerRates, maxAbs(in))));

            // 12: mix in float; a side switched off contributes +0.
            Floats2 mix = keep(wet * s.wetLevel, s.wetOn);
            if (s.dry) mix = mix + in * s.dryLevel;

            // 13: saturated outputs.
            const Floats2 y = saturateOutput2(mix);
            if constexpr (Accumulate) {
                frameOutL[j] += left(y);
                frameOutR[j] += right(y);
            } else {
                store2(y, frameOutL + j, frameOutR + j);
            }

            // 14: the next frame, after a look at the change counter.
            if (++j == stretch) break;
            const std::uint32_t now = changes->load(std::memory_order_acquire);
            if (now != seen) {
                seen = now;
                stale = true;
                break;
            }
        }
        // 14: the positions advance by the frames run; a position that passes 921599 wraps.
        i += j;
        posL += j;
        if (posL >= kLength) posL -= kLength;
        posR += j;
        if (posR >= kLength) posR -= kLength;
        if (everyFrame) stale = true;
    }

    leftWritePos = posL;
    rightWritePos = posR;
    leftFeedbackSample = left(fbSample);
    rightFeedbackSample = right(fbSample);
    leftFilterStage1 = static_cast<float>(left(filter1));
    leftFilterStage2 = static_cast<float>(left(filter2));
    rightFilterStage1 = static_cast<float>(right(filter1));
    rightFilterStage2 = static_cast<float>(right(filter2));
    leftHiCutStage1 = static_cast<float>(left(hi1));
    leftHiCutStage2 = static_cast<float>(left(hi2));
    rightHiCutStage1 = static_cast<float>(right(hi1));
    rightHiCutStage2 = static_cast<float>(right(hi2));
    leftLoCutStage1 = static_cast<float>(left(lo1));
    leftLoCutStage2 = static_cast<float>(left(lo2));
    rightLoCutStage1 = static_cast<float>(right(lo1));
    rightLoCutStage2 = static_cast<float>(right(lo2));
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
