#include "editorhost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

namespace qleditorhost {

namespace {

constexpr const char* kUsage =
    "usage: quillantrope-editor [options]\n"
    "Opens the plug-in's editor in a window of its own and prints every parameter change the\n"
    "editor sends to its host (audioMasterAutomate INDEX VALUE).\n"
    "\n"
    "  --plugin PATH        the plug-in to load (default: the one beside this tool, else the\n"
    "                       one installed in ~/.vst, /usr/local/lib/vst or /usr/lib/vst on Linux)\n"
    "  --program N          select program N (0..39) before the editor opens\n"
    "  --tempo BPM          the tempo the host reports (default 120)\n"
    "  --screenshot FILE    write the editor's picture to FILE (PNG) and quit\n"
    "  --after-ms N         how long after opening to take the screenshot (default 500)\n"
    "  --quit-after-ms N    quit N milliseconds after opening\n"
    "  --help               show this text\n";

constexpr double kRate = 44100.0;

VstTimeInfo gTime{};

VstIntPtr QL_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr,
                                  float opt) {
    switch (opcode) {
    case audioMasterAutomate:
        std::printf("audioMasterAutomate %d %.6f\n", index, double(opt));
        std::fflush(stdout);
        return 0;
    case audioMasterVersion:
        return 2400;
    case audioMasterGetTime:
        return reinterpret_cast<VstIntPtr>(&gTime);
    case audioMasterGetVendorString:
        if (ptr) std::strcpy(static_cast<char*>(ptr), "Quillantrope");
        return 1;
    case audioMasterGetProductString:
        if (ptr) std::strcpy(static_cast<char*>(ptr), "quillantrope-editor");
        return 1;
    default:
        return 0;
    }
}

bool parseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    out = int(v);
    return true;
}

} // namespace

int parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillantrope-editor: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 1;
        } else if (arg == "--plugin") {
            const char* v = value("--plugin");
            if (!v) return 2;
            o.plugin = v;
        } else if (arg == "--program") {
            const char* v = value("--program");
            if (!v) return 2;
            if (!parseInt(v, 0, 39, o.program)) {
                std::fprintf(stderr, "quillantrope-editor: --program takes 0..39, not %s\n", v);
                return 2;
            }
        } else if (arg == "--tempo") {
            const char* v = value("--tempo");
            if (!v) return 2;
            char* end = nullptr;
            o.tempo = std::strtod(v, &end);
            if (!*v || *end || !(o.tempo >= 20.0 && o.tempo <= 999.0)) {
                std::fprintf(stderr, "quillantrope-editor: --tempo takes 20..999, not %s\n", v);
                return 2;
            }
        } else if (arg == "--screenshot") {
            const char* v = value("--screenshot");
            if (!v) return 2;
            o.screenshot = v;
        } else if (arg == "--after-ms" || arg == "--quit-after-ms") {
            const char* v = value(arg.c_str());
            if (!v) return 2;
            int& target = arg == "--after-ms" ? o.afterMs : o.quitAfterMs;
            if (!parseInt(v, 0, 3600000, target)) {
                std::fprintf(stderr, "quillantrope-editor: %s takes milliseconds, not %s\n",
                             arg.c_str(), v);
                return 2;
            }
        } else {
            std::fprintf(stderr, "quillantrope-editor: unknown option %s (see --help)\n",
                         arg.c_str());
            return 2;
        }
    }
    return 0;
}

HostedEffect::~HostedEffect() {
    if (!effect) return;
    if (editorOpen) dispatch(effEditClose);
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
    std::fflush(stdout);
}

VstIntPtr HostedEffect::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                 float opt) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

bool HostedEffect::load(const Options& options, const std::string& defaultPlugin) {
    const std::string path = options.plugin.empty() ? defaultPlugin : options.plugin;
    std::string error;
    if (!library.open(path, error)) {
        std::fprintf(stderr, "quillantrope-editor: cannot load %s: %s\n", path.c_str(),
                     error.c_str());
        return false;
    }
    using PluginEntry = AEffect*(QL_VSTCALL*)(audioMasterCallback);
    auto entry = reinterpret_cast<PluginEntry>(library.symbol("VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<PluginEntry>(library.symbol("main"));
    AEffect* made = entry ? entry(hostCallback) : nullptr;
    if (!made || made->magic != kEffectMagic) {
        std::fprintf(stderr, "quillantrope-editor: %s is not a VST 2 plug-in\n", path.c_str());
        return false;
    }
    effect = made;
    gTime.sampleRate = kRate;
    gTime.tempo = options.tempo;
    gTime.timeSigNumerator = 4;
    gTime.timeSigDenominator = 4;
    gTime.flags = kVstTempoValid | kVstTransportPlaying;

    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, float(kRate));
    dispatch(effSetBlockSize, 0, kBlock);
    if (options.program >= 0) dispatch(effSetProgram, 0, options.program);
    dispatch(effMainsChanged, 0, 1);
    if (!(effect->flags & effFlagsHasEditor)) {
        std::fprintf(stderr, "quillantrope-editor: the plug-in has no editor\n");
        return false;
    }
    return true;
}

void HostedEffect::editorSize(int& width, int& height) {
    // Before the first open the plug-in may not know it yet (0 x 0).
    ERect* rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    width = rect && rect->right > rect->left ? rect->right - rect->left : 600;
    height = rect && rect->bottom > rect->top ? rect->bottom - rect->top : 369;
}

bool HostedEffect::openEditor(void* parent) {
    if (dispatch(effEditOpen, 0, 0, parent) == 0) {
        std::fprintf(stderr, "quillantrope-editor: the plug-in could not open its editor\n");
        return false;
    }
    editorOpen = true;
    return true;
}

void HostedEffect::idle() {
    std::fill(left.begin(), left.end(), 0.0f);
    std::fill(right.begin(), right.end(), 0.0f);
    float* channels[2] = {left.data(), right.data()};
    effect->processReplacing(effect, channels, channels, kBlock);
    gTime.samplePos += kBlock;
    dispatch(effEditIdle);
}

bool saveScreenshot(const std::string& path, int width, int height,
                    const std::vector<uint8_t>& rgb) {
    if (rgb.size() != size_t(width) * size_t(height) * 3 || !WritePng(path, width, height, rgb)) {
        std::fprintf(stderr, "quillantrope-editor: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("screenshot %s %d x %d\n", path.c_str(), width, height);
    return true;
}

} // namespace qleditorhost
