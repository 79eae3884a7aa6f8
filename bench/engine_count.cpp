// Instruction counts per stereo frame, for runs under callgrind, which repeat exactly where the
// timed benchmark on a shared machine does not:
//
//   valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=/dev/null
//       build-bench/bench/ql_bench_engine_count plain|program0|filters|cuts|gate|ducker|allstages|automated|block64
//
// Only the processing calls are counted (collection is switched on around them); divide the
// reported "Collected" instruction count by the frame count printed here.
#include "effect/aplugin.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

namespace {

constexpr double kRate = 44100.0;
VstTimeInfo timeInfo{};

VstIntPtr QL_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime) return reinterpret_cast<VstIntPtr>(&timeInfo);
    return 0;
}

std::vector<float> noise(int frames, std::uint32_t seed) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (float& s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / (1 << 24);
    }
    return v;
}

void allStagesOn(APlugin& e) {
    using namespace ql;
    const std::pair<int, float> settings[] = {
        {DryOn, 1.0f},          {LeftFilterOn, 1.0f},   {LeftFilterFreq, 0.6f},
        {LeftFilterReso, 0.5f}, {RightFilterOn, 1.0f},  {RightFilterFreq, 0.4f},
        {RightFilterReso, 0.3f}, {HiCutOn, 1.0f},       {HiCutFreq, 0.7f},
        {LoCutOn, 1.0f},        {LoCutFreq, 0.05f},     {GateOn, 1.0f},
        {GateThreshold, 0.01f}, {DuckerOn, 1.0f},       {DuckerRange, 0.3f},
        {InitialDelayOn, 1.0f}, {LeftInitialDelayTime, 0.3125f},
        {RightInitialDelayTime, 0.6f}};
    for (const auto& [index, value] : settings) e.setParameter(index, value);
}

__attribute__((noinline)) void plainLoop(std::vector<float>& lineL, std::vector<float>& lineR,
                                         const float* inL, const float* inR, float* outL,
                                         float* outR, int frames, int32_t& pos) {
    constexpr int32_t kLength = ql::DelayEngine::DelayLineLength;
    const int32_t delay = 33075;
    const float feedback = 0.4f;
    for (int i = 0; i < frames; ++i) {
        int32_t read = pos - delay;
        if (read < 0) read += kLength;
        const float tapL = lineL[read], tapR = lineR[read];
        lineL[pos] = inL[i] + tapL * feedback;
        lineR[pos] = inR[i] + tapR * feedback;
        outL[i] = tapL;
        outR[i] = tapR;
        if (++pos >= kLength) pos = 0;
    }
}

} // namespace

int main(int argc, char** argv) {
    const char* scenario = argc > 1 ? argv[1] : "allstages";
    const int total = 1 << 16;
    const bool small = std::strcmp(scenario, "block64") == 0 ||
                       std::strcmp(scenario, "automated") == 0;
    const int block = small ? 64 : 512;
    std::vector<float> inL = noise(block, 1), inR = noise(block, 2), outL(block), outR(block);
    float* ins[2] = {inL.data(), inR.data()};
    float* outs[2] = {outL.data(), outR.data()};

    if (std::strcmp(scenario, "plain") == 0) {
        std::vector<float> lineL(ql::DelayEngine::DelayLineLength);
        std::vector<float> lineR(ql::DelayEngine::DelayLineLength);
        int32_t pos = 0;
        for (int done = 0; done < total; done += block) {
            CALLGRIND_TOGGLE_COLLECT;
            plainLoop(lineL, lineR, inL.data(), inR.data(), outL.data(), outR.data(), block, pos);
            CALLGRIND_TOGGLE_COLLECT;
        }
        std::printf("%s: %d frames\n", scenario, total);
        return 0;
    }

    timeInfo.sampleRate = kRate;
    timeInfo.tempo = 120.0;
    timeInfo.flags = kVstTempoValid;
    auto effect = std::make_unique<APlugin>(hostCallback);
    effect->resume();
    // Program 0 alone, with one group of stages added, or with every stage on.
    using namespace ql;
    const std::pair<int, float> filters[] = {{LeftFilterOn, 1.0f},   {LeftFilterFreq, 0.6f},
                                             {LeftFilterReso, 0.5f}, {RightFilterOn, 1.0f},
                                             {RightFilterFreq, 0.4f}, {RightFilterReso, 0.3f}};
    const std::pair<int, float> cuts[] = {
        {HiCutOn, 1.0f}, {HiCutFreq, 0.7f}, {LoCutOn, 1.0f}, {LoCutFreq, 0.05f}};
    const std::pair<int, float> gate[] = {{GateOn, 1.0f}, {GateThreshold, 0.01f}};
    const std::pair<int, float> ducker[] = {{DuckerOn, 1.0f}, {DuckerRange, 0.3f}};
    const auto set = [&](const auto& list) {
        for (const auto& [index, value] : list) effect->setParameter(index, value);
    };
    if (std::strcmp(scenario, "filters") == 0)
        set(filters);
    else if (std::strcmp(scenario, "cuts") == 0)
        set(cuts);
    else if (std::strcmp(scenario, "gate") == 0)
        set(gate);
    else if (std::strcmp(scenario, "ducker") == 0)
        set(ducker);
    else if (std::strcmp(scenario, "program0") != 0)
        allStagesOn(*effect);
    const bool automated = std::strcmp(scenario, "automated") == 0;
    const int moving[] = {ql::LeftDelayTime, ql::RightDelayTime, ql::LeftFilterFreq,
                          ql::RightFilterReso, ql::HiCutFreq, ql::LoCutFreq,
                          ql::GateSpeed, ql::DuckerSpeed};
    // Two seconds of audio first, uncounted, so that the echoes have arrived and every stage
    // works on the signal it meets in use (a gate still closed before the first echo would
    // take a shorter path).
    for (int done = 0; done < 88200; done += block) effect->processReplacing(ins, outs, block);
    std::uint32_t step = 0;
    for (int done = 0; done < total; done += block) {
        if (automated) {
            // Every block moves eight settings, outside the counted part.
            for (int index : moving)
                effect->setParameter(index, 0.3f + 0.1f * static_cast<float>(step % 64) / 64.0f);
            ++step;
        }
        CALLGRIND_TOGGLE_COLLECT;
        effect->processReplacing(ins, outs, block);
        CALLGRIND_TOGGLE_COLLECT;
    }
    std::printf("%s: %d frames\n", scenario, total);
    return 0;
}
