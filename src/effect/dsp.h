// Numeric primitives of the audio path: exact rounding, the soft saturation curve and the
// filter stages of the feedback loops and the echo path. Everything here is inline: it runs
// once or twice per sample frame.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ql::dsp {

// Both delay lines hold 4800 ms at 192 kHz, whatever the sample rate.
constexpr std::int32_t kDelayLineLength = 921600;

// Added to the first state of every filter stage each sample, so that a dying signal never
// leaves the states in the slow denormal range; feedback below it is flushed to zero.
constexpr double kAntiDenormal = 1e-25;

// Knees of the saturation: what enters the lines (while the gate switch is on) and the outputs.
constexpr double kLineKnee = 0.8;
constexpr double kOutputKnee = 0.95;

inline std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

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
inline std::int32_t roundToInt(double x) { return static_cast<std::int32_t>(roundHalfEven(x)); }

// A sample that is not finite (NaN or infinite) is treated as silence.
inline float finiteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

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
inline float clampCoefficient(float value) { return value > 0.99f ? 0.99f : value; }
inline float clampResonance(float value) { return value > 0.98f ? 0.98f : value; }

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

// Resonant low-pass in the feedback loop: two one-poles with the difference of their states fed
// back into the first. The updates are evaluated in double and stored as floats. At high
// resonance with nothing bounding the loop the states can run past the float range; a state that
// would not be finite restarts from 0 instead of poisoning the loop for good.
inline float resonantLowPass(float x, const ResonantCoefficients& c, float& stage1,
                             float& stage2) {
    const double s1 = stage1;
    const double s2 = stage2;
    float n1 = static_cast<float>(s1 + c.f * ((x - s1) + (s1 - s2) * c.k) + kAntiDenormal);
    if (!std::isfinite(n1)) n1 = 0.0f;
    float n2 = static_cast<float>(s2 + c.f * (n1 - s2));
    if (!std::isfinite(n2)) n2 = 0.0f;
    stage1 = n1;
    stage2 = n2;
    return n2;
}

// Two cascaded one-poles with coefficient c, evaluated in double and stored as floats. Each
// state moves a fraction c <= 0.99 of the way toward a finite input, so it stays finite without
// a guard. Returns the second state.
inline float twoPoleLowPass(float x, double c, float& stage1, float& stage2) {
    const double s1 = stage1;
    const float n1 = static_cast<float>(s1 + (x - s1) * c + kAntiDenormal);
    const double s2 = stage2;
    const float n2 = static_cast<float>(s2 + (n1 - s2) * c);
    stage1 = n1;
    stage2 = n2;
    return n2;
}

// Hi cut: the low-passed echo.
inline float hiCut(float x, double c, float& stage1, float& stage2) {
    return twoPoleLowPass(x, c, stage1, stage2);
}

// Lo cut: the echo minus its low-passed copy.
inline float loCut(float x, double c, float& stage1, float& stage2) {
    return x - twoPoleLowPass(x, c, stage1, stage2);
}

} // namespace ql::dsp
