// Cost of the audio processing per stereo frame at 44.1 kHz, next to a plain two-line feedback
// delay measured in the same run. The summary at the end gives the ratios and the real-time
// factor on one core.
#include "engine_setup.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qlbench;

struct Buffers {
    std::vector<float> inL, inR, outL, outR;
    float* ins[2];
    float* outs[2];
    explicit Buffers(int frames)
        : inL(noise(frames, 1)), inR(noise(frames, 2)), outL(frames),
          outR(frames), ins{inL.data(), inR.data()}, outs{outL.data(), outR.data()} {}
};

void reportPerFrame(benchmark::State& state, int frames) {
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["ns_per_frame"] = benchmark::Counter(
        static_cast<double>(frames) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The reference: two lines of the same length, read tap, add scaled feedback, write, output.
void BM_PlainLoop(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Buffers b(frames);
    constexpr int32_t kLength = ql::DelayEngine::DelayLineLength;
    std::vector<float> lineL(kLength), lineR(kLength);
    int32_t pos = 0;
    const int32_t delay = 33075;
    const float feedback = 0.4f;
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i) {
            int32_t read = pos - delay;
            if (read < 0) read += kLength;
            const float tapL = lineL[read], tapR = lineR[read];
            lineL[pos] = b.inL[i] + tapL * feedback;
            lineR[pos] = b.inR[i] + tapR * feedback;
            b.outL[i] = tapL;
            b.outR[i] = tapR;
            if (++pos >= kLength) pos = 0;
        }
        benchmark::DoNotOptimize(b.outL.data());
        benchmark::ClobberMemory();
    }
    reportPerFrame(state, frames);
}

// The floor of every stage on: the two resonant filters alone (as the engine runs them, both
// sides in one pair), whose states feed themselves through a chain of dependent operations that
// no reordering may shorten without changing the bits.
void BM_ResonantChain(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Buffers b(frames);
    ql::dsp::ResonantCoefficients left, right;
    left.refresh(0.6f, 0.5f);
    right.refresh(0.4f, 0.3f);
    const auto f = ql::dsp::pair(left.f, right.f), k = ql::dsp::pair(left.k, right.k);
    ql::dsp::FilterStates s;
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i) {
            const auto y = ql::dsp::resonantLowPass(ql::dsp::load2(&b.inL[i], &b.inR[i]), f, k, s);
            ql::dsp::store2(y, &b.outL[i], &b.outR[i]);
        }
        benchmark::DoNotOptimize(b.outL.data());
        benchmark::ClobberMemory();
    }
    reportPerFrame(state, frames);
}

void BM_Program0(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Buffers b(frames);
    auto effect = makeEffect();
    for (auto _ : state) {
        effect->processReplacing(b.ins, b.outs, frames);
        benchmark::ClobberMemory();
    }
    reportPerFrame(state, frames);
}

void BM_AllStages(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Buffers b(frames);
    auto effect = makeEffect();
    allStagesOn(*effect);
    for (auto _ : state) {
        effect->processReplacing(b.ins, b.outs, frames);
        benchmark::ClobberMemory();
    }
    reportPerFrame(state, frames);
}

// Program 0 with one group of stages added: 0 the resonant filters, 1 the cuts, 2 the gate,
// 3 the ducker. Shows where the cost of all stages comes from.
void BM_OneStage(benchmark::State& state) {
    const int frames = 512;
    Buffers b(frames);
    auto effect = makeEffect();
    const Settings* groups[] = {&kFilters, &kCuts, &kGate, &kDucker};
    apply(*effect, *groups[std::min<int64_t>(state.range(0), 3)]);
    for (auto _ : state) {
        effect->processReplacing(b.ins, b.outs, frames);
        benchmark::ClobberMemory();
    }
    reportPerFrame(state, frames);
}

// Every stage on while another thread moves delay times, filter, cut, gate and ducker settings
// as fast as it can (about once per frame).
void BM_AllStagesAutomated(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Buffers b(frames);
    auto effect = makeEffect();
    allStagesOn(*effect);
    std::atomic<bool> stop{false};
    std::thread automation([&] {
        using namespace ql;
        const int indices[] = {LeftDelayTime, RightDelayTime, LeftFilterFreq, RightFilterReso,
                               HiCutFreq,     LoCutFreq,      GateSpeed,      DuckerSpeed};
        uint32_t step = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            for (int index : indices) {
                const float v = 0.3f + 0.1f * static_cast<float>(step % 64) / 64.0f;
                effect->setParameter(index, v);
            }
            ++step;
        }
    });
    for (auto _ : state) {
        effect->processReplacing(b.ins, b.outs, frames);
        benchmark::ClobberMemory();
    }
    stop.store(true);
    automation.join();
    reportPerFrame(state, frames);
}

BENCHMARK(BM_PlainLoop)->Arg(512)->Arg(64);
BENCHMARK(BM_ResonantChain)->Arg(512);
BENCHMARK(BM_Program0)->Arg(512)->Arg(64);
BENCHMARK(BM_AllStages)->Arg(512)->Arg(64);
BENCHMARK(BM_AllStagesAutomated)->Arg(512);
BENCHMARK(BM_OneStage)->DenseRange(0, 3);

// Prints the runs as usual and keeps each one's cost per frame for the closing summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find("ns_per_frame");
            if (it == run.counters.end()) continue;
            // With --benchmark_repetitions the fastest repetition counts: on a shared machine
            // the slower ones measure the neighbours.
            const auto [entry, fresh] = perFrame.emplace(run.benchmark_name(), it->second.value);
            if (!fresh && it->second.value < entry->second) entry->second = it->second.value;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double plain = value("BM_PlainLoop/512");
        if (plain <= 0.0) return;
        std::printf(
            "\nper stereo frame (ns, fastest repetition), ratio to the plain loop, real-time "
            "factor at 44.1 kHz\n");
        for (const auto& [name, ns] : perFrame)
            std::printf("  %-28s %8.3f ns  %6.2f x plain  %8.0f x real time\n", name.c_str(), ns,
                        ns / plain, 1e9 / kRate / ns);
        const double b64 = value("BM_AllStages/64"), b512 = value("BM_AllStages/512");
        if (b64 > 0.0 && b512 > 0.0)
            std::printf("  all stages, block 64 / block 512: %.2f\n", b64 / b512);
        const double chain = value("BM_ResonantChain/512");
        if (chain > 0.0 && b512 > 0.0)
            std::printf("  all stages / the resonant filters' chain alone: %.2f\n", b512 / chain);
    }

  private:
    double value(const std::string& name) const {
        const auto it = perFrame.find(name);
        return it == perFrame.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> perFrame;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
