// What host-level editor tests need of an X server: a connection, windows standing for a host's
// editor frames, and the screen read back. Test programs run in parallel against one server
// (scripts/test starts a virtual one), so each test holds the server lock the X11 backend's tests
// use for its whole run.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace qltest {

class XServerLock {
  public:
    XServerLock() {
        std::string name = "/tmp/ql-x11-test";
        for (const char* c = std::getenv("DISPLAY"); c && *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0) flock(fd, LOCK_EX);
    }
    ~XServerLock() {
        if (fd >= 0) close(fd);
    }
    XServerLock(const XServerLock&) = delete;
    XServerLock& operator=(const XServerLock&) = delete;

  private:
    int fd = -1;
};

struct Rgb {
    int r, g, b;
    int luma() const { return (r * 299 + g * 587 + b * 114) / 1000; }
    bool dark() const { return r < 70 && g < 70 && b < 70; }
    bool lightGrey() const {
        const int hi = std::max(r, std::max(g, b)), lo = std::min(r, std::min(g, b));
        return lo > 140 && hi - lo < 30;
    }
    bool green() const { return g > r + 25 && g > b + 25; }
};

// A picture of part of a window (children included), rows top-down.
struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels.at(size_t(y) * size_t(width) + size_t(x)); }
    bool sameArea(const Picture& other, int x, int y, int w, int h) const {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) {
                const Rgb a = at(i, j), b = other.at(i, j);
                if (a.r != b.r || a.g != b.g || a.b != b.b) return false;
            }
        return true;
    }
};

inline Picture grab(Display* dpy, Window w, int width, int height) {
    XSync(dpy, False);
    Picture p;
    XImage* image = XGetImage(dpy, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!image) return p;
    p.width = width;
    p.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long v = XGetPixel(image, x, y);
            p.pixels.push_back({int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF)});
        }
    XDestroyImage(image);
    return p;
}

inline int childCount(Display* dpy, Window w) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return -1;
    if (children) XFree(children);
    return int(n);
}

} // namespace qltest
