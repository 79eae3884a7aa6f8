// Tests of the X11 backend against a real X server (scripts/test starts a virtual one). A test
// makes top-level windows that stand for a host's, opens framework forms inside them through the
// backend, drives the pointer and keyboard through XTest and reads the screen back.
#pragma once

#include "framework/extctrls.h"
#include "framework/forms.h"
#include "framework/platform/headless/headless.h"
#include "framework/platform/x11/x11platform.h"
#include "framework/stdctrls.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Shared-memory segments this process created that still exist (attached or not yet removed).
inline int OwnShmSegments() {
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line); // header
    int n = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        long key, id, perms, size, cpid;
        if (fields >> key >> id >> perms >> size >> cpid && cpid == long(getpid())) ++n;
    }
    return n;
}

// Test programs run in parallel against one server, and the pointer and the screen are shared:
// each test holds this lock for its whole run.
class X11ServerLock {
  public:
    X11ServerLock() {
        std::string name = "/tmp/ql-x11-test";
        for (const char* c = getenv("DISPLAY"); c && *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        fFd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fFd >= 0) flock(fFd, LOCK_EX);
    }
    ~X11ServerLock() {
        if (fFd >= 0) close(fFd); // releases the lock
    }
    X11ServerLock(const X11ServerLock&) = delete;
    X11ServerLock& operator=(const X11ServerLock&) = delete;

  private:
    int fFd = -1;
};

class X11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int attempt = 0; attempt < 4 && !dpy; ++attempt) {
            if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            dpy = XOpenDisplay(nullptr); // a busy server can refuse one for a moment
        }
        if (!dpy) GTEST_SKIP() << "no X display reachable (scripts/test runs these under Xvfb)";
        root = DefaultRootWindow(dpy);
        MovePointer(1, 1);
    }
    void TearDown() override {
        if (!dpy) return;
        for (Window w : hosts)
            XDestroyWindow(dpy, w);
        XCloseDisplay(dpy);
    }

    // A mapped top-level window with a black background, standing for a host's editor frame.
    Window NewHost(TRect screen) {
        const Window w = XCreateSimpleWindow(dpy, root, screen.Left, screen.Top,
                                             unsigned(screen.Width()), unsigned(screen.Height()), 0,
                                             0, BlackPixel(dpy, DefaultScreen(dpy)));
        XMapRaised(dpy, w);
        XSync(dpy, False);
        hosts.push_back(w);
        return w;
    }

    // The window's pixels (with those of its children) as 0x00RRGGBB, rows top-down.
    std::vector<uint32_t> Grab(Window w, TRect r) {
        XSync(dpy, False);
        XImage* image = XGetImage(dpy, w, r.Left, r.Top, unsigned(r.Width()), unsigned(r.Height()),
                                  AllPlanes, ZPixmap);
        std::vector<uint32_t> out;
        if (!image) return out;
        for (int y = 0; y < r.Height(); ++y)
            for (int x = 0; x < r.Width(); ++x)
                out.push_back(uint32_t(XGetPixel(image, x, y)) & 0xFFFFFF);
        XDestroyImage(image);
        return out;
    }
    uint32_t PixelAt(Window w, int x, int y) { return Grab(w, Bounds(x, y, 1, 1)).at(0); }

    int ChildCount(Window w) {
        Window r, parent, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(dpy, w, &r, &parent, &children, &n)) return -1;
        if (children) XFree(children);
        return int(n);
    }

    TPoint Pointer() {
        Window r, child;
        int x, y, wx, wy;
        unsigned mask;
        XQueryPointer(dpy, root, &r, &child, &x, &y, &wx, &wy, &mask);
        return {x, y};
    }

    // Synthetic input through the server, as a user's would arrive.
    void MovePointer(int x, int y) {
        XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
        XSync(dpy, False);
    }
    void MovePointerBy(int dx, int dy) {
        XTestFakeRelativeMotionEvent(dpy, dx, dy, CurrentTime);
        XSync(dpy, False);
    }
    void Button(unsigned button, bool press) {
        XTestFakeButtonEvent(dpy, button, press, CurrentTime);
        XSync(dpy, False);
    }
    void Key(KeySym sym, bool press) {
        XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, sym), press, CurrentTime);
        XSync(dpy, False);
    }

    // Pumps the platforms (as a host's idle calls would) until done answers true or five seconds
    // pass; answers done's last answer.
    bool PumpUntil(std::vector<IPlatform*> platforms, const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            for (IPlatform* p : platforms)
                p->PumpEvents();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    bool PumpUntil(IPlatform& p, const std::function<bool()>& done) {
        return PumpUntil(std::vector<IPlatform*>{&p}, done);
    }
    // A few rounds, for when nothing should happen.
    void PumpFor(IPlatform& p, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            p.PumpEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    X11ServerLock lock;
    Display* dpy = nullptr;
    Window root = 0;
    std::vector<Window> hosts;
};

inline uint32_t Rgb(TColor c) {
    return ColorToOpaquePixel(c) & 0xFFFFFF;
}

// A form as an editor might be: a coloured background, a label and a windowed panel (a child
// window of its own) with a label on it.
struct Scene {
    static constexpr TRect kForm{10, 20, 210, 140};  // in the host window
    static constexpr TRect kPanel{110, 30, 190, 90}; // in the form

    Scene(IPlatform& platform, TNativeHandle parent, const std::string& caption = "Quill 42") {
        form = std::make_unique<TForm>(nullptr, parent, &platform);
        form->SetBoundsRect(kForm);
        form->SetColor(clNavy);
        label = new TLabel(form.get());
        label->SetParent(form.get());
        label->SetBounds(8, 8, 90, 20);
        label->SetAutoSize(false);
        label->SetColor(clWhite);
        label->SetCaption(caption);
        panel = new TPanel(form.get());
        panel->SetParent(form.get());
        panel->SetBoundsRect(kPanel);
        panel->SetColor(clRed);
        panelLabel = new TLabel(panel);
        panelLabel->SetParent(panel);
        panelLabel->SetBounds(4, 30, 60, 16);
        panelLabel->SetCaption("pan");
        form->Show();
    }

    std::unique_ptr<TForm> form;
    TLabel* label;
    TPanel* panel;
    TLabel* panelLabel;
};

// What the scene looks like in a host of the given size, from the headless platform.
inline std::vector<uint32_t> HeadlessPicture(TSize host, const std::string& caption) {
    THeadlessPlatform platform;
    TNativeHandle parent = platform.CreateHostWindow(Bounds(0, 0, host.Width, host.Height));
    std::vector<uint32_t> out;
    {
        Scene scene(platform, parent, caption);
        platform.PumpEvents();
        const THeadlessImage shot = platform.Screenshot(parent);
        for (uint32_t p : shot.Pixels)
            out.push_back(p & 0xFFFFFF);
    }
    return out;
}
