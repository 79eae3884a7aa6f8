#include "framework/platform/headless/headless.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

class THeadlessPlatform::Window final : public IPlatformWindow {
  public:
    Window(THeadlessPlatform& platform, Window* parent, const TRect& bounds, bool visible,
           IWindowSink* sink)
        : Platform(platform), Parent(parent), Visible(visible), Sink(sink) {
        SetBounds(bounds);
    }
    ~Window() override { Platform.Unregister(this); }

    TNativeHandle Handle() const override { return const_cast<Window*>(this); }

    void SetBounds(const TRect& bounds) override {
        THeadlessImage old = std::move(Surface);
        Bounds = bounds;
        Surface.Width = std::max(0, bounds.Width());
        Surface.Height = std::max(0, bounds.Height());
        Surface.Pixels.assign(size_t(Surface.Width) * size_t(Surface.Height), 0);
        const int32_t w = std::min(old.Width, Surface.Width);
        for (int32_t y = 0; y < std::min(old.Height, Surface.Height); ++y)
            std::copy_n(&old.Pixels[size_t(y) * size_t(old.Width)], w,
                        &Surface.Pixels[size_t(y) * size_t(Surface.Width)]);
        Invalid = UnionRect(Invalid, Client());
    }

    void SetVisible(bool visible) override {
        if (visible && !Visible) Invalid = Client();
        Visible = visible;
    }

    void Invalidate(const TRect& r) override {
        Invalid = UnionRect(Invalid, IntersectRect(r, Client()));
    }

    void Blit(const TPixelView& pixels, const TRect& r) override {
        const TRect c = IntersectRect(IntersectRect(r, pixels.Rect()), Client());
        if (c.IsEmpty() || pixels.IsEmpty()) return;
        for (int32_t y = c.Top; y < c.Bottom; ++y)
            std::copy_n(pixels.Row(y) + c.Left, c.Width(),
                        &Surface.Pixels[size_t(y) * size_t(Surface.Width) + size_t(c.Left)]);
        if (Platform.fLogBlits) BlitLog.push_back(c);
    }

    void SetCapture() override { Platform.fCapture = this; }
    void ReleaseCapture() override {
        if (Platform.fCapture == this) Platform.fCapture = nullptr;
    }
    void SetCursorShape(TCursor shape) override { Cursor = shape; }

    void SetFocus() override {
        Window* old = Platform.fFocus;
        if (old == this) return;
        Platform.fFocus = this;
        if (old && old->Sink) old->Sink->PlatformFocusChanged(false);
        if (Platform.IsWindow(this) && Platform.fFocus == this && Sink)
            Sink->PlatformFocusChanged(true);
    }
    bool Focused() const override { return Platform.fFocus == this; }

    TPoint ClientToScreen(TPoint p) const override {
        const TPoint o = Platform.Origin(*this);
        return {o.X + p.X, o.Y + p.Y};
    }

    TRect Client() const { return {0, 0, Surface.Width, Surface.Height}; }

    THeadlessPlatform& Platform;
    Window* Parent;
    bool Detached = false; // its parent went away first
    TRect Bounds;
    bool Visible;
    IWindowSink* Sink;
    THeadlessImage Surface;
    TRect Invalid;
    int PaintCount = 0;
    std::vector<TRect> BlitLog;
    TCursor Cursor = crDefault;
};

THeadlessPlatform::THeadlessPlatform() = default;

// Windows unregister themselves, so the platform must outlive every window it made.
THeadlessPlatform::~THeadlessPlatform() {
    fHostWindows.clear();
}

std::unique_ptr<IPlatformWindow> THeadlessPlatform::NewWindow(TNativeHandle parent,
                                                              const TRect& bounds, bool visible,
                                                              IWindowSink& sink) {
    // A handle this platform does not know (a real host's) makes a top-level window.
    auto w = std::make_unique<Window>(*this, Find(parent), bounds, visible, &sink);
    fWindows.push_back(w.get());
    return w;
}

TNativeHandle THeadlessPlatform::CreateHostWindow(const TRect& screenBounds) {
    auto w = std::make_unique<Window>(*this, nullptr, screenBounds, true, nullptr);
    fWindows.push_back(w.get());
    TNativeHandle h = w->Handle();
    fHostWindows.push_back(std::move(w));
    return h;
}

void THeadlessPlatform::DestroyHostWindow(TNativeHandle handle) {
    std::erase_if(fHostWindows, [&](const auto& w) { return w->Handle() == handle; });
}

void THeadlessPlatform::Unregister(Window* w) {
    std::erase(fWindows, w);
    for (Window* c : fWindows)
        if (c->Parent == w) {
            c->Parent = nullptr;
            c->Detached = true;
        }
    if (fCapture == w) fCapture = nullptr;
    if (fHover == w) fHover = nullptr;
    if (fFocus == w) fFocus = nullptr;
}

THeadlessPlatform::Window* THeadlessPlatform::Find(TNativeHandle handle) const {
    auto it = std::find(fWindows.begin(), fWindows.end(), static_cast<Window*>(handle));
    return it == fWindows.end() ? nullptr : *it;
}

THeadlessPlatform::Window& THeadlessPlatform::Get(TNativeHandle handle) const {
    Window* w = Find(handle);
    if (!w) throw std::invalid_argument("not a headless window");
    return *w;
}

bool THeadlessPlatform::IsWindow(TNativeHandle handle) const {
    return Find(handle) != nullptr;
}

TPoint THeadlessPlatform::Origin(const Window& w) const {
    TPoint o{w.Bounds.Left, w.Bounds.Top};
    for (const Window* p = w.Parent; p; p = p->Parent) {
        o.X += p->Bounds.Left;
        o.Y += p->Bounds.Top;
    }
    return o;
}

bool THeadlessPlatform::Shown(const Window& w) const {
    for (const Window* p = &w; p; p = p->Parent)
        if (!p->Visible || p->Detached) return false;
    return true;
}

THeadlessPlatform::Window* THeadlessPlatform::ChildAt(Window& w, TPoint screen) const {
    const TPoint o = Origin(w);
    const TPoint local{screen.X - o.X, screen.Y - o.Y};
    for (auto it = fWindows.rbegin(); it != fWindows.rend(); ++it)
        if ((*it)->Parent == &w && (*it)->Visible && (*it)->Bounds.Contains(local))
            return ChildAt(**it, screen);
    return &w;
}

THeadlessPlatform::Window* THeadlessPlatform::WindowAt(TPoint screen) const {
    for (auto it = fWindows.rbegin(); it != fWindows.rend(); ++it) {
        Window* w = *it;
        if (!w->Parent && !w->Detached && w->Visible && w->Bounds.Contains(screen))
            return ChildAt(*w, screen);
    }
    return nullptr;
}

void THeadlessPlatform::UpdateHover(Window* now) {
    if (now == fHover) return;
    Window* old = fHover;
    fHover = now;
    if (old && old->Sink) old->Sink->PlatformMouseLeave();
}

void THeadlessPlatform::Route(TPoint screen,
                              const std::function<void(IWindowSink&, TPoint)>& deliver) {
    fCursor = screen;
    Window* target = fCapture ? fCapture : WindowAt(screen);
    if (!fCapture) {
        UpdateHover(target);
        if (target && !IsWindow(target)) return; // the leave handler destroyed it
    }
    if (!target || !target->Sink) return;
    const TPoint o = Origin(*target);
    deliver(*target->Sink, {screen.X - o.X, screen.Y - o.Y});
}

void THeadlessPlatform::MouseMove(TPoint screen) {
    Route(screen, [&](IWindowSink& s, TPoint p) { s.PlatformMouseMove(Shift(), p); });
}

void THeadlessPlatform::MouseDown(TPoint screen, TMouseButton button) {
    fButtons |= ShiftForButton(button);
    Route(screen, [&](IWindowSink& s, TPoint p) { s.PlatformMouseDown(button, Shift(), p); });
}

void THeadlessPlatform::MouseUp(TPoint screen, TMouseButton button) {
    fButtons &= TShiftState(~ShiftForButton(button));
    Route(screen, [&](IWindowSink& s, TPoint p) { s.PlatformMouseUp(button, Shift(), p); });
    // Once capture is over, a window the cursor has left hears about it.
    if (!fCapture) UpdateHover(WindowAt(screen));
}

void THeadlessPlatform::Click(TPoint screen, TMouseButton button) {
    MouseDown(screen, button);
    MouseUp(screen, button);
}

void THeadlessPlatform::SetCursorPos(TPoint screen) {
    fCursor = screen;
    ++fSetCursorPosCount;
}

void THeadlessPlatform::KeyDown(uint16_t key) {
    if (fFocus && fFocus->Sink) fFocus->Sink->PlatformKeyDown(key, fModifiers);
}

void THeadlessPlatform::KeyUp(uint16_t key) {
    if (fFocus && fFocus->Sink) fFocus->Sink->PlatformKeyUp(key, fModifiers);
}

void THeadlessPlatform::Char(char32_t ch) {
    if (fFocus && fFocus->Sink) fFocus->Sink->PlatformChar(ch);
}

IPlatform::TTimerId THeadlessPlatform::StartTimer(uint32_t intervalMs, std::function<void()> tick) {
    if (fTimers.size() >= fTimerLimit || !tick) return 0;
    const uint32_t interval = std::max<uint32_t>(intervalMs, 1);
    const TTimerId id = fNextTimer++;
    fTimers.emplace(id, Timer{interval, fNow + interval, std::move(tick)});
    return id;
}

void THeadlessPlatform::StopTimer(TTimerId id) {
    fTimers.erase(id);
}

void THeadlessPlatform::AdvanceTime(uint64_t ms) {
    const uint64_t target = fNow + ms;
    for (;;) {
        auto next = fTimers.end();
        for (auto it = fTimers.begin(); it != fTimers.end(); ++it)
            if (it->second.Due <= target &&
                (next == fTimers.end() || it->second.Due < next->second.Due))
                next = it;
        if (next == fTimers.end()) break;
        fNow = next->second.Due;
        next->second.Due += next->second.Interval;
        auto tick = next->second.Tick; // the tick may stop or restart its own timer
        tick();
    }
    fNow = target;
}

void THeadlessPlatform::PumpEvents() {
    if (fPumpAdvance) AdvanceTime(fPumpAdvance);
    const std::vector<Window*> windows = fWindows;
    for (Window* w : windows) {
        if (!IsWindow(w) || !w->Sink || !Shown(*w) || w->Invalid.IsEmpty()) continue;
        const TRect r = w->Invalid;
        w->Invalid = {};
        ++w->PaintCount;
        w->Sink->PlatformPaint(r);
    }
}

TNativeHandle THeadlessPlatform::CaptureWindow() const {
    return fCapture;
}
TNativeHandle THeadlessPlatform::FocusWindow() const {
    return fFocus;
}
TRect THeadlessPlatform::WindowBounds(TNativeHandle handle) const {
    return Get(handle).Bounds;
}
bool THeadlessPlatform::WindowVisible(TNativeHandle handle) const {
    return Get(handle).Visible;
}
TCursor THeadlessPlatform::WindowCursor(TNativeHandle handle) const {
    return Get(handle).Cursor;
}
TRect THeadlessPlatform::PendingInvalid(TNativeHandle handle) const {
    return Get(handle).Invalid;
}
int THeadlessPlatform::PaintCount(TNativeHandle handle) const {
    return Get(handle).PaintCount;
}
const std::vector<TRect>& THeadlessPlatform::Blits(TNativeHandle handle) const {
    return Get(handle).BlitLog;
}
const THeadlessImage& THeadlessPlatform::Surface(TNativeHandle handle) const {
    return Get(handle).Surface;
}

void THeadlessPlatform::ClearLog() {
    for (Window* w : fWindows) {
        w->BlitLog.clear();
        w->PaintCount = 0;
    }
}

void THeadlessPlatform::Compose(const Window& w, THeadlessImage& out, TPoint at,
                                const TRect& clip) const {
    const TRect area = IntersectRect(clip, Bounds(at.X, at.Y, w.Surface.Width, w.Surface.Height));
    for (int32_t y = area.Top; y < area.Bottom; ++y)
        std::copy_n(&w.Surface.Pixels[size_t(y - at.Y) * size_t(w.Surface.Width) +
                                      size_t(area.Left - at.X)],
                    area.Width(), &out.Pixels[size_t(y) * size_t(out.Width) + size_t(area.Left)]);
    if (area.IsEmpty()) return;
    for (const Window* c : fWindows)
        if (c->Parent == &w && c->Visible)
            Compose(*c, out, {at.X + c->Bounds.Left, at.Y + c->Bounds.Top}, area);
}

THeadlessImage THeadlessPlatform::Screenshot(TNativeHandle handle) const {
    const Window& w = Get(handle);
    THeadlessImage out;
    out.Width = w.Surface.Width;
    out.Height = w.Surface.Height;
    out.Pixels.assign(out.Pixels.size() + size_t(out.Width) * size_t(out.Height), 0);
    Compose(w, out, {0, 0}, out.View().Rect());
    return out;
}
