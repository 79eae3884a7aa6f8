// quillantrope-editor: a stand-alone window that hosts the plug-in's editor, the way a host does:
// the plug-in is loaded through its exported entry, the editor opened inside a top-level X window,
// idled about 30 times a second, and every automation it sends is printed.
#include "editorhost.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) {
    gStop = 1;
}

// Found as the render tool finds it: beside the tool, else where it is installed; the build's
// own path last.
std::string defaultPlugin() {
    for (const std::string& dir : qlrender::pluginSearchFolders(qlrender::PluginFormat::Vst2)) {
        const std::string candidate = dir + "/" QL_EDITOR_PLUGIN_FILE_NAME;
        if (FILE* f = std::fopen(candidate.c_str(), "rb")) {
            std::fclose(f);
            return candidate;
        }
    }
    return QL_EDITOR_DEFAULT_PLUGIN;
}

// The window's picture as rows of RGB bytes; empty when the server gives none.
std::vector<uint8_t> capture(Display* dpy, Window w, int width, int height) {
    XSync(dpy, False);
    XImage* image = XGetImage(dpy, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    std::vector<uint8_t> rgb;
    if (!image) return rgb;
    rgb.reserve(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            rgb.push_back(uint8_t((p & image->red_mask) >> __builtin_ctzl(image->red_mask)));
            rgb.push_back(uint8_t((p & image->green_mask) >> __builtin_ctzl(image->green_mask)));
            rgb.push_back(uint8_t((p & image->blue_mask) >> __builtin_ctzl(image->blue_mask)));
        }
    XDestroyImage(image);
    return rgb;
}

// The window system's connection and the host's frame window, closed in that order on exit.
struct Frame {
    Display* dpy = nullptr;
    Window window = 0;
    ~Frame() {
        if (window) XDestroyWindow(dpy, window);
        if (dpy) XCloseDisplay(dpy);
    }
};

} // namespace

int main(int argc, char** argv) {
    qleditorhost::Options options;
    if (const int parsed = qleditorhost::parseOptions(argc, argv, options))
        return parsed == 1 ? 0 : 2;

    Frame frame; // destroyed after the effect: the editor leaves the window before it goes
    frame.dpy = XOpenDisplay(nullptr);
    Display* dpy = frame.dpy;
    if (!dpy) {
        std::fprintf(stderr, "quillantrope-editor: cannot open the X display %s\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(DISPLAY is not set)");
        return 1;
    }
    qleditorhost::HostedEffect effect;
    if (!effect.load(options, defaultPlugin())) return 1;
    // The size comes before the open: open in a window of that size, then fit it to the editor.
    int width = 0, height = 0;
    effect.editorSize(width, height);

    const int screen = DefaultScreen(dpy);
    frame.window = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, unsigned(width),
                                       unsigned(height), 0, 0, BlackPixel(dpy, screen));
    XStoreName(dpy, frame.window, "Quillantrope");
    Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, frame.window, &deleteWindow, 1);
    XSelectInput(dpy, frame.window, StructureNotifyMask);
    XMapRaised(dpy, frame.window);
    for (XEvent e;;) { // the editor is placed in a window that is on screen
        XNextEvent(dpy, &e);
        if (e.type == MapNotify) break;
    }

    if (!effect.openEditor(reinterpret_cast<void*>(uintptr_t(frame.window)))) return 3;
    const int requestedWidth = width, requestedHeight = height;
    effect.editorSize(width, height);
    if (width != requestedWidth || height != requestedHeight)
        XResizeWindow(dpy, frame.window, unsigned(width), unsigned(height));
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = width;
    hints->min_height = hints->max_height = height;
    XSetWMNormalHints(dpy, frame.window, hints);
    XFree(hints);
    std::printf("editor open %d x %d in window 0x%lx\n", width, height, frame.window);
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    using Clock = std::chrono::steady_clock;
    const auto opened = Clock::now();
    const auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opened).count();
    };
    int status = 0;
    auto next = opened;
    while (!gStop) {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type == ClientMessage && Atom(e.xclient.data.l[0]) == deleteWindow) gStop = 1;
        }
        effect.idle();
        if (!options.screenshot.empty() && elapsedMs() >= options.afterMs) {
            if (!qleditorhost::saveScreenshot(options.screenshot, width, height,
                                              capture(dpy, frame.window, width, height)))
                status = 1;
            break;
        }
        if (options.quitAfterMs >= 0 && elapsedMs() >= options.quitAfterMs) break;
        next += std::chrono::milliseconds(qleditorhost::HostedEffect::kIdleMs);
        const auto now = Clock::now();
        if (next > now)
            std::this_thread::sleep_until(next);
        else
            next = now;
    }
    return status;
}
