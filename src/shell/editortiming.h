// The effect's timing as its editor window shows it: one value the editor bridge copies to the
// window on every idle call, so the window never reads the effect itself.
#pragma once

#include <cstdint>

struct TEditorTiming {
    bool HostCanSync = false;
    bool SyncActive = false;
    double LastSampleRate = 0.0; // the rate of the latest block
    float SyncTempo = 0.0f;
    float HostTempo = 0.0f;
    int32_t MsRange = 0;
    // The effect's own sample rate, as the host set it: the one the sample-rate label shows.
    double EffectSampleRate = 0.0;
};
