// The audio thread never allocates: the global operator new is replaced in this test program to
// count allocations made by the counting thread while it processes.
#include "effect/aplugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {
thread_local bool counting = false;
std::atomic<long> allocations{0};

void* allocate(std::size_t size) {
    if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {
VstTimeInfo quietInfo{};
bool quietGivesInfo = true;

// Answers without allocating anything itself.
VstIntPtr QL_VSTCALL quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterGetTime && quietGivesInfo)
        return reinterpret_cast<VstIntPtr>(&quietInfo);
    if (opcode == audioMasterTempoAt) return 1200000;
    return 0;
}
} // namespace

TEST(EngineAllocation, ProcessingAllocatesNothing) {
    quietInfo.sampleRate = 44100.0;
    quietInfo.tempo = 120.0;
    quietInfo.flags = kVstTempoValid;
    auto effect = std::make_unique<APlugin>(quietHost);
    std::vector<float> inL(512, 0.25f), inR(512, -0.25f), outL(512), outR(512);
    float* ins[2] = {inL.data(), inR.data()};
    float* outs[2] = {outL.data(), outR.data()};

    // the counter itself works
    counting = true;
    auto probe = std::make_unique<int>(1);
    counting = false;
    ASSERT_EQ(allocations.exchange(0), 1);

    for (int i = 0; i < 50; ++i) {
        // stages switching on between blocks (the editor bridge's part is not counted)
        if (i == 10) effect->setParameter(ql::GateOn, 1.0f);
        if (i == 20) effect->setParameter(ql::LeftFilterOn, 1.0f);
        if (i == 25) quietInfo.flags = 0;    // tempo through tempoAt
        if (i == 30) quietGivesInfo = false; // no time information
        counting = true;
        effect->processReplacing(ins, outs, 512);
        effect->process(ins, outs, 512);
        counting = false;
    }
    counting = true;
    effect->suspend();
    effect->resume();
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
}
