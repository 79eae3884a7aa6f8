// What the engine benchmarks share: a host that answers with 120 BPM at 44.1 kHz, deterministic
// input noise, the effect switched on, and the settings that put every stage to work.
#pragma once

#include "effect/aplugin.h"
#include "effect/parameters.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace qlbench {

constexpr double kRate = 44100.0;

inline VstTimeInfo& timeInfo() {
    static VstTimeInfo info{};
    return info;
}

inline VstIntPtr QL_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*,
                                         float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime) return reinterpret_cast<VstIntPtr>(&timeInfo());
    return 0;
}

// Deterministic noise at a moderate level: it keeps the gate open and the saturation idle, as
// program material mostly does.
inline std::vector<float> noise(int frames, std::uint32_t seed) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (float& s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / (1 << 24);
    }
    return v;
}

inline std::unique_ptr<APlugin> makeEffect() {
    timeInfo().sampleRate = kRate;
    timeInfo().tempo = 120.0;
    timeInfo().flags = kVstTempoValid;
    auto effect = std::make_unique<APlugin>(hostCallback);
    effect->resume(); // clears, and so touches, every page of the lines
    return effect;
}

// The stages by group, each on with settings that make it work.
using Settings = std::vector<std::pair<int, float>>;
inline const Settings kFilters = {{ql::LeftFilterOn, 1.0f},    {ql::LeftFilterFreq, 0.6f},
                                  {ql::LeftFilterReso, 0.5f},  {ql::RightFilterOn, 1.0f},
                                  {ql::RightFilterFreq, 0.4f}, {ql::RightFilterReso, 0.3f}};
inline const Settings kCuts = {
    {ql::HiCutOn, 1.0f}, {ql::HiCutFreq, 0.7f}, {ql::LoCutOn, 1.0f}, {ql::LoCutFreq, 0.05f}};
inline const Settings kGate = {{ql::GateOn, 1.0f}, {ql::GateThreshold, 0.01f}};
inline const Settings kDucker = {{ql::DuckerOn, 1.0f}, {ql::DuckerRange, 0.3f}};
inline const Settings kDryAndOffsets = {{ql::DryOn, 1.0f},
                                        {ql::InitialDelayOn, 1.0f},
                                        {ql::LeftInitialDelayTime, 0.3125f},
                                        {ql::RightInitialDelayTime, 0.6f}};

inline void apply(APlugin& e, const Settings& settings) {
    for (const auto& [index, value] : settings)
        e.setParameter(index, value);
}

inline void allStagesOn(APlugin& e) {
    for (const Settings* group : {&kDryAndOffsets, &kFilters, &kCuts, &kGate, &kDucker})
        apply(e, *group);
}

} // namespace qlbench
