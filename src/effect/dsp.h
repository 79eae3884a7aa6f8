// Numeric primitives of the audio path: exact rounding, the soft saturation curve and the
// filter stages of the feedback loops and the echo path. Everything here is inline: it runs
// once or twice per sample frame.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

// Left and right run as the two low lanes of an SSE2 register: SSE2 is part of every x86-64
// target, and the 32-bit x86 build asks for it (-msse2).
#if !(defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#error "the audio path needs SSE2 (x86-64, or 32-bit x86 with -msse2)"
#endif
#include <emmintrin.h>

// For the pieces of the frame loop: written as functions for reading, each must melt into the
// loop, since a call would force the loop's state out of registers into memory.
#if defined(__GNUC__)
#define QL_FRAME_INLINE [[gnu::always_inline]] inline
#else
#define QL_FRAME_INLINE inline
#endif

namespace ql::dsp {

// Both delay lines hold 4800 ms at 192 kHz, whatever the sample rate.
constexpr std::int32_t kDelayLineLength = 921600;

// Added to the first state of every filter stage each sample, so that a dying signal never
// leaves the states in the slow denormal range; feedback below it is flushed to zero.
constexpr double kAntiDenormal = 1e-25;

// Knees of the saturation: what enters the lines (while the gate switch is on) and the outputs.
constexpr double kLineKnee = 0.8;
constexpr double kOutputKnee = 0.95;

inline std::uint32_t bitsOf(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

// A bit pattern no parameter ever holds (a NaN: stored values are clamped into 0..1), used to
// mark a cached derived value as stale.
constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;

// Nearest integer with halves to the even neighbour, as a double. Adding 1.5 * 2^52 leaves a sum
// whose last bit is worth 1, so the hardware's own round-to-nearest-even does the work: one add
// and one subtract instead of a library call. Exact for |x| <= 2^51 in the default rounding mode;
// callers clamp before they convert anything larger.
inline double roundHalfEven(double x) {
    constexpr double kShift = 6755399441055744.0;
    return (x + kShift) - kShift;
}

// roundHalfEven as an integer; the caller guarantees the result fits into 32 bits.
inline std::int32_t roundToInt(double x) {
    return static_cast<std::int32_t>(roundHalfEven(x));
}

// The knee part of softSaturate, kept out of the linear fast path.
inline double softSaturateKnee(double x, double knee) {
    const double range = 1.0 - knee;
    if (x > knee) {
        if (x == std::numeric_limits<double>::infinity()) return knee; // the curve's limit
        const double u = x - knee;
        const double r = u / range;
        double y = knee + u / (1.0 + r * r);
        if (y > 1.0) y = 1.0;
        return y;
    }
    if (x < -knee) {
        if (x == -std::numeric_limits<double>::infinity()) return -knee;
        const double u = -x - knee;
        const double r = u / range;
        double y = -(knee + u / (1.0 + r * r));
        if (y < -1.0) y = -1.0;
        return y;
    }
    // Only a NaN gets here (an overflowing echo multiplied by a zero gain): silence.
    return 0.0;
}

// Soft clipping: linear up to the knee, then bending back toward the knee; odd-symmetric.
inline double softSaturate(double x, double knee) {
    if (x <= knee && x >= -knee) return x;
    return softSaturateKnee(x, knee);
}

// The largest float not above d, and the smallest float not below it: a float compared with
// a double constant gives the same answer as a comparison with these, without widening.
constexpr float floatAtOrBelow(double d) {
    const float f = static_cast<float>(d);
    return static_cast<double>(f) > d ? std::bit_cast<float>(std::bit_cast<std::uint32_t>(f) - 1)
                                      : f;
}
constexpr float floatAtOrAbove(double d) {
    const float f = static_cast<float>(d);
    return static_cast<double>(f) < d ? std::bit_cast<float>(std::bit_cast<std::uint32_t>(f) + 1)
                                      : f;
}

// softSaturate(x, 0.95) of a float, stored as a float. Inside the knee the result is x itself,
// decided without leaving float.
inline float saturateOutput(float x) {
    constexpr float kKnee = floatAtOrBelow(kOutputKnee);
    if (std::fabs(x) <= kKnee) return x;
    return static_cast<float>(softSaturateKnee(x, kOutputKnee));
}

// A frequency or cut coefficient is used as it is up to 0.99, a resonance up to 0.98.
inline float clampCoefficient(float value) {
    return value > 0.99f ? 0.99f : value;
}
inline float clampResonance(float value) {
    return value > 0.98f ? 0.98f : value;
}

// The derived coefficients of one resonant low-pass, recomputed only when the bits of its
// frequency or resonance change (the division is the costly part).
struct ResonantCoefficients {
    std::uint64_t key = ~std::uint64_t{0};
    double f = 0.0;
    double k = 0.0;

    void refresh(float freq, float reso) {
        const std::uint64_t now = (std::uint64_t{bitsOf(freq)} << 32) | bitsOf(reso);
        if (now == key) return;
        key = now;
        const double fc = clampCoefficient(freq);
        const double q = clampResonance(reso);
        f = fc;
        // Evaluated in double and rounded once to float, as the filter keeps it.
        k = static_cast<float>(q + q / (1.0 - fc));
    }
};

// ---------------------------------------------------------------------------------------------
// Left and right as a pair. The two sides run the same arithmetic on independent data, so the
// engine works on both at once, as the two low lanes of an SSE2 register: packed IEEE operations
// round each lane exactly as the scalar ones do, so the bits equal two scalar evaluations.
// Lane 0 is left, lane 1 right.

struct Floats2 {
    __m128 v; // lanes 2 and 3 carry nothing of meaning
};
struct Doubles2 {
    __m128d v;
};
// A per-lane condition: all bits set where true.
struct Mask2 {
    __m128 v;
};
struct DoubleMask2 {
    __m128d v;
};

inline Floats2 pair(float left, float right) {
    return {_mm_unpacklo_ps(_mm_set_ss(left), _mm_set_ss(right))};
}
inline Floats2 load2(const float* left, const float* right) {
    return {_mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right))};
}
inline float left(Floats2 x) {
    return _mm_cvtss_f32(x.v);
}
inline float right(Floats2 x) {
    return _mm_cvtss_f32(_mm_shuffle_ps(x.v, x.v, 1));
}
inline void store2(Floats2 x, float* left, float* right) {
    _mm_store_ss(left, x.v);
    _mm_store_ss(right, _mm_shuffle_ps(x.v, x.v, 1));
}
inline Floats2 operator+(Floats2 a, Floats2 b) {
    return {_mm_add_ps(a.v, b.v)};
}
inline Floats2 operator-(Floats2 a, Floats2 b) {
    return {_mm_sub_ps(a.v, b.v)};
}
inline Floats2 operator*(Floats2 a, Floats2 b) {
    return {_mm_mul_ps(a.v, b.v)};
}
inline Floats2 splat(float x) {
    return {_mm_setr_ps(x, x, 0.0f, 0.0f)};
}
inline Floats2 abs2(Floats2 x) {
    return {_mm_and_ps(x.v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)))};
}
// The larger magnitude of the two lanes.
inline float maxAbs(Floats2 x) {
    const __m128 a = abs2(x).v;
    return _mm_cvtss_f32(_mm_max_ss(a, _mm_shuffle_ps(a, a, 1)));
}

inline Doubles2 pair(double left, double right) {
    return {_mm_set_pd(right, left)};
}
inline Doubles2 splat(double x) {
    return {_mm_set1_pd(x)};
}
inline double left(Doubles2 x) {
    return _mm_cvtsd_f64(x.v);
}
inline double right(Doubles2 x) {
    return _mm_cvtsd_f64(_mm_unpackhi_pd(x.v, x.v));
}
inline Doubles2 operator+(Doubles2 a, Doubles2 b) {
    return {_mm_add_pd(a.v, b.v)};
}
inline Doubles2 operator-(Doubles2 a, Doubles2 b) {
    return {_mm_sub_pd(a.v, b.v)};
}
inline Doubles2 operator*(Doubles2 a, Doubles2 b) {
    return {_mm_mul_pd(a.v, b.v)};
}
inline Doubles2 widen(Floats2 x) {
    return {_mm_cvtps_pd(x.v)};
} // exact
inline Floats2 narrow(Doubles2 x) {
    return {_mm_cvtpd_ps(x.v)};
} // rounds to nearest

inline Mask2 mask2(bool left, bool right) {
    return {_mm_castsi128_ps(_mm_set_epi32(0, 0, right ? -1 : 0, left ? -1 : 0))};
}
inline DoubleMask2 doubleMask2(bool left, bool right) {
    return {_mm_castsi128_pd(
        _mm_set_epi32(right ? -1 : 0, right ? -1 : 0, left ? -1 : 0, left ? -1 : 0))};
}
inline Mask2 operator&(Mask2 a, Mask2 b) {
    return {_mm_and_ps(a.v, b.v)};
}
// |x| <= limit and |x| >= limit per lane; false for a NaN, as the scalar comparisons.
inline Mask2 absAtMost(Floats2 x, float limit) {
    return {_mm_cmple_ps(abs2(x).v, _mm_set1_ps(limit))};
}
inline Mask2 absAtLeast(Floats2 x, Floats2 limit) {
    return {_mm_cmple_ps(limit.v, abs2(x).v)};
}
inline Mask2 finite2(Floats2 x) {
    return absAtMost(x, std::numeric_limits<float>::max());
}
// Both lanes true. Lanes 2 and 3 of every pair hold +0.0 by construction, so the tests made of
// them (magnitudes at most a positive bound) are true there too and all four bits can be
// compared at once; were they not, the callers' careful path (taken on false) would give the
// same result, only slower.
inline bool both(Mask2 m) {
    return _mm_movemask_ps(m.v) == 0xF;
}
// Both lanes equal (a NaN equals nothing, -0 equals +0).
inline bool operator==(Floats2 a, Floats2 b) {
    return (_mm_movemask_ps(_mm_cmpeq_ps(a.v, b.v)) & 3) == 3;
}
inline bool operator==(Doubles2 a, Doubles2 b) {
    return _mm_movemask_pd(_mm_cmpeq_pd(a.v, b.v)) == 3;
}
// x where the mask is true, +0.0 elsewhere.
inline Floats2 keep(Floats2 x, Mask2 m) {
    return {_mm_and_ps(x.v, m.v)};
}
inline Floats2 select(Mask2 m, Floats2 a, Floats2 b) {
    return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))};
}
inline Doubles2 select(DoubleMask2 m, Doubles2 a, Doubles2 b) {
    return {_mm_or_pd(_mm_and_pd(m.v, a.v), _mm_andnot_pd(m.v, b.v))};
}

// A pair with every lane that is not a finite float set to 0. The check is a predictable
// branch: the masking stays off the filters' chains of dependent operations.
inline Floats2 finiteOrZero2(Floats2 x) {
    const Mask2 finite = finite2(x);
    return both(finite) ? x : keep(x, finite);
}

// The anti-denormal constant in both lanes, loaded from memory (an operand of the add) rather
// than built in a register each frame.
inline Doubles2 antiDenormal2() {
    alignas(16) static constexpr double kPair[2] = {kAntiDenormal, kAntiDenormal};
    return {_mm_load_pd(kPair)};
}

// The two states of one filter stage, the left side's in lane 0 and the right side's in lane 1.
// Each is a float held as a double (its exact value): the filters compute in double, and the
// conversion at the start of every frame stays off the states' chains.
struct FilterStates {
    Doubles2 stage1{}, stage2{};
    bool operator==(const FilterStates&) const = default;
};

// Resonant low-pass in the feedback loop: two one-poles with the difference of their states fed
// back into the first, evaluated in double and stored as floats. At high resonance with nothing
// bounding the loop the states can run past the float range; a state that would not be finite
// restarts from 0 instead of poisoning the loop for good.
//
// The second state needs no guard when 0 <= f <= 1 (what the parameters allow): it then lies
// between the previous second state and the new first state, both finite floats, and rounds to
// a finite float. CheckSecond keeps the guard for any other f.
// `tiny` is antiDenormal2(), passed in by callers that keep it in memory.
template <bool CheckSecond = true>
inline Floats2 resonantLowPass(Floats2 x, Doubles2 f, Doubles2 k, FilterStates& s,
                               Doubles2 tiny = antiDenormal2()) {
    const Doubles2 s1 = s.stage1, s2 = s.stage2;
    s.stage1 = widen(finiteOrZero2(narrow(s1 + f * ((widen(x) - s1) + (s1 - s2) * k) + tiny)));
    Floats2 n2 = narrow(s2 + f * (s.stage1 - s2));
    if constexpr (CheckSecond) n2 = finiteOrZero2(n2);
    s.stage2 = widen(n2);
    return n2;
}

// Two cascaded one-poles with coefficient c, evaluated in double and stored as floats. Each
// state moves a fraction c <= 0.99 of the way toward a finite input, so it stays finite without
// a guard. Returns the second state.
inline Floats2 twoPoleLowPass(Floats2 x, Doubles2 c, FilterStates& s,
                              Doubles2 tiny = antiDenormal2()) {
    s.stage1 = widen(narrow(s.stage1 + (widen(x) - s.stage1) * c + tiny));
    const Floats2 n2 = narrow(s.stage2 + (s.stage1 - s.stage2) * c);
    s.stage2 = widen(n2);
    return n2;
}

// Hi cut: the low-passed echo. Lo cut: the echo minus its low-passed copy.
inline Floats2 hiCut(Floats2 x, Doubles2 c, FilterStates& s, Doubles2 tiny = antiDenormal2()) {
    return twoPoleLowPass(x, c, s, tiny);
}
inline Floats2 loCut(Floats2 x, Doubles2 c, FilterStates& s, Doubles2 tiny = antiDenormal2()) {
    return x - twoPoleLowPass(x, c, s, tiny);
}

// Both outputs through saturateOutput; the pair stays as it is while both are inside the knee.
inline Floats2 saturateOutput2(Floats2 x) {
    constexpr float kKnee = floatAtOrBelow(kOutputKnee);
    if (both(absAtMost(x, kKnee))) return x;
    return pair(saturateOutput(left(x)), saturateOutput(right(x)));
}

} // namespace ql::dsp
