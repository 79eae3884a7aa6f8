// ql_rawrender PLUGIN OUTPUT: loads the plug-in like a host, runs every factory program over a
// fixed input at a fixed tempo, and writes the output samples as raw little-endian floats. The
// Linux and the Windows builds must write the same bytes: the test command compares the files.
//
// The input is made from integers only (a linear congruential generator and impulses), so both
// sides start from the same bits whatever their maths libraries do.
#include "shell/vst2abi.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using PluginEntry = AEffect*(QL_VSTCALL*)(audioMasterCallback);

constexpr double kSampleRate = 44100.0;
constexpr int kBlock = 256;
constexpr int kBlocksPerProgram = 48; // about 0.28 s each

VstTimeInfo gTime{};

VstIntPtr QL_VSTCALL HostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr,
                                  float) {
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterGetTime:
        return reinterpret_cast<VstIntPtr>(&gTime);
    case audioMasterTempoAt:
        return 1230000; // 123 BPM, times 10000
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
        if (ptr) std::strcpy(static_cast<char*>(ptr), "rawrender");
        return 1;
    default:
        return 0;
    }
}

PluginEntry LoadEntry(const char* path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path);
    if (!module) return nullptr;
    // Through void*: FARPROC is a function type of its own.
    return reinterpret_cast<PluginEntry>(reinterpret_cast<void*>(GetProcAddress(module, "main")));
#else
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return reinterpret_cast<PluginEntry>(dlsym(handle, "main"));
#endif
}

struct TNoise {
    uint32_t State = 0x12345678u;
    float Next() {
        State = State * 1664525u + 1013904223u;
        return float(int32_t(State >> 8) - (1 << 23)) * (1.0f / float(1 << 23));
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ql_rawrender PLUGIN OUTPUT\n");
        return 2;
    }
    const PluginEntry entry = LoadEntry(argv[1]);
    if (!entry) {
        std::fprintf(stderr, "ql_rawrender: cannot load %s\n", argv[1]);
        return 1;
    }
    gTime.sampleRate = kSampleRate;
    gTime.tempo = 123.0;
    gTime.timeSigNumerator = 4;
    gTime.timeSigDenominator = 4;
    gTime.flags = kVstTransportPlaying | kVstTempoValid | kVstPpqPosValid | kVstTimeSigValid;

    AEffect* effect = entry(HostCallback);
    if (!effect || effect->magic != kEffectMagic || !effect->processReplacing) {
        std::fprintf(stderr, "ql_rawrender: no effect record\n");
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fprintf(stderr, "ql_rawrender: cannot write %s\n", argv[2]);
        return 1;
    }
    auto dispatch = [&](VstInt32 op, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
        return effect->dispatcher(effect, op, index, value, ptr, opt);
    };
    dispatch(effOpen, 0, 0, nullptr, 0.0f);
    dispatch(effSetSampleRate, 0, 0, nullptr, float(kSampleRate));
    dispatch(effSetBlockSize, 0, kBlock, nullptr, 0.0f);

    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    TNoise noise;
    int64_t frame = 0;
    for (VstInt32 program = 0; program < effect->numPrograms; ++program) {
        dispatch(effMainsChanged, 0, 0, nullptr, 0.0f);
        dispatch(effSetProgram, 0, program, nullptr, 0.0f);
        dispatch(effMainsChanged, 0, 1, nullptr, 0.0f);
        for (int b = 0; b < kBlocksPerProgram; ++b) {
            for (int i = 0; i < kBlock; ++i) {
                // Quiet noise with a loud click every 5000 frames, differing left and right.
                const bool click = (frame + i) % 5000 == 0;
                inL[size_t(i)] = click ? 0.9f : 0.05f * noise.Next();
                inR[size_t(i)] = click ? -0.7f : 0.05f * noise.Next();
            }
            gTime.samplePos = double(frame);
            gTime.ppqPos = double(frame) * 123.0 / (60.0 * kSampleRate);
            effect->processReplacing(effect, inputs, outputs, kBlock);
            frame += kBlock;
            for (int i = 0; i < kBlock; ++i) {
                const float pair[2] = {outL[size_t(i)], outR[size_t(i)]};
                std::fwrite(pair, sizeof pair, 1, out);
            }
        }
    }
    dispatch(effMainsChanged, 0, 0, nullptr, 0.0f);
    dispatch(effClose, 0, 0, nullptr, 0.0f);
    return std::fclose(out) == 0 ? 0 : 1;
}
