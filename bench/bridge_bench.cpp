// The cost of the format bridge: a block through PluginBridge::process against the same block
// through the effect's processReplacing as a VST 2 host calls it, measured in one run. The ratio
// of the medians (CPU time) is printed at the end (goal: within 2 % at 512 frames, 5 % at 64).
#include "formats/bridge/pluginbridge.h"
#include "shell/pluginfactory.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100.0;

VstTimeInfo gTime{};
VstIntPtr QL_VSTCALL plainHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime) return reinterpret_cast<VstIntPtr>(&gTime);
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

struct Buffers {
    explicit Buffers(int frames)
        : inL(noise(frames, 1)), inR(noise(frames, 2)), outL(inL.size()), outR(inL.size()) {}
    std::vector<float> inL, inR, outL, outR;
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
};

void Direct(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    AEffect* e = ql::createVstEffect(plainHost);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    Buffers b(frames);
    double position = 0.0;
    for (auto _ : state) {
        // What a host does per block: fill its time record, then call the entry.
        gTime = VstTimeInfo{};
        gTime.samplePos = position;
        gTime.sampleRate = kRate;
        gTime.tempo = 120.0;
        gTime.flags = kVstTempoValid;
        e->processReplacing(e, b.in, b.out, frames);
        position += frames;
        benchmark::DoNotOptimize(b.outL.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

void Bridge(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    ql::formats::PluginBridge bridge;
    bridge.setSampleRate(kRate);
    bridge.start();
    Buffers b(frames);
    ql::formats::Transport transport;
    transport.present = transport.hasTempo = true;
    transport.tempo = 120.0;
    for (auto _ : state) {
        bridge.process(b.in, b.out, frames, transport);
        benchmark::DoNotOptimize(b.outL.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

// Keeps the median of each benchmark for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedCPUTime();
    }
    std::map<std::string, double> medians;
};

} // namespace

BENCHMARK(Direct)->Arg(512)->Arg(64)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(Bridge)->Arg(512)->Arg(64)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    // Repetitions of the two interleaved, so a busy machine weighs on both alike.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* block : {"512", "64"}) {
        const auto direct = reporter.medians.find(std::string("Direct/") + block);
        const auto bridge = reporter.medians.find(std::string("Bridge/") + block);
        if (direct == reporter.medians.end() || bridge == reporter.medians.end()) continue;
        std::printf("bridge / direct at %s frames: %.4f\n", block, bridge->second / direct->second);
    }
    benchmark::Shutdown();
    return 0;
}
