// quillantrope-editor: a stand-alone window that hosts the plug-in's editor, the way a host does:
// the plug-in is loaded through its exported entry, the editor opened inside a top-level X window,
// idled about 30 times a second, and every automation it sends is printed.
#include "../render/platform.h"
#include "shell/vst2abi.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

namespace {

constexpr const char* kUsage =
    "usage: quillantrope-editor [options]\n"
    "Opens the plug-in's editor in a window of its own and prints every parameter change the\n"
    "editor sends to its host (audioMasterAutomate INDEX VALUE).\n"
    "\n"
    "  --plugin PATH        the plug-in to load (default: the one beside this tool)\n"
    "  --program N          select program N (0..39) before the editor opens\n"
    "  --tempo BPM          the tempo the host reports (default 120)\n"
    "  --screenshot FILE    write the editor's picture to FILE (PNG) and quit\n"
    "  --after-ms N         how long after opening to take the screenshot (default 500)\n"
    "  --quit-after-ms N    quit N milliseconds after opening\n"
    "  --help               show this text\n";

using PluginEntry = AEffect*(QL_VSTCALL*)(audioMasterCallback);

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

VstTimeInfo gTime{};

VstIntPtr QL_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr,
                                  void* ptr, float opt) {
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

struct Options {
    std::string plugin;
    int program = -1;
    double tempo = 120.0;
    std::string screenshot;
    int afterMs = 500;
    int quitAfterMs = -1;
};

bool parseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    out = int(v);
    return true;
}

// 0: run; 1: --help shown; 2: bad arguments (message printed).
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

std::string defaultPlugin() {
    const std::string dir = qlrender::executableDirectory();
    if (!dir.empty()) {
        const std::string beside = dir + "/" QL_EDITOR_PLUGIN_FILE_NAME;
        if (FILE* f = std::fopen(beside.c_str(), "rb")) {
            std::fclose(f);
            return beside;
        }
    }
    return QL_EDITOR_DEFAULT_PLUGIN;
}

bool screenshot(Display* dpy, Window w, int width, int height, const std::string& path) {
    XSync(dpy, False);
    XImage* image = XGetImage(dpy, w, 0, 0, unsigned(width), unsigned(height), AllPlanes,
                              ZPixmap);
    if (!image) return false;
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            rgb.push_back(uint8_t((p & image->red_mask) >> __builtin_ctzl(image->red_mask)));
            rgb.push_back(uint8_t((p & image->green_mask) >> __builtin_ctzl(image->green_mask)));
            rgb.push_back(uint8_t((p & image->blue_mask) >> __builtin_ctzl(image->blue_mask)));
        }
    XDestroyImage(image);
    return WritePng(path, width, height, rgb);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int parsed = parseOptions(argc, argv, options)) return parsed == 1 ? 0 : 2;
    if (options.plugin.empty()) options.plugin = defaultPlugin();

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "quillantrope-editor: cannot open the X display %s\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(DISPLAY is not set)");
        return 1;
    }

    qlrender::SharedLibrary library;
    std::string error;
    if (!library.open(options.plugin, error)) {
        std::fprintf(stderr, "quillantrope-editor: cannot load %s: %s\n", options.plugin.c_str(),
                     error.c_str());
        XCloseDisplay(dpy);
        return 1;
    }
    auto entry = reinterpret_cast<PluginEntry>(library.symbol("VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<PluginEntry>(library.symbol("main"));
    AEffect* effect = entry ? entry(hostCallback) : nullptr;
    if (!effect || effect->magic != kEffectMagic) {
        std::fprintf(stderr, "quillantrope-editor: %s is not a VST 2 plug-in\n",
                     options.plugin.c_str());
        XCloseDisplay(dpy);
        return 1;
    }
    auto dispatch = [effect](VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                             void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    };

    constexpr double kRate = 44100.0;
    constexpr int kBlock = 1470; // one idle period's worth at 30 Hz
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
        dispatch(effClose);
        XCloseDisplay(dpy);
        return 1;
    }
    // The size comes before the open (0 x 0 until the window has existed): open in a window of
    // some size, then fit it to the editor.
    ERect* rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    int width = rect && rect->right > rect->left ? rect->right - rect->left : 600;
    int height = rect && rect->bottom > rect->top ? rect->bottom - rect->top : 369;

    const int screen = DefaultScreen(dpy);
    const Window frame = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, unsigned(width),
                                             unsigned(height), 0, 0, BlackPixel(dpy, screen));
    XStoreName(dpy, frame, "Quillantrope");
    Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, frame, &deleteWindow, 1);
    XSelectInput(dpy, frame, StructureNotifyMask);
    XMapRaised(dpy, frame);
    for (XEvent e;;) { // the editor is placed in a window that is on screen
        XNextEvent(dpy, &e);
        if (e.type == MapNotify) break;
    }

    if (dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t(frame))) == 0) {
        std::fprintf(stderr, "quillantrope-editor: the plug-in could not open its editor\n");
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
        XDestroyWindow(dpy, frame);
        XCloseDisplay(dpy);
        return 3;
    }
    rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    if (rect && rect->right > rect->left && rect->bottom > rect->top &&
        (rect->right - rect->left != width || rect->bottom - rect->top != height)) {
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
        XResizeWindow(dpy, frame, unsigned(width), unsigned(height));
    }
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = width;
    hints->min_height = hints->max_height = height;
    XSetWMNormalHints(dpy, frame, hints);
    XFree(hints);
    std::printf("editor open %d x %d in window 0x%lx\n", width, height, frame);
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    std::vector<float> left(kBlock), right(kBlock);
    float* channels[2] = {left.data(), right.data()};
    using Clock = std::chrono::steady_clock;
    const auto opened = Clock::now();
    const auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opened)
            .count();
    };
    int status = 0;
    auto next = opened;
    while (!gStop) {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type == ClientMessage && Atom(e.xclient.data.l[0]) == deleteWindow) gStop = 1;
        }
        // One block of silence per tick keeps the effect's timing (and so the editor's tempo
        // display) as a playing host's would be.
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        effect->processReplacing(effect, channels, channels, kBlock);
        gTime.samplePos += kBlock;
        dispatch(effEditIdle);

        if (!options.screenshot.empty() && elapsedMs() >= options.afterMs) {
            if (!screenshot(dpy, frame, width, height, options.screenshot)) {
                std::fprintf(stderr, "quillantrope-editor: cannot write %s\n",
                             options.screenshot.c_str());
                status = 1;
            } else {
                std::printf("screenshot %s %d x %d\n", options.screenshot.c_str(), width, height);
            }
            break;
        }
        if (options.quitAfterMs >= 0 && elapsedMs() >= options.quitAfterMs) break;
        next += std::chrono::milliseconds(33);
        const auto now = Clock::now();
        if (next > now)
            std::this_thread::sleep_until(next);
        else
            next = now;
    }

    dispatch(effEditClose);
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
    XDestroyWindow(dpy, frame);
    XCloseDisplay(dpy);
    std::fflush(stdout);
    return status;
}
