// ql_rawrender PLUGIN OUTPUT: loads the plug-in like a host, runs every factory program over a
// fixed input at a fixed tempo, and writes the output samples as raw little-endian floats. The
// Linux and the Windows builds must write the same bytes: the test command compares the files.
// A PLUGIN ending in .clap is hosted as a CLAP host does (where built with the CLAP headers): its
// bytes must be the VST 2 build's.
//
// The input is made from integers only (a linear congruential generator and impulses), so both
// sides start from the same bits whatever their maths libraries do.
#include "shell/vst2abi.h"

#ifdef QL_RAWRENDER_CLAP
#include "formats/clap/claphost.h"
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
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

// One plug-in format's way through the programs and the blocks.
class Player {
  public:
    virtual ~Player() = default;
    virtual int programs() = 0;
    // Stops the audio, loads the program, starts it again (the delay lines cleared).
    virtual void startProgram(int program) = 0;
    virtual void process(float** inputs, float** outputs, int frames, int64_t frame) = 0;
};

class Vst2Player final : public Player {
  public:
    explicit Vst2Player(AEffect* e) : effect(e) {
        gTime.sampleRate = kSampleRate;
        gTime.tempo = 123.0;
        gTime.timeSigNumerator = 4;
        gTime.timeSigDenominator = 4;
        gTime.flags = kVstTransportPlaying | kVstTempoValid | kVstPpqPosValid | kVstTimeSigValid;
        dispatch(effOpen, 0);
        dispatch(effSetSampleRate, 0, 0, float(kSampleRate));
        dispatch(effSetBlockSize, 0, kBlock);
    }
    ~Vst2Player() override {
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose, 0);
    }
    int programs() override { return effect->numPrograms; }
    void startProgram(int program) override {
        dispatch(effMainsChanged, 0, 0);
        dispatch(effSetProgram, 0, program);
        dispatch(effMainsChanged, 0, 1);
    }
    void process(float** inputs, float** outputs, int frames, int64_t frame) override {
        gTime.samplePos = double(frame);
        gTime.ppqPos = double(frame) * 123.0 / (60.0 * kSampleRate);
        effect->processReplacing(effect, inputs, outputs, frames);
    }

  private:
    VstIntPtr dispatch(VstInt32 op, VstInt32 index, VstIntPtr value = 0, float opt = 0.0f) {
        return effect->dispatcher(effect, op, index, value, nullptr, opt);
    }
    AEffect* effect;
};

#ifdef QL_RAWRENDER_CLAP
class ClapPlayer final : public Player {
  public:
    explicit ClapPlayer(const clap_plugin_factory_t* factory)
        : plugin(factory, &host.host), program(plugin.idOf("Program")) {}
    ~ClapPlayer() override { stop(); }
    bool ready() const { return plugin.ready() && program != CLAP_INVALID_ID; }
    int programs() override {
        clap_param_info_t info{};
        for (uint32_t i = 0; i < plugin.params->count(plugin.p); ++i)
            if (plugin.params->get_info(plugin.p, i, &info) && info.id == program)
                return int(info.max_value) + 1;
        return 0;
    }
    void startProgram(int p) override {
        stop();
        clhost::InputEvents select;
        select.value(program, p);
        plugin.flush(select);
        active = plugin.p->activate(plugin.p, kSampleRate, 1, kBlock) &&
                 plugin.p->start_processing(plugin.p);
    }
    void process(float** inputs, float** outputs, int frames, int64_t) override {
        clhost::InputEvents none;
        clhost::OutputEvents sent;
        clhost::Block b(inputs[0], inputs[1], outputs[0], outputs[1], uint32_t(frames), none, sent);
        b.withTransport(123.0);
        plugin.p->process(plugin.p, &b.process);
    }

  private:
    void stop() {
        if (!active) return;
        plugin.p->stop_processing(plugin.p);
        plugin.p->deactivate(plugin.p);
        active = false;
    }
    clhost::Host host;
    clhost::Plugin plugin;
    clap_id program;
    bool active = false;
};
#endif

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::unique_ptr<Player> load(const char* path) {
#ifdef QL_RAWRENDER_CLAP
    if (endsWith(path, ".clap")) {
        std::string error;
        const clap_plugin_entry_t* entry = clhost::loadEntry(path, error);
        if (!entry || !entry->init(path)) return nullptr;
        auto player = std::make_unique<ClapPlayer>(
            static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID)));
        if (!player->ready()) return nullptr;
        return player;
    }
#endif
    const PluginEntry entry = LoadEntry(path);
    AEffect* effect = entry ? entry(HostCallback) : nullptr;
    if (!effect || effect->magic != kEffectMagic || !effect->processReplacing) return nullptr;
    return std::make_unique<Vst2Player>(effect);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ql_rawrender PLUGIN OUTPUT\n");
        return 2;
    }
    const std::unique_ptr<Player> player = load(argv[1]);
    if (!player) {
        std::fprintf(stderr, "ql_rawrender: cannot load %s as a plug-in\n", argv[1]);
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fprintf(stderr, "ql_rawrender: cannot write %s\n", argv[2]);
        return 1;
    }
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    TNoise noise;
    int64_t frame = 0;
    for (int program = 0; program < player->programs(); ++program) {
        player->startProgram(program);
        for (int b = 0; b < kBlocksPerProgram; ++b) {
            for (int i = 0; i < kBlock; ++i) {
                // Quiet noise with a loud click every 5000 frames, differing left and right.
                const bool click = (frame + i) % 5000 == 0;
                inL[size_t(i)] = click ? 0.9f : 0.05f * noise.Next();
                inR[size_t(i)] = click ? -0.7f : 0.05f * noise.Next();
            }
            player->process(inputs, outputs, kBlock, frame);
            frame += kBlock;
            for (int i = 0; i < kBlock; ++i) {
                const float pair[2] = {outL[size_t(i)], outR[size_t(i)]};
                std::fwrite(pair, sizeof pair, 1, out);
            }
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
