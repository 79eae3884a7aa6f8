// An in-memory window system for tests and off-screen rendering. Windows are plain pixel surfaces
// that blits write into; input is injected at screen coordinates; timers run on a virtual clock
// that only AdvanceTime moves. Single-threaded like any UI thread.
#pragma once

#include "framework/platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// Pixels of a window or a composed screen, rows top-down.
struct THeadlessImage {
    int32_t Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;

    uint32_t At(int32_t x, int32_t y) const {
        return Pixels[size_t(y) * size_t(Width) + size_t(x)];
    }
    TPixelView View() { return {Pixels.data(), Width, Height, Width}; }
};

class THeadlessPlatform final : public IPlatform {
  public:
    THeadlessPlatform();
    ~THeadlessPlatform() override;
    THeadlessPlatform(const THeadlessPlatform&) = delete;
    THeadlessPlatform& operator=(const THeadlessPlatform&) = delete;

    // IPlatform
    std::unique_ptr<IPlatformWindow> NewWindow(TNativeHandle parent, const TRect& bounds,
                                               bool visible, IWindowSink& sink) override;
    TPoint CursorPos() const override { return fCursor; }
    void SetCursorPos(TPoint screen) override;
    void SetCursorVisible(bool visible) override { fCursorVisible = visible; }
    TTimerId StartTimer(uint32_t intervalMs, std::function<void()> tick) override;
    void StopTimer(TTimerId id) override;
    uint64_t TickCount() const override { return fNow; }
    void PumpEvents() override;

    // A window that stands for a host's: it has no sink, swallows input and shows black.
    TNativeHandle CreateHostWindow(const TRect& screenBounds);
    void DestroyHostWindow(TNativeHandle handle);

    // Input at screen coordinates; the cursor moves there first. Routed to the capturing window,
    // else to the topmost visible window under the point.
    void MouseMove(TPoint screen);
    void MouseDown(TPoint screen, TMouseButton button = mbLeft);
    void MouseUp(TPoint screen, TMouseButton button = mbLeft);
    void Click(TPoint screen, TMouseButton button = mbLeft);
    // Modifier keys (ssShift, ssAlt, ssCtrl) held for the following events.
    void SetModifiers(TShiftState keys) { fModifiers = keys & (ssShift | ssAlt | ssCtrl); }
    // Keys go to the focused window.
    void KeyDown(uint16_t key);
    void KeyUp(uint16_t key);
    void Char(char32_t ch);

    // Moves the virtual clock, firing each due timer tick at its own time, in time order.
    void AdvanceTime(uint64_t ms);
    // The most timers that may run at once; more are refused. Unlimited by default.
    void SetTimerLimit(size_t limit) { fTimerLimit = limit; }
    size_t TimerCount() const { return fTimers.size(); }
    // For a host that moves time only through its idle calls: each PumpEvents advances the
    // virtual clock by ms after the pump hooks and before the paints. 0 (the default) leaves the
    // clock to AdvanceTime.
    void SetPumpAdvance(uint64_t ms) { fPumpAdvance = ms; }
    // Off, blits are not logged: a platform nobody observes would keep a rectangle per blit for as
    // long as its window stays open. On by default.
    void SetLogBlits(bool on) { fLogBlits = on; }

    // Observation.
    bool CursorVisible() const { return fCursorVisible; }
    int SetCursorPosCount() const { return fSetCursorPosCount; }
    TNativeHandle CaptureWindow() const;
    TNativeHandle FocusWindow() const;
    bool IsWindow(TNativeHandle handle) const;
    TRect WindowBounds(TNativeHandle handle) const; // in the parent's coordinates
    bool WindowVisible(TNativeHandle handle) const;
    TCursor WindowCursor(TNativeHandle handle) const;
    TRect PendingInvalid(TNativeHandle handle) const;
    int PaintCount(TNativeHandle handle) const;
    // Every rectangle blitted to the window since the last ClearLog.
    const std::vector<TRect>& Blits(TNativeHandle handle) const;
    void ClearLog();
    // What was blitted to one window, without its children.
    const THeadlessImage& Surface(TNativeHandle handle) const;
    // The window with its visible child windows composed on top, as a screen would show it.
    THeadlessImage Screenshot(TNativeHandle handle) const;

  private:
    class Window;
    friend class Window;
    struct Timer {
        uint32_t Interval;
        uint64_t Due;
        std::function<void()> Tick;
    };

    Window* Find(TNativeHandle handle) const;
    Window& Get(TNativeHandle handle) const;
    Window* WindowAt(TPoint screen) const;
    Window* ChildAt(Window& w, TPoint screen) const;
    TPoint Origin(const Window& w) const;
    bool Shown(const Window& w) const;
    void Compose(const Window& w, THeadlessImage& out, TPoint at, const TRect& clip) const;
    void Unregister(Window* w);
    void Route(TPoint screen, const std::function<void(IWindowSink&, TPoint)>& deliver);
    void UpdateHover(Window* now);
    TShiftState Shift() const { return TShiftState(fModifiers | fButtons); }

    std::vector<Window*> fWindows; // creation order; top-level windows later in the list lie above
    std::vector<std::unique_ptr<IPlatformWindow>> fHostWindows;
    std::map<TTimerId, Timer> fTimers;
    TTimerId fNextTimer = 1;
    size_t fTimerLimit = SIZE_MAX;
    uint64_t fNow = 0;
    uint64_t fPumpAdvance = 0;
    bool fLogBlits = true;
    TPoint fCursor;
    bool fCursorVisible = true;
    int fSetCursorPosCount = 0;
    TShiftState fModifiers = 0, fButtons = 0;
    Window* fCapture = nullptr;
    Window* fHover = nullptr;
    Window* fFocus = nullptr;
};
