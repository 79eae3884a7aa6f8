#include "framework/platform/x11/x11platform.h"

#include "framework/platform/native.h"
#include "framework/platform/x11/x11keys.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

// ---------------------------------------------------------------------------------------------
// Protocol errors. XSetErrorHandler is process-wide: our handler records the errors of our own
// connections and hands every other display's to the handler that was installed before it.

struct TErrorLog {
    uint64_t Count = 0;
    unsigned long LastSerial = 0;
};

struct TErrorRegistry {
    std::mutex Mutex; // guards Displays and the logs; the handler runs inside Xlib
    std::vector<std::pair<Display*, TErrorLog*>> Displays;
    std::mutex Life; // pairs a registration with installing, the last removal with restoring
};

TErrorRegistry& Errors() {
    static TErrorRegistry registry; // built on first use: nothing runs when the library loads
    return registry;
}

std::atomic<XErrorHandler> gPreviousHandler{nullptr};

int OnXError(Display* display, XErrorEvent* event) {
    {
        TErrorRegistry& r = Errors();
        std::lock_guard lock(r.Mutex);
        for (auto& [d, log] : r.Displays)
            if (d == display) {
                ++log->Count;
                log->LastSerial = event->serial;
                return 0;
            }
    }
    const XErrorHandler previous = gPreviousHandler.load();
    return previous && previous != OnXError ? previous(display, event) : 0;
}

// (Re)installs our handler. Whatever replaced it since becomes the one we chain to, so a host
// that sets a handler after us still never sees our connection's errors.
void InstallErrorHandler() {
    const XErrorHandler old = XSetErrorHandler(OnXError);
    if (old != OnXError) gPreviousHandler.store(old);
}

void RegisterDisplay(Display* d, TErrorLog* log) {
    TErrorRegistry& r = Errors();
    std::lock_guard life(r.Life);
    {
        std::lock_guard lock(r.Mutex);
        r.Displays.emplace_back(d, log);
    }
    InstallErrorHandler();
}

// The last of our connections puts the previous handler back, so no handler of ours remains once
// the library may be unloaded.
void UnregisterDisplay(Display* d) {
    TErrorRegistry& r = Errors();
    std::lock_guard life(r.Life);
    bool last;
    {
        std::lock_guard lock(r.Mutex);
        std::erase_if(r.Displays, [&](const auto& e) { return e.first == d; });
        last = r.Displays.empty();
    }
    if (!last) return;
    const XErrorHandler current = XSetErrorHandler(gPreviousHandler.load());
    if (current != OnXError) XSetErrorHandler(current); // replaced since: leave theirs
}

constexpr long kWindowEvents =
    ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask |
    LeaveWindowMask | KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask;
constexpr unsigned kGrabEvents =
    ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask | LeaveWindowMask;

TShiftState ShiftFromState(unsigned state) {
    TShiftState s = 0;
    if (state & ShiftMask) s |= ssShift;
    if (state & ControlMask) s |= ssCtrl;
    if (state & Mod1Mask) s |= ssAlt;
    if (state & Button1Mask) s |= ssLeft;
    if (state & Button2Mask) s |= ssMiddle;
    if (state & Button3Mask) s |= ssRight;
    return s;
}

// One colour channel of a visual: where its bits lie.
struct TChannel {
    int Shift = 0, Bits = 0;
    explicit TChannel(unsigned long mask = 0) {
        if (!mask) return;
        Shift = std::countr_zero(mask);
        Bits = std::popcount(mask);
    }
    unsigned long Put(uint32_t value8) const {
        return Bits >= 8 ? (unsigned long)value8 << (Shift + Bits - 8)
                         : (unsigned long)(value8 >> (8 - Bits)) << Shift;
    }
};

class TX11Window;

class TX11Platform final : public IPlatform {
  public:
    TX11Platform(Display* display, TX11Options options);
    ~TX11Platform() override;
    TX11Platform(const TX11Platform&) = delete;
    TX11Platform& operator=(const TX11Platform&) = delete;

    std::unique_ptr<IPlatformWindow> NewWindow(TNativeHandle parent, const TRect& bounds,
                                               bool visible, IWindowSink& sink) override;
    TPoint CursorPos() const override;
    void SetCursorPos(TPoint screen) override;
    void SetCursorVisible(bool visible) override;
    TTimerId StartTimer(uint32_t intervalMs, std::function<void()> tick) override;
    void StopTimer(TTimerId id) override;
    uint64_t TickCount() const override;
    void PumpEvents() override;
    int ConnectionFd() const override { return ConnectionNumber(fDisplay); }

  private:
    friend class TX11Window;
    struct Timer {
        uint32_t Interval;
        uint64_t Due;
        std::function<void()> Tick;
    };

    TX11Window* Find(Window id) const;
    bool ErrorSince(unsigned long serial) const;
    bool WindowExists(Window id);
    GC Gc();
    Cursor ShapeCursor(TCursor shape);
    Cursor InvisibleCursor();
    Cursor CursorFor(TCursor shape) {
        return fCursorHidden ? InvisibleCursor() : ShapeCursor(shape);
    }
    void Forget(TX11Window* w);
    void CopyPixels(const TPixelView& pixels, const TRect& r, XImage& image) const;

    void Dispatch(XEvent& e);
    void OnButton(const XButtonEvent& e, bool press);
    void OnMotion(const XMotionEvent& e);
    void OnCrossing(const XCrossingEvent& e, bool enter);
    void OnKey(XKeyEvent& e, bool press);
    void OnFocus(const XFocusChangeEvent& e, bool in);
    // The window a pointer event reaches and the point in its client coordinates.
    TX11Window* Route(TX11Window* w, int x, int y, int xRoot, int yRoot, TPoint& p) const;
    void UpdateHover(TX11Window* now);
    void FireTimers();
    void PaintPending();

    Display* fDisplay;
    TX11Options fOptions;
    int fScreen;
    Window fRoot;
    Visual* fVisual;
    int fDepth;
    Colormap fColormap;
    bool fDirect; // 32-bit pixels laid out as ours: rows are copied as they are
    TChannel fRed, fGreen, fBlue;
    bool fShm = false;
    TErrorLog fErrors;
    GC fGc = nullptr;
    std::map<TCursor, Cursor> fCursors;
    Cursor fInvisible = 0;
    bool fCursorHidden = false;

    std::vector<TX11Window*> fWindows;
    TX11Window* fCapture = nullptr;
    TPoint fCaptureOrigin; // the capturing window's client origin on the screen
    TX11Window* fHover = nullptr;
    TX11Window* fFocus = nullptr;
    unsigned long fFocusSerial = 0; // focus events older than our last focus request are stale
    bool fInPump = false;
    bool fDrew = false; // blits since the last sync

    std::map<TTimerId, Timer> fTimers;
    TTimerId fNextTimer = 1;
};

class TX11Window final : public IPlatformWindow {
  public:
    TX11Window(TX11Platform& platform, Window id, TX11Window* parent, const TRect& bounds,
               bool visible, IWindowSink& sink)
        : P(platform), Id(id), Parent(parent), Bounds(bounds), Visible(visible), Sink(&sink) {}
    ~TX11Window() override;

    TNativeHandle Handle() const override { return X11Handle(Id); }
    void SetBounds(const TRect& bounds) override;
    void SetVisible(bool visible) override;
    void Invalidate(const TRect& r) override {
        Invalid = UnionRect(Invalid, IntersectRect(r, Client()));
    }
    void Blit(const TPixelView& pixels, const TRect& r) override;
    void SetCapture() override;
    void ReleaseCapture() override;
    void SetCursorShape(TCursor shape) override;
    void SetFocus() override;
    bool Focused() const override { return P.fFocus == this; }
    TPoint ClientToScreen(TPoint p) const override;

    TRect Client() const { return {0, 0, Bounds.Width(), Bounds.Height()}; }
    bool Shown() const {
        for (const TX11Window* w = this; w; w = w->Parent)
            if (!w->Visible || w->Bounds.IsEmpty()) return false;
        return true;
    }
    void UpdateMapping();
    bool EnsureImage();
    void FreeImage();

    TX11Platform& P;
    const Window Id;
    TX11Window* Parent; // null for a child of a window that is not ours
    TRect Bounds;
    bool Visible;
    bool Mapped = false;
    bool Gone = false; // the server destroyed it (its parent went away)
    IWindowSink* Sink;
    TRect Invalid;
    TCursor Shape = crDefault;
    XImage* Image = nullptr;
    XShmSegmentInfo Shm{};
    bool ShmAttached = false;
    TRect Unsynced; // put through shared memory; the server may not have read it yet
};

// ---------------------------------------------------------------------------------------------
// TX11Platform

TX11Platform::TX11Platform(Display* display, TX11Options options)
    : fDisplay(display), fOptions(options), fScreen(DefaultScreen(display)),
      fRoot(RootWindow(display, fScreen)), fVisual(DefaultVisual(display, fScreen)),
      fDepth(DefaultDepth(display, fScreen)), fColormap(DefaultColormap(display, fScreen)),
      fRed(fVisual->red_mask), fGreen(fVisual->green_mask), fBlue(fVisual->blue_mask) {
    RegisterDisplay(fDisplay, &fErrors);
    int major, minor;
    Bool pixmaps;
    fShm = fOptions.SharedMemory && XShmQueryVersion(fDisplay, &major, &minor, &pixmaps);
    // Rows go over unchanged when the server reads 32-bit pixels blue first, as ours are stored.
    XImage* probe =
        XCreateImage(fDisplay, fVisual, unsigned(fDepth), ZPixmap, 0, nullptr, 1, 1, 32, 0);
    fDirect = probe && probe->bits_per_pixel == 32 && fVisual->red_mask == 0xFF0000 &&
              fVisual->green_mask == 0xFF00 && fVisual->blue_mask == 0xFF &&
              (probe->byte_order == LSBFirst) == (std::endian::native == std::endian::little);
    if (probe) XDestroyImage(probe);
}

TX11Platform::~TX11Platform() {
    InstallErrorHandler();
    for (const auto& [shape, cursor] : fCursors)
        XFreeCursor(fDisplay, cursor);
    if (fInvisible) XFreeCursor(fDisplay, fInvisible);
    if (fGc) XFreeGC(fDisplay, fGc);
    XSync(fDisplay, False);
    // Closing syncs again; errors it reads must still find us registered.
    XCloseDisplay(fDisplay);
    UnregisterDisplay(fDisplay);
}

TX11Window* TX11Platform::Find(Window id) const {
    if (id == 0) return nullptr;
    for (TX11Window* w : fWindows)
        if (w->Id == id) return w;
    return nullptr;
}

bool TX11Platform::ErrorSince(unsigned long serial) const {
    std::lock_guard lock(Errors().Mutex);
    return fErrors.Count > 0 && fErrors.LastSerial >= serial;
}

bool TX11Platform::WindowExists(Window id) {
    const unsigned long begin = NextRequest(fDisplay);
    XWindowAttributes attributes;
    const Status ok = XGetWindowAttributes(fDisplay, id, &attributes);
    return ok && !ErrorSince(begin);
}

GC TX11Platform::Gc() {
    if (!fGc) fGc = XCreateGC(fDisplay, fRoot, 0, nullptr);
    return fGc;
}

Cursor TX11Platform::ShapeCursor(TCursor shape) {
    unsigned glyph;
    switch (shape) {
    case crNone:
        return InvisibleCursor();
    case crCross:
        glyph = XC_crosshair;
        break;
    case crIBeam:
        glyph = XC_xterm;
        break;
    case crSizeNESW:
        glyph = XC_bottom_left_corner;
        break;
    case crSizeNS:
        glyph = XC_sb_v_double_arrow;
        break;
    case crSizeNWSE:
        glyph = XC_bottom_right_corner;
        break;
    case crSizeWE:
        glyph = XC_sb_h_double_arrow;
        break;
    case crUpArrow:
        glyph = XC_sb_up_arrow;
        break;
    case crHourGlass:
        glyph = XC_watch;
        break;
    case crNo:
        glyph = XC_X_cursor;
        break;
    case crHandPoint:
        glyph = XC_hand2;
        break;
    case crSizeAll:
        glyph = XC_fleur;
        break;
    default:
        shape = crArrow, glyph = XC_left_ptr;
        break; // crDefault and unknown shapes too
    }
    auto it = fCursors.find(shape);
    if (it != fCursors.end()) return it->second;
    const Cursor c = XCreateFontCursor(fDisplay, glyph);
    fCursors.emplace(shape, c);
    return c;
}

Cursor TX11Platform::InvisibleCursor() {
    if (fInvisible) return fInvisible;
    static const char kEmpty[1] = {0};
    const Pixmap blank = XCreateBitmapFromData(fDisplay, fRoot, kEmpty, 1, 1);
    XColor black{};
    fInvisible = XCreatePixmapCursor(fDisplay, blank, blank, &black, &black, 0, 0);
    XFreePixmap(fDisplay, blank);
    return fInvisible;
}

std::unique_ptr<IPlatformWindow> TX11Platform::NewWindow(TNativeHandle parent, const TRect& bounds,
                                                         bool visible, IWindowSink& sink) {
    InstallErrorHandler();
    const Window parentId = parent ? X11WindowId(parent) : fRoot;
    TX11Window* ours = Find(parentId);
    // A host's window may be gone or never have existed; asking first keeps the error ours.
    if (parent && !ours && !WindowExists(parentId)) return nullptr;
    if (ours && ours->Gone) return nullptr;

    XSetWindowAttributes a{};
    a.background_pixmap = None; // the framework paints everything; the server never clears
    a.border_pixel = 0;
    a.colormap = fColormap;
    a.event_mask = kWindowEvents;
    a.bit_gravity = NorthWestGravity;
    const unsigned long begin = NextRequest(fDisplay);
    // Our own visual and colormap, so a host window of another depth does not refuse the child.
    const Window id = XCreateWindow(
        fDisplay, parentId, bounds.Left, bounds.Top, unsigned(std::max(1, bounds.Width())),
        unsigned(std::max(1, bounds.Height())), 0, fDepth, InputOutput, fVisual,
        CWBackPixmap | CWBorderPixel | CWColormap | CWEventMask | CWBitGravity, &a);
    XSync(fDisplay, False);
    if (ErrorSince(begin)) {
        // The parent went away between the check and the creation.
        XDestroyWindow(fDisplay, id);
        XSync(fDisplay, False);
        return nullptr;
    }
    auto w = std::make_unique<TX11Window>(*this, id, ours, bounds, visible, sink);
    fWindows.push_back(w.get());
    w->Invalid = w->Client();
    w->UpdateMapping();
    XFlush(fDisplay);
    return w;
}

void TX11Platform::Forget(TX11Window* w) {
    std::erase(fWindows, w);
    for (TX11Window* c : fWindows)
        if (c->Parent == w) c->Parent = nullptr;
    if (fCapture == w) {
        fCapture = nullptr;
        XUngrabPointer(fDisplay, CurrentTime);
    }
    if (fHover == w) fHover = nullptr;
    if (fFocus == w) fFocus = nullptr;
}

TPoint TX11Platform::CursorPos() const {
    Window root, child;
    int x = 0, y = 0, wx, wy;
    unsigned mask;
    XQueryPointer(fDisplay, fRoot, &root, &child, &x, &y, &wx, &wy, &mask);
    return {x, y};
}

void TX11Platform::SetCursorPos(TPoint screen) {
    XWarpPointer(fDisplay, None, fRoot, 0, 0, 0, 0, screen.X, screen.Y);
    XFlush(fDisplay);
}

void TX11Platform::SetCursorVisible(bool visible) {
    if (fCursorHidden == !visible) return;
    fCursorHidden = !visible;
    for (TX11Window* w : fWindows)
        if (!w->Gone) XDefineCursor(fDisplay, w->Id, CursorFor(w->Shape));
    // A grab shows its own cursor wherever the pointer is.
    if (fCapture)
        XChangeActivePointerGrab(fDisplay, kGrabEvents, fCursorHidden ? InvisibleCursor() : None,
                                 CurrentTime);
    XFlush(fDisplay);
}

IPlatform::TTimerId TX11Platform::StartTimer(uint32_t intervalMs, std::function<void()> tick) {
    if (!tick) return 0;
    const uint32_t interval = std::max<uint32_t>(intervalMs, 1);
    TTimerId id = fNextTimer++;
    if (id == 0) id = fNextTimer++;
    fTimers[id] = Timer{interval, TickCount() + interval, std::move(tick)};
    return id;
}

void TX11Platform::StopTimer(TTimerId id) {
    fTimers.erase(id);
}

uint64_t TX11Platform::TickCount() const {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TX11Platform::PumpEvents() {
    InstallErrorHandler();
    fInPump = true;
    // Only what is queued now: a handler that warps the pointer must not keep us here.
    for (int n = XPending(fDisplay); n > 0 && XEventsQueued(fDisplay, QueuedAlready) > 0; --n) {
        XEvent e;
        XNextEvent(fDisplay, &e);
        Dispatch(e);
    }
    FireTimers();
    PaintPending();
    fInPump = false;
    if (fDrew) {
        // Reads what went wrong on the way and frees the shared images for the next round.
        XSync(fDisplay, False);
        for (TX11Window* w : fWindows)
            w->Unsynced = {};
        fDrew = false;
    } else {
        XFlush(fDisplay);
    }
}

// Each due timer ticks once per pump however late the pump is, as window-system timers coalesce.
void TX11Platform::FireTimers() {
    const uint64_t now = TickCount();
    std::vector<TTimerId> ids;
    for (const auto& [id, timer] : fTimers)
        if (timer.Due <= now) ids.push_back(id);
    for (TTimerId id : ids) {
        auto it = fTimers.find(id);
        if (it == fTimers.end() || it->second.Due > now) continue;
        Timer& t = it->second;
        t.Due += t.Interval;
        if (t.Due <= now) t.Due = now + t.Interval;
        auto tick = t.Tick; // the tick may stop or restart its own timer
        tick();
    }
}

void TX11Platform::PaintPending() {
    std::vector<Window> ids;
    for (const TX11Window* w : fWindows)
        ids.push_back(w->Id);
    for (Window id : ids) {
        TX11Window* w = Find(id);
        if (!w || w->Gone || w->Invalid.IsEmpty() || !w->Shown()) continue;
        const TRect r = w->Invalid;
        w->Invalid = {};
        w->Sink->PlatformPaint(r);
    }
}

void TX11Platform::Dispatch(XEvent& e) {
    switch (e.type) {
    case Expose:
        if (TX11Window* w = Find(e.xexpose.window))
            w->Invalidate(Bounds(e.xexpose.x, e.xexpose.y, e.xexpose.width, e.xexpose.height));
        break;
    case ButtonPress:
        OnButton(e.xbutton, true);
        break;
    case ButtonRelease:
        OnButton(e.xbutton, false);
        break;
    case MotionNotify:
        // Only the latest of a run of moves matters; drags read the cursor themselves.
        if (XEventsQueued(fDisplay, QueuedAlready) > 0) {
            XEvent next;
            XPeekEvent(fDisplay, &next);
            if (next.type == MotionNotify && next.xmotion.window == e.xmotion.window) break;
        }
        OnMotion(e.xmotion);
        break;
    case EnterNotify:
        OnCrossing(e.xcrossing, true);
        break;
    case LeaveNotify:
        OnCrossing(e.xcrossing, false);
        break;
    case KeyPress:
        OnKey(e.xkey, true);
        break;
    case KeyRelease:
        OnKey(e.xkey, false);
        break;
    case FocusIn:
        OnFocus(e.xfocus, true);
        break;
    case FocusOut:
        OnFocus(e.xfocus, false);
        break;
    case DestroyNotify:
        if (TX11Window* w = Find(e.xdestroywindow.window)) w->Gone = true;
        break;
    default:
        break;
    }
}

TX11Window* TX11Platform::Route(TX11Window* w, int x, int y, int xRoot, int yRoot,
                                TPoint& p) const {
    if (!fCapture || fCapture == w) {
        p = {x, y};
        return w;
    }
    // Our grab may have been refused (another client holds one): route by screen position.
    p = {xRoot - fCaptureOrigin.X, yRoot - fCaptureOrigin.Y};
    return fCapture;
}

void TX11Platform::UpdateHover(TX11Window* now) {
    if (now == fHover) return;
    TX11Window* old = fHover;
    fHover = now;
    if (old) old->Sink->PlatformMouseLeave();
}

void TX11Platform::OnButton(const XButtonEvent& e, bool press) {
    TX11Window* w = Find(e.window);
    if (!w) return;
    TMouseButton button;
    switch (e.button) {
    case Button1:
        button = mbLeft;
        break;
    case Button2:
        button = mbMiddle;
        break;
    case Button3:
        button = mbRight;
        break;
    default:
        return; // wheel steps and extra buttons mean nothing here
    }
    // The state is from before the event; the framework wants the buttons held after it.
    TShiftState shift = ShiftFromState(e.state);
    if (press)
        shift |= ShiftForButton(button);
    else
        shift &= TShiftState(~ShiftForButton(button));
    if (!fCapture) {
        UpdateHover(w);
        if (Find(e.window) != w) return; // the leave handler closed it
    }
    TPoint p;
    TX11Window* target = Route(w, e.x, e.y, e.x_root, e.y_root, p);
    if (press)
        target->Sink->PlatformMouseDown(button, shift, p);
    else
        target->Sink->PlatformMouseUp(button, shift, p);
    // A press grabs the pointer for its window by itself; without a capture asked for, give it
    // back so moves reach the window under the cursor.
    if (press && !fCapture) XUngrabPointer(fDisplay, e.time);
}

void TX11Platform::OnMotion(const XMotionEvent& e) {
    TX11Window* w = Find(e.window);
    if (!w) return;
    if (!fCapture) {
        UpdateHover(w);
        if (Find(e.window) != w) return;
    }
    TPoint p;
    TX11Window* target = Route(w, e.x, e.y, e.x_root, e.y_root, p);
    target->Sink->PlatformMouseMove(ShiftFromState(e.state), p);
}

// Hover follows the window the pointer is in itself (not passing through it to a child). A
// capture holds it: the window left meanwhile hears of it when the grab ends, from the crossing
// events the ungrab produces.
void TX11Platform::OnCrossing(const XCrossingEvent& e, bool enter) {
    if (fCapture || e.mode == NotifyGrab) return;
    if (e.detail == NotifyVirtual || e.detail == NotifyNonlinearVirtual) return;
    TX11Window* w = Find(e.window);
    if (!w) return;
    if (enter)
        UpdateHover(w);
    else if (fHover == w)
        UpdateHover(nullptr);
}

void TX11Platform::OnKey(XKeyEvent& e, bool press) {
    TX11Window* w = Find(e.window);
    if (!w) return;
    // Auto-repeat arrives as release and press at one time; the release is not a real one.
    if (!press && XEventsQueued(fDisplay, QueuedAlready) > 0) {
        XEvent next;
        XPeekEvent(fDisplay, &next);
        if (next.type == KeyPress && next.xkey.keycode == e.keycode && next.xkey.time == e.time)
            return;
    }
    TX11Window* target = fFocus ? fFocus : w;
    const Window targetId = target->Id;
    const TShiftState shift = TShiftState(ShiftFromState(e.state) & (ssShift | ssCtrl | ssAlt));
    const uint16_t key = X11KeySymToVirtualKey(XLookupKeysym(&e, 0));
    if (!press) {
        if (key) target->Sink->PlatformKeyUp(key, shift);
        return;
    }
    if (key) target->Sink->PlatformKeyDown(key, shift);
    if (shift & ssAlt) return;
    char text[8];
    KeySym typed = 0;
    XLookupString(&e, text, sizeof text, &typed, nullptr);
    char32_t ch = X11KeySymToChar(typed);
    if (shift & ssCtrl) ch = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ? (ch & 0x1F) : 0;
    if (ch && Find(targetId) == target) target->Sink->PlatformChar(ch);
}

// Focus is ours to move between our windows (SetFocus tells both at once); the server's focus
// events only say when it arrives from, or leaves for, a window that is not ours.
void TX11Platform::OnFocus(const XFocusChangeEvent& e, bool in) {
    if (e.serial < fFocusSerial || e.mode != NotifyNormal) return;
    if (e.detail == NotifyPointer || e.detail == NotifyVirtual ||
        e.detail == NotifyNonlinearVirtual || e.detail == NotifyInferior)
        return;
    TX11Window* w = Find(e.window);
    if (!w) return;
    if (in && fFocus != w) {
        TX11Window* old = fFocus;
        fFocus = w;
        const Window id = w->Id;
        if (old) old->Sink->PlatformFocusChanged(false);
        if (Find(id) == w && fFocus == w) w->Sink->PlatformFocusChanged(true);
    } else if (!in && fFocus == w) {
        fFocus = nullptr;
        w->Sink->PlatformFocusChanged(false);
    }
}

void TX11Platform::CopyPixels(const TPixelView& pixels, const TRect& r, XImage& image) const {
    if (fDirect) {
        for (int32_t y = r.Top; y < r.Bottom; ++y)
            std::memcpy(image.data + ptrdiff_t(y) * image.bytes_per_line + ptrdiff_t(r.Left) * 4,
                        pixels.Row(y) + r.Left, size_t(r.Width()) * 4);
        return;
    }
    // Another layout (a 16-bit screen, say): pixel by pixel through the visual's masks.
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint32_t* row = pixels.Row(y);
        for (int32_t x = r.Left; x < r.Right; ++x) {
            const uint32_t c = row[x];
            XPutPixel(&image, x, y,
                      fRed.Put(c >> 16 & 0xFF) | fGreen.Put(c >> 8 & 0xFF) | fBlue.Put(c & 0xFF));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TX11Window

TX11Window::~TX11Window() {
    TX11Platform& p = P;
    p.Forget(this);
    FreeImage();
    if (!Gone) XDestroyWindow(p.fDisplay, Id);
    // A host stops pumping a closed editor: the window must be gone when the close returns, not
    // at the next pump. Children go first, so the top window's round trip covers them.
    if (Parent)
        XFlush(p.fDisplay);
    else
        XSync(p.fDisplay, False);
}

void TX11Window::UpdateMapping() {
    const bool map = Visible && !Bounds.IsEmpty();
    if (map == Mapped || Gone) return;
    Mapped = map;
    if (map)
        XMapWindow(P.fDisplay, Id);
    else
        XUnmapWindow(P.fDisplay, Id);
}

void TX11Window::SetBounds(const TRect& bounds) {
    Bounds = bounds;
    if (!Gone)
        XMoveResizeWindow(P.fDisplay, Id, bounds.Left, bounds.Top,
                          unsigned(std::max(1, bounds.Width())),
                          unsigned(std::max(1, bounds.Height())));
    UpdateMapping();
    Invalid = UnionRect(Invalid, Client());
    if (!P.fInPump) XFlush(P.fDisplay);
}

void TX11Window::SetVisible(bool visible) {
    if (visible && !Visible) Invalid = Client();
    Visible = visible;
    UpdateMapping();
    if (!P.fInPump) XFlush(P.fDisplay);
}

bool TX11Window::EnsureImage() {
    const int w = Bounds.Width(), h = Bounds.Height();
    if (Image && Image->width == w && Image->height == h) return true;
    FreeImage();
    Display* d = P.fDisplay;
    if (P.fShm) {
        Image = XShmCreateImage(d, P.fVisual, unsigned(P.fDepth), ZPixmap, nullptr, &Shm,
                                unsigned(w), unsigned(h));
        if (Image) {
            Shm.shmid =
                shmget(IPC_PRIVATE, size_t(Image->bytes_per_line) * size_t(h), IPC_CREAT | 0600);
            void* at = Shm.shmid >= 0 ? shmat(Shm.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
            if (at != reinterpret_cast<void*>(-1)) {
                Shm.shmaddr = Image->data = static_cast<char*>(at);
                Shm.readOnly = False;
                const unsigned long begin = NextRequest(d);
                const Status ok = XShmAttach(d, &Shm);
                XSync(d, False);
                // Marked for removal now: it goes with the last detach, even if we crash.
                shmctl(Shm.shmid, IPC_RMID, nullptr);
                if (ok && !P.ErrorSince(begin)) {
                    ShmAttached = true;
                    return true;
                }
                shmdt(at);
            } else if (Shm.shmid >= 0) {
                shmctl(Shm.shmid, IPC_RMID, nullptr);
            }
            Image->data = nullptr;
            XDestroyImage(Image);
            Image = nullptr;
        }
        // The server cannot read our memory (a remote display): plain requests from now on.
        P.fShm = false;
    }
    Image = XCreateImage(d, P.fVisual, unsigned(P.fDepth), ZPixmap, 0, nullptr, unsigned(w),
                         unsigned(h), 32, 0);
    if (!Image) return false;
    Image->data = static_cast<char*>(std::malloc(size_t(Image->bytes_per_line) * size_t(h)));
    if (!Image->data) {
        XDestroyImage(Image);
        Image = nullptr;
        return false;
    }
    return true;
}

void TX11Window::FreeImage() {
    if (!Image) return;
    if (ShmAttached) {
        XShmDetach(P.fDisplay, &Shm);
        shmdt(Shm.shmaddr);
        Image->data = nullptr; // not ours to free: it was the segment
        ShmAttached = false;
    }
    XDestroyImage(Image); // frees a plain image's pixels with it
    Image = nullptr;
    Unsynced = {};
}

void TX11Window::Blit(const TPixelView& pixels, const TRect& r) {
    const TRect c = IntersectRect(IntersectRect(r, pixels.Rect()), Client());
    if (Gone || c.IsEmpty() || pixels.IsEmpty() || !EnsureImage()) return;
    Display* d = P.fDisplay;
    if (ShmAttached && Unsynced.Intersects(c)) {
        // The server may still be reading these pixels from the last put.
        XSync(d, False);
        Unsynced = {};
    }
    P.CopyPixels(pixels, c, *Image);
    if (ShmAttached) {
        XShmPutImage(d, Id, P.Gc(), Image, c.Left, c.Top, c.Left, c.Top, unsigned(c.Width()),
                     unsigned(c.Height()), False);
        Unsynced = UnionRect(Unsynced, c);
    } else {
        XPutImage(d, Id, P.Gc(), Image, c.Left, c.Top, c.Left, c.Top, unsigned(c.Width()),
                  unsigned(c.Height()));
    }
    P.fDrew = true;
    if (!P.fInPump) XFlush(d); // a repaint outside the pump shows now
}

void TX11Window::SetCapture() {
    P.fCapture = this;
    P.fCaptureOrigin = ClientToScreen({0, 0});
    if (Gone) return;
    XGrabPointer(P.fDisplay, Id, False, kGrabEvents, GrabModeAsync, GrabModeAsync, None,
                 P.fCursorHidden ? P.InvisibleCursor() : None, CurrentTime);
}

void TX11Window::ReleaseCapture() {
    if (P.fCapture != this) return;
    P.fCapture = nullptr;
    XUngrabPointer(P.fDisplay, CurrentTime);
    XFlush(P.fDisplay);
}

void TX11Window::SetCursorShape(TCursor shape) {
    Shape = shape;
    if (!Gone) XDefineCursor(P.fDisplay, Id, P.CursorFor(shape));
    if (!P.fInPump) XFlush(P.fDisplay);
}

void TX11Window::SetFocus() {
    TX11Platform& p = P;
    TX11Window* old = p.fFocus;
    if (old == this) return;
    p.fFocus = this;
    const Window id = Id;
    if (!Gone && Shown()) {
        p.fFocusSerial = NextRequest(p.fDisplay);
        XSetInputFocus(p.fDisplay, Id, RevertToParent, CurrentTime);
        if (!p.fInPump) XFlush(p.fDisplay);
    }
    if (old) old->Sink->PlatformFocusChanged(false);
    if (p.Find(id) == this && p.fFocus == this) Sink->PlatformFocusChanged(true);
}

TPoint TX11Window::ClientToScreen(TPoint p) const {
    if (Gone) return p;
    int x = p.X, y = p.Y;
    Window child;
    XTranslateCoordinates(P.fDisplay, Id, P.fRoot, p.X, p.Y, &x, &y, &child);
    return {x, y};
}

} // namespace

std::unique_ptr<IPlatform> NewX11Platform(const char* displayName, TX11Options options) {
    // No display named at all: nothing to wait for.
    if (!displayName || !*displayName) {
        const char* fromEnvironment = std::getenv("DISPLAY");
        if (!fromEnvironment || !*fromEnvironment) return nullptr;
    }
    // A busy server's listen queue can refuse a connection for a moment (EAGAIN): try again
    // briefly before reporting that there is no display.
    Display* display = nullptr;
    for (int attempt = 0; attempt < 4 && !display; ++attempt) {
        if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(10 << attempt));
        display = XOpenDisplay(displayName);
    }
    if (!display) return nullptr;
    return std::make_unique<TX11Platform>(display, options);
}

std::unique_ptr<IPlatform> NewNativePlatform() {
    return NewX11Platform();
}
