// Instruction counts per stereo frame, for runs under callgrind, which repeat exactly where the
// timed benchmark on a shared machine does not:
//
//   valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=/dev/null
//       build-bench/bench/ql_bench_engine_count
//       plain|program0|filters|cuts|gate|ducker|allstages|automated|block64
//
// Only the processing calls are counted (collection is switched on around them); divide the
// reported "Collected" instruction count by the frame count printed here.
#include "engine_setup.h"

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

using namespace qlbench;

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
    const bool small =
        std::strcmp(scenario, "block64") == 0 || std::strcmp(scenario, "automated") == 0;
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

    auto effect = makeEffect();
    // Program 0 alone, with one group of stages added, or with every stage on.
    if (std::strcmp(scenario, "filters") == 0)
        apply(*effect, kFilters);
    else if (std::strcmp(scenario, "cuts") == 0)
        apply(*effect, kCuts);
    else if (std::strcmp(scenario, "gate") == 0)
        apply(*effect, kGate);
    else if (std::strcmp(scenario, "ducker") == 0)
        apply(*effect, kDucker);
    else if (std::strcmp(scenario, "program0") != 0)
        allStagesOn(*effect);
    const bool automated = std::strcmp(scenario, "automated") == 0;
    const int moving[] = {ql::LeftDelayTime,   ql::RightDelayTime, ql::LeftFilterFreq,
                          ql::RightFilterReso, ql::HiCutFreq,      ql::LoCutFreq,
                          ql::GateSpeed,       ql::DuckerSpeed};
    // Two seconds of audio first, uncounted, so that the echoes have arrived and every stage
    // works on the signal it meets in use (a gate still closed before the first echo would
    // take a shorter path).
    for (int done = 0; done < 88200; done += block)
        effect->processReplacing(ins, outs, block);
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
