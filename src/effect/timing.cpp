// The per-block timing step: which sample rate and tempo a block runs at, and the values the
// editor shows.
#include "effect/timing.h"

#include "effect/aplugin.h"
#include "effect/dsp.h"

#include <cmath>
#include <cstdint>

namespace ql {

namespace {
bool finitePositive(double value) {
    return value > 0.0 && std::isfinite(value);
}
} // namespace

double samplesPerWholeNote(double tempo, double sampleRate) {
    if (!finitePositive(tempo)) return 0.0;
    const double samples = 240.0 / tempo * sampleRate;
    return samples >= 0.0 ? samples : 0.0;
}

std::int32_t wholeNoteMillis(double tempo) {
    if (!finitePositive(tempo)) return 0;
    const double ms = 240000.0 / tempo;
    if (ms >= 2147483647.0) return INT32_MAX;
    return dsp::roundToInt(ms);
}

std::int32_t tempoQueryPosition(double samplePos) {
    if (samplePos != samplePos) return 0;
    if (samplePos >= 2147483647.0) return INT32_MAX;
    if (samplePos <= -2147483648.0) return INT32_MIN;
    return dsp::roundToInt(samplePos);
}

} // namespace ql

double APlugin::runTimingStep() {
    using namespace ql;
    manualTempoBpm = dsp::roundHalfEven(param(ManualTempo) * 1000.0);

    // The request names the tempo: some hosts fill it (and set the flag) only when asked.
    lastTimeInfo = getTimeInfo(kVstTempoValid);
    double rate;
    double tempo = manualTempoBpm;
    bool hasTimeInfo = false;
    bool synced = false;
    float reportedTempo = 0.0f;
    if (lastTimeInfo) {
        hasTimeInfo = true;
        rate = lastTimeInfo->sampleRate;
        if (lastTimeInfo->flags & kVstTempoValid)
            reportedTempo = static_cast<float>(lastTimeInfo->tempo);
        else
            reportedTempo =
                static_cast<float>(tempoAt(tempoQueryPosition(lastTimeInfo->samplePos)) / 10000.0);
        if (isOn(param(TempoSync))) {
            synced = true;
            tempo = reportedTempo;
        }
    } else {
        rate = getSampleRate();
    }

    currentSampleRate.store(rate, std::memory_order_relaxed);
    currentTempo.store(tempo, std::memory_order_relaxed);
    hostHasTimeInfo.store(hasTimeInfo, std::memory_order_relaxed);
    tempoSynced.store(synced, std::memory_order_relaxed);
    hostTempo.store(reportedTempo, std::memory_order_relaxed);
    wholeNoteMs.store(wholeNoteMillis(tempo), std::memory_order_relaxed);
    return samplesPerWholeNote(tempo, rate);
}
