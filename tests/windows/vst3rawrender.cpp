// ql_vst3_rawrender BUNDLE_MODULE OUTPUT: ql_rawrender's render through the VST3 build: every
// factory program over the same integer-made input at 123 BPM, as raw little-endian floats. Its
// bytes must equal ql_rawrender's of the VST 2 build, on Linux and on Windows alike.
#include "vst3host.h"

#include <cstdio>
#include <memory>

using namespace vst3host;

namespace {

constexpr double kSampleRate = 44100.0;
constexpr int kBlock = 256;
constexpr int kBlocksPerProgram = 48;

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
        std::fprintf(stderr, "usage: ql_vst3_rawrender MODULE OUTPUT\n");
        return 2;
    }
    Module module(argv[1]);
    if (!module.factory) {
        std::fprintf(stderr, "ql_vst3_rawrender: cannot load %s\n", argv[1]);
        return 1;
    }
    v3_class_info info{};
    v3_cpp_obj(module.factory)->get_class_info(module.factory, 0, &info);
    auto inst = std::make_unique<Instance>(module.factory, info.class_id);
    if (!inst->valid() || !inst->setup(kSampleRate, kBlock)) {
        std::fprintf(stderr, "ql_vst3_rawrender: no effect\n");
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fprintf(stderr, "ql_vst3_rawrender: cannot write %s\n", argv[2]);
        return 1;
    }
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    TNoise noise;
    int64_t frame = 0;
    v3_process_context ctx{};
    ctx.state = V3_PROCESS_CTX_PLAYING | V3_PROCESS_CTX_TEMPO_VALID;
    ctx.sample_rate = kSampleRate;
    ctx.bpm = 123.0;
    for (int program = 0; program < 40; ++program) {
        inst->comp()->set_active(inst->component, 0);
        inst->ctrl()->set_parameter_normalised(inst->controller, 1000, program / 39.0);
        inst->comp()->set_active(inst->component, 1);
        for (int b = 0; b < kBlocksPerProgram; ++b) {
            for (int i = 0; i < kBlock; ++i) {
                const bool click = (frame + i) % 5000 == 0;
                inL[size_t(i)] = click ? 0.9f : 0.05f * noise.Next();
                inR[size_t(i)] = click ? -0.7f : 0.05f * noise.Next();
            }
            ctx.project_time_in_samples = frame;
            inst->process(inputs, outputs, kBlock, &ctx);
            frame += kBlock;
            for (int i = 0; i < kBlock; ++i) {
                const float pair[2] = {outL[size_t(i)], outR[size_t(i)]};
                std::fwrite(pair, sizeof pair, 1, out);
            }
        }
    }
    inst.reset();
    return std::fclose(out) == 0 ? 0 : 1;
}
