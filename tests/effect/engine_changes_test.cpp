// Parameter changes reaching the engine: with the change counter the engine reads the parameters
// only when a writer has bumped it, and must then give the very bits of an engine that reads them
// at every frame; a change made by another thread in the middle of a block takes effect from a
// frame inside that block.
#include "engine_host.h"
#include "moving_params.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using namespace ql;

namespace {

struct Rng {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    float unit() { return static_cast<float>(next() >> 8) / 16777216.0f; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<uint32_t>(n)); }
};

bool sameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

} // namespace

TEST(EngineChanges, CounterDrivenRunsMatchReadingEveryFrame) {
    auto counted = std::make_unique<DelayEngine>();
    auto everyFrame = std::make_unique<DelayEngine>();
    std::atomic<float> params[kNumParams];
    for (int i = 0; i < kNumParams; ++i)
        params[i].store(defaultParameterValue(i));
    std::atomic<uint32_t> changes{0};
    const auto set = [&](int index, float value) {
        params[index].store(value, std::memory_order_relaxed);
        changes.fetch_add(1, std::memory_order_release);
    };
    const std::vector<int> switches = enginetest::movingSwitches();
    const std::vector<int> values = enginetest::movingValues();
    for (int s : switches)
        set(s, 1.0f);
    set(LeftDelayTime, 0.01f);
    set(RightDelayTime, 0.02f);
    set(GateThreshold, 0.1f);

    Rng rng{777};
    std::vector<float> inL(300), inR(300), outA(300), outB(300), outC(300), outD(300);
    double wholeNote = 88200.0;
    int64_t frames = 0, differing = 0;
    for (int block = 0; block < 2000; ++block) {
        // Blocks of every length, also ones that end a stretch at a wrap of the line.
        const int n = 1 + rng.below(block % 7 == 0 ? 300 : 24);
        // Several changes, and runs of blocks with none (the counter stands still).
        if (rng.below(3) != 0) {
            for (int c = 1 + rng.below(3); c > 0; --c) {
                if (rng.below(3) == 0) {
                    const float choice[] = {0.0f, 1.0f, 1.0f, 0.999f};
                    set(switches[size_t(rng.below(int(switches.size())))], choice[rng.below(4)]);
                } else {
                    const int index = values[size_t(rng.below(int(values.size())))];
                    float v = rng.unit();
                    if (index == LeftDelayTime || index == RightDelayTime) v *= 0.05f;
                    if (rng.below(8) == 0) v = rng.below(2) ? 1.0f : 0.0f;
                    set(index, v);
                }
            }
        }
        if (block % 400 == 399) wholeNote = wholeNote == 88200.0 ? 96000.0 : 88200.0;
        if (block == 1000) {
            // the next blocks run across the end of the lines
            counted->state.leftWritePos = everyFrame->state.leftWritePos =
                DelayEngine::DelayLineLength - 150;
            counted->state.rightWritePos = everyFrame->state.rightWritePos =
                DelayEngine::DelayLineLength - 150;
        }
        for (int i = 0; i < n; ++i) {
            const float burst = rng.below(50) < 3 ? 4.0f : 0.6f;
            inL[i] = (rng.unit() - 0.5f) * burst;
            inR[i] = rng.below(100) == 0 ? NAN : (rng.unit() - 0.5f) * burst;
        }
        counted->run<false>(params, wholeNote, inL.data(), inR.data(), outA.data(), outB.data(), n,
                            &changes);
        everyFrame->run<false>(params, wholeNote, inL.data(), inR.data(), outC.data(), outD.data(),
                               n);
        for (int i = 0; i < n; ++i) {
            if (!sameBits(outA[i], outC[i]) || !sameBits(outB[i], outD[i])) {
                if (differing++ < 5)
                    ADD_FAILURE() << "frame " << frames + i << ": " << outA[i] << " vs " << outC[i]
                                  << ", " << outB[i] << " vs " << outD[i];
            }
        }
        frames += n;
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(frames, 20000);
    EXPECT_TRUE(counted->state == everyFrame->state);
    for (int32_t i = 0; i < DelayEngine::DelayLineLength; i += 997) {
        ASSERT_TRUE(sameBits(counted->leftDelayLine[i], everyFrame->leftDelayLine[i])) << i;
        ASSERT_TRUE(sameBits(counted->rightDelayLine[i], everyFrame->rightDelayLine[i])) << i;
    }
}

TEST(EngineChanges, ASetParameterFromAnotherThreadTakesEffectWithinTheBlock) {
    auto effect = enginetest::makeEffect();
    APlugin& e = *effect;
    enginetest::setAll(
        e, {{DryOn, 1.0f}, {DryLevel, 1.0f}, {LeftDelayOn, 0.0f}, {RightDelayOn, 0.0f}});
    // Long enough (some milliseconds) for the other thread to come in while it runs.
    constexpr int kFrames = 1 << 21;
    std::vector<float> inL(kFrames, 0.5f), inR(kFrames, -0.5f), outL(kFrames), outR(kFrames);
    float* ins[2] = {inL.data(), inR.data()};
    float* outs[2] = {outL.data(), outR.data()};

    int switchedInside = 0;
    for (int attempt = 0; attempt < 20 && switchedInside == 0; ++attempt) {
        e.setParameter(DryLevel, 1.0f);
        std::atomic<bool> started{false};
        std::thread writer([&] {
            while (!started.load(std::memory_order_acquire))
                std::this_thread::yield();
            e.setParameter(DryLevel, 0.25f);
        });
        started.store(true, std::memory_order_release);
        e.processReplacing(ins, outs, kFrames);
        writer.join();

        // Every frame has the old level or the new one; once the new one is there it stays.
        int first = kFrames;
        for (int i = 0; i < kFrames; ++i) {
            if (outL[i] == 0.125f && outR[i] == -0.125f) {
                first = i;
                break;
            }
            ASSERT_EQ(outL[i], 0.5f) << i;
            ASSERT_EQ(outR[i], -0.5f) << i;
        }
        for (int i = first; i < kFrames; ++i) {
            ASSERT_EQ(outL[i], 0.125f) << i;
            ASSERT_EQ(outR[i], -0.125f) << i;
        }
        if (first > 0 && first < kFrames) ++switchedInside;
    }
    EXPECT_GT(switchedInside, 0) << "no change landed inside a block in 20 attempts";
}
