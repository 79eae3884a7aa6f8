// Cost of the pixel-image drawing the editor's paint is made of: one full-size opaque copy of the
// panel plus 40 keyed knob frames, next to a memcpy of the same bytes.
#include "dibcontrols/cDIB.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 600, kHeight = 371, kFrames = 61, kFrame = 28, kKnobs = 40;

struct Scene {
    TMemoryDIB panel{kWidth, kHeight};
    TWinDIB back{kWidth, kHeight};
    TMemoryDIB strip{kFrames * kFrame, kFrame};
    Scene() {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                panel.ScanLine(y)[x] = uint32_t(x * 7 + y * 13) * 0x010101u;
        // Knob frames: a disc on the key colour, so about a fifth of each frame is skipped.
        for (int y = 0; y < kFrame; ++y)
            for (int x = 0; x < kFrames * kFrame; ++x) {
                const int dx = x % kFrame - 14, dy = y - 14;
                strip.ScanLine(y)[x] =
                    dx * dx + dy * dy < 169 ? 0xFF000000u | uint32_t(x * 31) : 0x00FF00FFu;
            }
        strip.SetTransparentMode(tmFixed);
        strip.SetTransparentColor(0xFF00FF);
        strip.SetTransparent(true);
    }
    void knobs(int turn) {
        for (int k = 0; k < kKnobs; ++k)
            strip.DrawFrame(10 + (k % 10) * 58, 20 + (k / 10) * 85, back, kFrames,
                            (k * 7 + turn) % kFrames);
    }
};

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint8_t> src(size_t(kWidth) * kHeight * 4, 1), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_Memcpy);

void BM_OpaqueCopyFull(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        scene.panel.Draw(0, 0, kWidth, kHeight, scene.back, 0, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(BM_OpaqueCopyFull);

void BM_KeyedFrames40(benchmark::State& state) {
    Scene scene;
    int turn = 0;
    for (auto _ : state) {
        scene.knobs(turn++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_KeyedFrames40);

void BM_ComposePanelAndKnobs(benchmark::State& state) {
    Scene scene;
    int turn = 0;
    for (auto _ : state) {
        scene.panel.Draw(0, 0, kWidth, kHeight, scene.back, 0, 0);
        scene.knobs(turn++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComposePanelAndKnobs);

// The slider thumb path: a 16 x 28 image blended at opacity 196.
void BM_OpacityFrames40(benchmark::State& state) {
    Scene scene;
    TMemoryDIB thumb(16, 28);
    thumb.Fill(0x808080);
    thumb.SetOpacity(196);
    for (auto _ : state) {
        for (int k = 0; k < kKnobs; ++k)
            thumb.Draw(10 + (k % 10) * 58, 20 + (k / 10) * 85, 16, 28, scene.back, 0, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_OpacityFrames40);

} // namespace

BENCHMARK_MAIN();
