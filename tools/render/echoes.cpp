#include "echoes.h"

#include "effect/parameters.h"
#include "formathost.h"

#include <algorithm>
#include <cmath>

namespace qlrender {

TempoInUse tempoInUse(FormatHost& host, bool hostTime, double hostTempo) {
    if (hostTime && ql::isOn(host.parameter(ql::TempoSync))) return {hostTempo, false};
    return {std::nearbyint(static_cast<double>(host.parameter(ql::ManualTempo)) * 1000.0), true};
}

int64_t longestEchoPath(FormatHost& host, double sampleRate, double tempo) {
    const double wholeNote = 240.0 / tempo * sampleRate;
    auto frames = [&](double wholeNotes) {
        return static_cast<int64_t>(std::nearbyint(wholeNotes * wholeNote));
    };
    const bool linked = ql::isOn(host.parameter(ql::DelayTimeLink));
    const bool offsets = ql::isOn(host.parameter(ql::InitialDelayOn));
    const float leftTime = host.parameter(ql::LeftDelayTime);
    const float times[2] = {leftTime, linked ? leftTime : host.parameter(ql::RightDelayTime)};
    const float initial[2] = {host.parameter(ql::LeftInitialDelayTime),
                              host.parameter(ql::RightInitialDelayTime)};
    int64_t longest = 0;
    for (int side = 0; side < 2; ++side) {
        // A tap on the write position reads the sample one whole line old.
        int64_t delay = frames(times[side]);
        if (delay <= 0) delay += kDelayLineFrames;
        const int64_t offset = offsets ? frames(initial[side] - 0.5) : 0;
        int64_t wet = delay + offset;
        if (wet <= 0) wet += kDelayLineFrames;
        longest = std::max({longest, delay, wet});
    }
    return longest;
}

} // namespace qlrender
