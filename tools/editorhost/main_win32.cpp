// quillantrope-editor on Windows: a top-level window hosting the plug-in's editor, idled at 30 Hz
// from a timer with a playing host's time; prints the automation the editor sends. The same
// options as the X11 host.
#include "shell/vst2abi.h"
#include "../render/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

namespace {

using PluginEntry = AEffect*(QL_VSTCALL*)(audioMasterCallback);

const char kUsage[] =
    "usage: quillantrope-editor [options]\n"
    "  --plugin PATH        the plug-in to load (default: the one beside this tool)\n"
    "  --program N          select program N (0..39) before the editor opens\n"
    "  --tempo BPM          the tempo the host reports (default 120)\n"
    "  --screenshot FILE    write the editor's picture to FILE (PNG) and quit\n"
    "  --after-ms N         how long after opening to take the screenshot (default 500)\n"
    "  --quit-after-ms N    quit N milliseconds after opening\n"
    "  --help               show this text\n";

VstTimeInfo gTime{};

VstIntPtr QL_VSTCALL hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr,
                                  void* ptr, float opt) {
    switch (opcode) {
    case audioMasterAutomate:
        std::printf("audioMasterAutomate %d %.6f\n", index, double(opt));
        std::fflush(stdout);
        return 0;
    case audioMasterVersion: return 2400;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&gTime);
    case audioMasterGetVendorString:
        if (ptr) std::strcpy(static_cast<char*>(ptr), "Quillantrope");
        return 1;
    case audioMasterGetProductString:
        if (ptr) std::strcpy(static_cast<char*>(ptr), "quillantrope-editor");
        return 1;
    default: return 0;
    }
}

struct Options {
    std::string plugin;
    int program = -1;
    int tempo = 120;
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
        const bool hasValue = i + 1 < argc;
        auto bad = [&](const char* what) {
            std::fprintf(stderr, "quillantrope-editor: %s %s\n", arg.c_str(), what);
            return 2;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if (!hasValue) return bad("needs a value (or is unknown; see --help)");
        const char* v = argv[++i];
        if (arg == "--plugin") o.plugin = v;
        else if (arg == "--screenshot") o.screenshot = v;
        else if (arg == "--program") {
            if (!parseInt(v, 0, 39, o.program)) return bad("takes 0..39");
        } else if (arg == "--tempo") {
            if (!parseInt(v, 20, 999, o.tempo)) return bad("takes 20..999");
        } else if (arg == "--after-ms") {
            if (!parseInt(v, 0, 3600000, o.afterMs)) return bad("takes milliseconds");
        } else if (arg == "--quit-after-ms") {
            if (!parseInt(v, 0, 3600000, o.quitAfterMs)) return bad("takes milliseconds");
        } else {
            std::fprintf(stderr, "quillantrope-editor: unknown option %s (see --help)\n",
                         arg.c_str());
            return 2;
        }
    }
    return 0;
}

// The window's client area as the screen shows it, through a 32-bit top-down DIB.
bool screenshot(HWND hwnd, int width, int height, const std::string& path) {
    const HDC window = GetDC(hwnd);
    const HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
        std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
        const auto* px = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
            rgb[3 * i] = uint8_t(px[i] >> 16);
            rgb[3 * i + 1] = uint8_t(px[i] >> 8);
            rgb[3 * i + 2] = uint8_t(px[i]);
        }
        ok = ok && WritePng(path, width, height, rgb);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, window);
    return ok;
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return 1; // the editor covers the client area
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::string defaultPlugin() {
    const std::string dir = qlrender::executableDirectory();
    return dir.empty() ? std::string("Quillantrope.dll") : dir + "\\Quillantrope.dll";
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int parsed = parseOptions(argc, argv, options)) return parsed == 1 ? 0 : 2;
    if (options.plugin.empty()) options.plugin = defaultPlugin();

    qlrender::SharedLibrary library;
    std::string error;
    if (!library.open(options.plugin, error)) {
        std::fprintf(stderr, "quillantrope-editor: cannot load %s: %s\n", options.plugin.c_str(),
                     error.c_str());
        return 1;
    }
    auto entry = reinterpret_cast<PluginEntry>(library.symbol("VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<PluginEntry>(library.symbol("main"));
    AEffect* effect = entry ? entry(hostCallback) : nullptr;
    if (!effect || effect->magic != kEffectMagic) {
        std::fprintf(stderr, "quillantrope-editor: %s is not a VST 2 plug-in\n",
                     options.plugin.c_str());
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
        return 1;
    }

    ERect* rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    int width = rect && rect->right > rect->left ? rect->right - rect->left : 600;
    int height = rect && rect->bottom > rect->top ? rect->bottom - rect->top : 369;

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = L"QuillantropeEditorHost";
    RegisterClassExW(&wc);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    auto frameSize = [&](int w, int h) {
        RECT r{0, 0, w, h};
        AdjustWindowRectEx(&r, style, FALSE, 0);
        return SIZE{r.right - r.left, r.bottom - r.top};
    };
    SIZE size = frameSize(width, height);
    const HWND frame = CreateWindowExW(0, wc.lpszClassName, L"Quillantrope", style, 0, 0, size.cx,
                                       size.cy, nullptr, nullptr, instance, nullptr);
    if (!frame) {
        std::fprintf(stderr, "quillantrope-editor: cannot create a window\n");
        dispatch(effClose);
        return 1;
    }
    ShowWindow(frame, SW_SHOW);
    UpdateWindow(frame);

    if (dispatch(effEditOpen, 0, 0, frame) == 0) {
        std::fprintf(stderr, "quillantrope-editor: the plug-in could not open its editor\n");
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
        DestroyWindow(frame);
        return 3;
    }
    rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    if (rect && rect->right > rect->left && rect->bottom > rect->top &&
        (rect->right - rect->left != width || rect->bottom - rect->top != height)) {
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
        size = frameSize(width, height);
        SetWindowPos(frame, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    }
    std::printf("editor open %d x %d in window 0x%llx\n", width, height,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frame)));
    std::fflush(stdout);

    std::vector<float> left(kBlock), right(kBlock);
    float* channels[2] = {left.data(), right.data()};
    const ULONGLONG opened = GetTickCount64();
    int status = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 33, nullptr);
    for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
            // One block of silence per tick keeps the effect's timing as a playing host's.
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            effect->processReplacing(effect, channels, channels, kBlock);
            gTime.samplePos += kBlock;
            dispatch(effEditIdle);
            const ULONGLONG elapsed = GetTickCount64() - opened;
            if (!options.screenshot.empty() && elapsed >= ULONGLONG(options.afterMs)) {
                if (!screenshot(frame, width, height, options.screenshot)) {
                    std::fprintf(stderr, "quillantrope-editor: cannot write %s\n",
                                 options.screenshot.c_str());
                    status = 1;
                } else {
                    std::printf("screenshot %s %d x %d\n", options.screenshot.c_str(), width,
                                height);
                }
                break;
            }
            if (options.quitAfterMs >= 0 && elapsed >= ULONGLONG(options.quitAfterMs)) break;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    KillTimer(nullptr, timer);

    dispatch(effEditClose);
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
    DestroyWindow(frame);
    UnregisterClassW(wc.lpszClassName, instance);
    std::fflush(stdout);
    return status;
}
