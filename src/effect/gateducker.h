// The two dynamic stages on the echo path: a gate that trims quiet echo tails and a ducker that
// lowers the echoes while the input is loud. Both count time in frames, not seconds.
#pragma once

#include "effect/dsp.h"

#include <cstdint>

namespace ql {

enum GateStateValue : std::int32_t {
    GateOpen = 0,
    GateClosed = 1,
    GateOpening = 2,
    GateClosing = 3,
};

// The lengths and steps derived from GateSpeed, kept while its bits stay the same.
struct GateTiming {
    std::uint32_t speedKey = dsp::kNoKey;
    std::int32_t attackLength = 0;
    std::int32_t holdLength = 0;
    std::int32_t releaseLength = 0;
    double attackStep = 0.0;
    double releaseStep = 0.0;

    void refresh(float speed) {
        if (dsp::bitsOf(speed) == speedKey) return;
        speedKey = dsp::bitsOf(speed);
        // The time scale and the lengths are evaluated in double, then rounded halves to even.
        const double t = 1.05 - speed;
        attackLength = dsp::roundToInt(200.0 * t);
        holdLength = dsp::roundToInt(4000.0 * t);
        releaseLength = dsp::roundToInt(10000.0 * t);
        attackStep = 1.0 / attackLength;
        releaseStep = 1.0 / releaseLength;
    }
};

struct Gate {
    std::int32_t gateState = GateClosed;
    std::int32_t gateHoldCount = 0;
    std::int32_t gateAttackCount = 0;
    std::int32_t gateReleaseCount = 0;
    double gateGain = 0.0;

    bool operator==(const Gate&) const = default;

    // One frame of the gate on the two echo samples: silenced while it is closed, otherwise
    // scaled by the gain in double. Runs only while switched on with a threshold above 0 (the
    // caller decides).
    QL_FRAME_INLINE dsp::Floats2 apply(const GateTiming& timing, float threshold,
                                       dsp::Floats2 echoes) {
        using namespace dsp;
        return advance(timing, threshold, maxAbs(echoes)) ? narrow(widen(echoes) * splat(gateGain))
                                                          : pair(0.0f, 0.0f);
    }

    // The state machine of one frame for the echo level (the larger magnitude of the two echo
    // samples). Answers false when the gate is closed (the echoes are silenced), otherwise the
    // echoes are scaled by gateGain.
    QL_FRAME_INLINE bool advance(const GateTiming& timing, float threshold, float level) {
        // The hold count restarts at a level at or above the threshold and counts up
        // otherwise; worked out without a branch, as echoes hover around the threshold.
        const std::int32_t below = !(level >= threshold);
        if (gateState == GateOpen) {
            // The usual frame, on a short path: of the steps below only the hold can move.
            gateHoldCount = -below & (gateHoldCount + 1);
            if (!(below && gateHoldCount > timing.holdLength)) return true;
            beginClosing();
        } else {
            // The steps run in this order and each sees what the previous one left, so one
            // frame can pass several transitions.
            if ((gateState == GateClosed || gateState == GateClosing) && level > threshold) {
                gateState = GateOpening;
                gateAttackCount = 0;
                gateHoldCount = 0;
            }
            if (gateState == GateOpening) {
                ++gateAttackCount;
                gateGain += timing.attackStep;
                if (gateAttackCount > timing.attackLength) {
                    gateState = GateOpen;
                    gateGain = 1.0;
                }
            }
            if (gateState == GateOpen || gateState == GateOpening) {
                gateHoldCount = -below & (gateHoldCount + 1);
                if (below && gateHoldCount > timing.holdLength) beginClosing();
            }
        }
        if (gateState == GateClosing) {
            ++gateReleaseCount;
            gateGain -= timing.releaseStep;
            if (gateReleaseCount > timing.releaseLength) gateState = GateClosed;
        }
        return gateState != GateClosed;
    }

  private:
    // The hold has run out: closing begins (and takes its first step in the same frame).
    void beginClosing() {
        gateHoldCount = 0;
        gateState = GateClosing;
        gateReleaseCount = 0;
    }
};

// The rates derived from DuckerRange and DuckerSpeed, kept while their bits stay the same.
struct DuckerRates {
    std::uint64_t key = ~std::uint64_t{0};
    double range = 0.0;
    double riseStep = 0.0;
    double fallStep = 0.0;

    void refresh(float rangeValue, float speed) {
        const std::uint64_t now =
            (std::uint64_t{dsp::bitsOf(rangeValue)} << 32) | dsp::bitsOf(speed);
        if (now == key) return;
        key = now;
        // Evaluated in double; the ramp length is rounded halves to even.
        range = rangeValue;
        const std::int32_t n = dsp::roundToInt(4000.0 * (1.4 - speed));
        riseStep = range / n;
        fallStep = 0.28 * riseStep;
    }
};

struct Ducker {
    double duckerEnvelope = 0.0;

    bool operator==(const Ducker&) const = default;

    // One frame of the ducker on the two echo samples, driven by the frame's (finite) input
    // samples: the echoes scaled by the gain in double. Runs only while switched on with a
    // range above 0 (the caller decides).
    QL_FRAME_INLINE dsp::Floats2 apply(const DuckerRates& rates, dsp::Floats2 input,
                                       dsp::Floats2 echoes) {
        using namespace dsp;
        return narrow(widen(echoes) * splat(advance(rates, maxAbs(input))));
    }

    // Moves the envelope for the larger input magnitude and answers the gain for the echoes.
    QL_FRAME_INLINE double advance(const DuckerRates& rates, float level) {
        const double input = level;
        // Both candidates are computed and one is picked: the choice follows the input around
        // the envelope, which no branch predictor can guess. Compilers make this a compare
        // mask and a blend, which also keeps the envelope's chain from frame to frame short.
        double up = duckerEnvelope + rates.riseStep;
        up = up > 1.0 ? 1.0 : up;
        double down = duckerEnvelope - rates.fallStep;
        down = down < 0.0 ? 0.0 : down;
        duckerEnvelope = input > duckerEnvelope ? up : down;
        const double gain = 1.0 - 5.0 * duckerEnvelope * rates.range;
        return gain < 0.0 ? 0.0 : gain;
    }
};

} // namespace ql
