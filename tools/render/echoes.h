// What the host can tell about the plug-in's echoes from its parameter values and the tempo it
// is given: the tempo the plug-in runs on, and how long an echo can stay on its way.
#pragma once

#include <cstdint>

namespace qlrender {

class FormatHost;

// Length of each delay line of the plug-in, in frames (4.8 s at 192 kHz).
constexpr int64_t kDelayLineFrames = 921600;

struct TempoInUse {
    double bpm;
    bool manual; // from the ManualTempo parameter, not the host
};

// The tempo the plug-in runs on: the host's when it gives time information and TempoSync is
// on, else the manual tempo of the ManualTempo parameter.
TempoInUse tempoInUse(FormatHost& host, bool hostTime, double hostTempo);

// The longest time, in frames, between a sample entering a delay line and the next thing it
// causes at the output or in the line: the larger of the delay and the delay plus the initial
// offset, over both sides. Output that stays quiet for this long after the input has ended
// stays quiet for good.
int64_t longestEchoPath(FormatHost& host, double sampleRate, double tempo);

} // namespace qlrender
