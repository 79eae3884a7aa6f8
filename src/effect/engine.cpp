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

void EngineSettings::forgetSamples() {
    delayCacheL.key = delayCacheR.key = offsetCacheL.key = offsetCacheR.key = dsp::kNoKey;
}

// Kept out of line: it runs only when a parameter moved, and the frame loop stays small.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void EngineSettings::read(const std::atomic<float>* params, double samplesPerWholeNote) {
    using namespace dsp;
    const auto cached = [samplesPerWholeNote](CachedSamples& cache, float value, bool offset) {
        if (bitsOf(value) != cache.key) {
            cache.key = bitsOf(value);
            cache.samples = offset ? DelayEngine::offsetSamples(value, samplesPerWholeNote)
                                   : DelayEngine::delaySamples(value, samplesPerWholeNote);
        }
        return cache.samples;
    };

    // Delays and offsets in samples.
    delayL = cached(delayCacheL, get(params, LeftDelayTime), false);
    delayR = on(params, DelayTimeLink) ? delayL
                                       : cached(delayCacheR, get(params, RightDelayTime), false);
    offsetL = offsetR = 0;
    if (on(params, InitialDelayOn)) {
        offsetL = cached(offsetCacheL, get(params, LeftInitialDelayTime), true);
        offsetR = cached(offsetCacheR, get(params, RightInitialDelayTime), true);
    }

    // Resonant low-passes. A side switched off computes with zero coefficients and keeps its
    // state and its feedback sample (the lanes are selected afterwards).
    filterL = on(params, LeftFilterOn);
    if (filterL) resonanceL.refresh(get(params, LeftFilterFreq), get(params, LeftFilterReso));
    filterR = on(params, RightFilterOn);
    if (filterR) resonanceR.refresh(get(params, RightFilterFreq), get(params, RightFilterReso));
    filterF = pair(filterL ? resonanceL.f : 0.0, filterR ? resonanceR.f : 0.0);
    filterK = pair(filterL ? resonanceL.k : 0.0, filterR ? resonanceR.k : 0.0);
    filterOn = mask2(filterL, filterR);
    filterStatesOn = doubleMask2(filterL, filterR);
    const auto inUnit = [](double f) { return f >= 0.0 && f <= 1.0; };
    filterFInUnit = inUnit(left(filterF)) && inUnit(right(filterF));

    // Line input.
    saturate = on(params, GateOn);
    feedbackOn = mask2(on(params, LeftFeedbackOn), on(params, RightFeedbackOn));
    feedbackLevel = pair(get(params, LeftFeedbackLevel), get(params, RightFeedbackLevel));

    // Cuts, one coefficient for both sides.
    hiCut = on(params, HiCutOn);
    if (hiCut) hiCutCoefficient = splat(double{clampCoefficient(get(params, HiCutFreq))});
    loCut = on(params, LoCutOn);
    if (loCut) loCutCoefficient = splat(double{clampCoefficient(get(params, LoCutFreq))});

    // Gate and ducker, each only while its switch is on and its amount above 0.
    gateThreshold = get(params, GateThreshold);
    gate = saturate && gateThreshold > 0.0f;
    if (gate) gateTiming.refresh(get(params, GateSpeed));
    const float range = get(params, DuckerRange);
    ducker = on(params, DuckerOn) && range > 0.0f;
    if (ducker) duckerRates.refresh(range, get(params, DuckerSpeed));

    // Mix.
    wetOn = mask2(on(params, LeftDelayOn), on(params, RightDelayOn));
    wetLevel = pair(get(params, LeftDelayLevel), get(params, RightDelayLevel));
    dry = on(params, DryOn);
    dryLevel = splat(get(params, DryLevel));

    // What may enter a line without a closer look: inside the saturation's linear part while it
    // is on, any finite float otherwise.
    lineBound = saturate ? 0.79f : std::numeric_limits<float>::max();

    // Constants of the loop, kept here so that they are memory operands rather than values
    // rebuilt in a register each frame.
    antiDenormal = antiDenormal2();
    flushBelow = splat(floatAtOrAbove(kAntiDenormal)); // |fb| < 1e-25 exactly
}

namespace {

using namespace dsp;

// Where a stretch of frames starts: each side's write slot, feedback tap and wet tap.
struct LinePositions {
    std::int32_t writeL, writeR, feedbackL, feedbackR, wetL, wetR;
};

QL_FRAME_INLINE LinePositions positionsAt(const EngineState& st, const EngineSettings& s) {
    // A tap at the write position reads the sample one line old.
    std::int32_t feedbackL = st.leftWritePos - s.delayL;
    if (feedbackL < 0) feedbackL += kLength;
    std::int32_t feedbackR = st.rightWritePos - s.delayR;
    if (feedbackR < 0) feedbackR += kLength;
    // The wet taps: the feedback taps shifted by the offsets.
    const auto wrap = [](std::int32_t p) {
        return p < 0 ? p + kLength : p >= kLength ? p - kLength : p;
    };
    return {st.leftWritePos,
            st.rightWritePos,
            feedbackL,
            feedbackR,
            wrap(feedbackL - s.offsetL),
            wrap(feedbackR - s.offsetR)};
}

// The frames, at most `limit`, that run from these positions before any of them passes the end
// of its line.
QL_FRAME_INLINE std::int32_t framesBeforeAWrap(const LinePositions& p, std::int32_t limit) {
    for (const std::int32_t q : {p.writeL, p.writeR, p.feedbackL, p.feedbackR, p.wetL, p.wetR})
        limit = std::min(limit, kLength - q);
    return limit;
}

// A stretch of frames over which no position wraps: the six line positions and the four
// channels are fixed bases plus the frame's index within the stretch.
struct Stretch {
    float* writeL;
    float* writeR;
    const float* feedbackL;
    const float* feedbackR;
    const float* wetL;
    const float* wetR;
    const float* inL;
    const float* inR;
    float* outL;
    float* outR;
};

// The stages of one frame, in their order.

// An input sample that is not finite counts as silence.
QL_FRAME_INLINE Floats2 finiteInput(Floats2 raw) {
    return keep(raw, finite2(raw));
}

// The resonant low-passes on what is fed back. With one side off, its lane keeps its state and
// its tap (the selects sit on the filter's chain, so only then).
QL_FRAME_INLINE Floats2 feedbackFilter(const EngineSettings& s, Floats2 tap, FilterStates& st) {
    Floats2 y = tap;
    if (s.filterL && s.filterR) {
        y = s.filterFInUnit ? resonantLowPass<false>(tap, s.filterF, s.filterK, st, s.antiDenormal)
                            : resonantLowPass(tap, s.filterF, s.filterK, st, s.antiDenormal);
    } else if (s.filterL || s.filterR) {
        FilterStates next = st;
        y = resonantLowPass(tap, s.filterF, s.filterK, next, s.antiDenormal);
        st.stage1 = select(s.filterStatesOn, next.stage1, st.stage1);
        st.stage2 = select(s.filterStatesOn, next.stage2, st.stage2);
        y = select(s.filterOn, y, tap);
    }
    return y;
}

// What a frame writes into the lines: input plus feedback, the feedback flushed to 0 below the
// denormal threshold or when switched off, saturated at the knee 0.8 while the gate switch is on.
// A value that would not be a finite float is written as 0: one bad sum must not stay in the
// line and in the loop for good.
QL_FRAME_INLINE Floats2 lineInput(const EngineSettings& s, Floats2 in, Floats2 feedbackSample) {
    Floats2 fb = feedbackSample * s.feedbackLevel;
    fb = keep(fb, absAtLeast(fb, s.flushBelow) & s.feedbackOn);
    // The double sum rounded to float equals the float sum (the double holds it with room to
    // spare); the double is needed only where the saturation bends.
    Floats2 stored = in + fb;
    // One test covers both the bend and finiteness: inside the bound (0.79 while saturating, the
    // largest float otherwise) the sum is stored as it is.
    if (!both(absAtMost(stored, s.lineBound))) {
        const auto fix = [&s](float x, float inSample, float fbValue) {
            if (s.saturate && !(std::fabs(x) <= 0.79f))
                x = static_cast<float>(
                    softSaturate(static_cast<double>(inSample) + fbValue, kLineKnee));
            return std::isfinite(x) ? x : 0.0f;
        };
        stored =
            pair(fix(left(stored), left(in), left(fb)), fix(right(stored), right(in), right(fb)));
    }
    return stored;
}

// The echoes on their way out: hi cut, lo cut, gate, then ducker. A stage switched on runs at
// every frame, so each is laid out in line; one switched off costs a predicted jump past it.
QL_FRAME_INLINE Floats2 echoStages(const EngineSettings& s, Floats2 wet, Floats2 in,
                                   EngineState& st) {
    if (s.hiCut) [[likely]]
        wet = hiCut(wet, s.hiCutCoefficient, st.hiCut, s.antiDenormal);
    if (s.loCut) [[likely]]
        wet = loCut(wet, s.loCutCoefficient, st.loCut, s.antiDenormal);
    if (s.gate) [[likely]]
        wet = st.gate.apply(s.gateTiming, s.gateThreshold, wet);
    if (s.ducker) [[likely]]
        wet = st.ducker.apply(s.duckerRates, in, wet);
    return wet;
}

// The mix in float (a side switched off contributes +0), then the output saturation.
QL_FRAME_INLINE Floats2 output(const EngineSettings& s, Floats2 wet, Floats2 in) {
    Floats2 mix = keep(wet * s.wetLevel, s.wetOn);
    if (s.dry) mix = mix + in * s.dryLevel;
    return saturateOutput2(mix);
}

// Frame j of a stretch. Both inputs and both taps are read before anything is written, so the
// buffers may be processed in place and a tap at the write slot reads what was there.
template <bool Accumulate>
QL_FRAME_INLINE void frame(const EngineSettings& s, EngineState& st, const Stretch& at,
                           std::int32_t j) {
    const Floats2 in = finiteInput(load2(at.inL + j, at.inR + j));
    const Floats2 tap = load2(at.feedbackL + j, at.feedbackR + j);
    const Floats2 wet = load2(at.wetL + j, at.wetR + j);
    st.feedbackSample = feedbackFilter(s, tap, st.filter);
    store2(lineInput(s, in, st.feedbackSample), at.writeL + j, at.writeR + j);
    const Floats2 y = output(s, echoStages(s, wet, in, st), in);
    if constexpr (Accumulate) {
        at.outL[j] += left(y);
        at.outR[j] += right(y);
    } else {
        store2(y, at.outL + j, at.outR + j);
    }
}

} // namespace

template <bool Accumulate>
void DelayEngine::run(const std::atomic<float>* params, double samplesPerWholeNote,
                      const float* inL, const float* inR, float* outL, float* outR,
                      std::int32_t frames, const std::atomic<std::uint32_t>* changes) {
    if (std::bit_cast<std::uint64_t>(samplesPerWholeNote) !=
        std::bit_cast<std::uint64_t>(cachedWholeNote)) {
        cachedWholeNote = samplesPerWholeNote;
        settings.forgetSamples();
        settingsValid = false;
    }
    // Before every frame the change counter is read (one acquire load, a plain load on x86); the
    // parameters are read again only when a writer has bumped it since they were last read.
    // Without a counter they are read before every frame.
    const bool everyFrame = changes == nullptr;
    bool stale = everyFrame || !settingsValid;
    std::uint32_t seen = seenChanges;
    if (changes) {
        const std::uint32_t now = changes->load(std::memory_order_acquire);
        stale = stale || now != seen;
        seen = now;
    }

    // The state is worked on as a local and stored back after the block: the output buffers
    // could otherwise alias any float of this object, and every store to them would force the
    // state back into memory. The settings are a local copy for the same reason.
    EngineState st = state;
    EngineSettings s = settings;
    for (std::int32_t i = 0; i < frames;) {
        if (stale) {
            settings.read(params, samplesPerWholeNote);
            s = settings;
            settingsValid = true;
            stale = false;
        }
        const LinePositions p = positionsAt(st, s);
        // Without a change counter the stretch is one frame: the parameters are read before each.
        const std::int32_t n = framesBeforeAWrap(p, everyFrame ? 1 : frames - i);
        const Stretch at{leftDelayLine + p.writeL,
                         rightDelayLine + p.writeR,
                         leftDelayLine + p.feedbackL,
                         rightDelayLine + p.feedbackR,
                         leftDelayLine + p.wetL,
                         rightDelayLine + p.wetR,
                         inL + i,
                         inR + i,
                         outL + i,
                         outR + i};
        std::int32_t j = 0;
        for (;;) {
            frame<Accumulate>(s, st, at, j);
            if (++j == n) break;
            const std::uint32_t now = changes->load(std::memory_order_acquire);
            if (now != seen) {
                seen = now;
                stale = true;
                break;
            }
        }
        // The positions advance by the frames run; a position that reaches the end wraps to 0.
        i += j;
        st.leftWritePos = p.writeL + j;
        if (st.leftWritePos >= kLength) st.leftWritePos -= kLength;
        st.rightWritePos = p.writeR + j;
        if (st.rightWritePos >= kLength) st.rightWritePos -= kLength;
        if (everyFrame) stale = true;
    }
    state = st;
    seenChanges = seen;
}

template void DelayEngine::run<false>(const std::atomic<float>*, double, const float*, const float*,
                                      float*, float*, std::int32_t,
                                      const std::atomic<std::uint32_t>*);
template void DelayEngine::run<true>(const std::atomic<float>*, double, const float*, const float*,
                                     float*, float*, std::int32_t,
                                     const std::atomic<std::uint32_t>*);

} // namespace ql
