// A scripted host for engine tests: one global script says what the time request answers, and
// the requests the effect sends are recorded.
#pragma once

#include "effect/aplugin.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace enginetest {

struct HostScript {
    bool giveTimeInfo = true;
    VstTimeInfo timeInfo{};
    VstIntPtr tempoAtAnswer = 0;
    std::vector<VstIntPtr> timeFilters;    // value of every audioMasterGetTime
    std::vector<VstIntPtr> tempoPositions; // value of every audioMasterTempoAt

    // A host at `tempo` (flagged valid) and `rate`.
    void set(double tempo, double rate) {
        giveTimeInfo = true;
        timeInfo = VstTimeInfo{};
        timeInfo.tempo = tempo;
        timeInfo.sampleRate = rate;
        timeInfo.flags = kVstTempoValid;
    }
};

inline HostScript script;

inline VstIntPtr QL_VSTCALL scriptedHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr value,
                                         void*, float) {
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterGetTime:
        script.timeFilters.push_back(value);
        return script.giveTimeInfo ? reinterpret_cast<VstIntPtr>(&script.timeInfo) : 0;
    case audioMasterTempoAt:
        script.tempoPositions.push_back(value);
        return script.tempoAtAnswer;
    default:
        return 0;
    }
}

// The effect is about 7.4 MB: always on the heap.
inline std::unique_ptr<APlugin> makeEffect(double tempo = 120.0, double rate = 44100.0) {
    script = HostScript{};
    script.set(tempo, rate);
    return std::make_unique<APlugin>(scriptedHost);
}

// Sets every parameter of the effect from a plain list of (index, value) pairs.
inline void setAll(APlugin& e, std::initializer_list<std::pair<int, float>> values) {
    for (const auto& [index, value] : values)
        e.setParameter(index, value);
}

// A stereo block with owned buffers.
struct Block {
    std::vector<float> inL, inR, outL, outR;
    explicit Block(int frames) : inL(frames), inR(frames), outL(frames), outR(frames) {}
    void run(APlugin& e) {
        float* ins[2] = {inL.data(), inR.data()};
        float* outs[2] = {outL.data(), outR.data()};
        e.processReplacing(ins, outs, static_cast<VstInt32>(inL.size()));
    }
};

} // namespace enginetest
