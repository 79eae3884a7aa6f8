// The narrow interface between the window framework and a window system. A backend (headless,
// X11, Win32) implements IPlatform and IPlatformWindow; the framework implements IWindowSink.
//
// Thread rules:
//  - Every call on IPlatform, IPlatformWindow and IWindowSink happens on the user-interface
//    thread: the thread that created the platform's first window and runs PumpEvents. Backends
//    deliver input, paints and timer ticks only from inside PumpEvents (or from the native message
//    dispatch of that same thread).
//  - Other threads never call a backend, nor the framework.
//  - A backend must cope with a window or timer being destroyed from inside one of its own
//    callbacks (a click handler may close the editor).
//
// What a backend owes the framework:
//  - Mouse: between SetCapture and ReleaseCapture every mouse event goes to the capturing window,
//    with coordinates outside its client area where the cursor is. Without capture, events go to
//    the topmost window under the cursor, and a window the cursor leaves gets PlatformMouseLeave
//    (after the capture ends if it was captured). No implicit capture on a press.
//  - Moving the cursor with SetCursorPos may or may not produce a move event; the framework's
//    users tolerate both.
//  - Keys: Win32 virtual-key numbers (types.h); Alt combinations arrive as PlatformKeyDown with
//    ssAlt. PlatformChar carries the typed character.
//  - Cursor shapes: crDefault and unknown shapes show the arrow; crNone hides the cursor over the
//    window.
//  - Painting: the framework paints from PlatformPaint and sometimes outside it (a synchronous
//    repaint); it never erases, so a backend must not clear the window itself.
#pragma once

#include "framework/platform/types.h"

#include <cstdint>
#include <functional>
#include <memory>

// A native window handle as the host hands it over: an HWND, an X11 Window id, or a headless
// window's address.
using TNativeHandle = void*;

// What a platform window reports. Coordinates are relative to the window's client area; during
// capture they may lie outside it.
class IWindowSink {
  public:
    // The area is already validated: an invalidation made while painting asks for another paint.
    virtual void PlatformPaint(const TRect& update) = 0;
    // shift holds the modifier keys and the buttons held after the event.
    virtual void PlatformMouseDown(TMouseButton button, TShiftState shift, TPoint p) = 0;
    virtual void PlatformMouseMove(TShiftState shift, TPoint p) = 0;
    virtual void PlatformMouseUp(TMouseButton button, TShiftState shift, TPoint p) = 0;
    // The cursor left the window (sent after capture ends if it lies outside by then).
    virtual void PlatformMouseLeave() = 0;
    virtual void PlatformKeyDown(uint16_t key, TShiftState shift) = 0;
    virtual void PlatformKeyUp(uint16_t key, TShiftState shift) = 0;
    virtual void PlatformChar(char32_t ch) = 0;
    virtual void PlatformFocusChanged(bool focused) = 0;

  protected:
    ~IWindowSink() = default;
};

// One native window. Destroying the object destroys the window; a backend destroys a parent's
// child windows' native parts with it, but the framework always destroys children first.
class IPlatformWindow {
  public:
    virtual ~IPlatformWindow() = default;
    virtual TNativeHandle Handle() const = 0;
    // Position and size in the parent's client coordinates.
    virtual void SetBounds(const TRect& bounds) = 0;
    virtual void SetVisible(bool visible) = 0;
    // Schedules a PlatformPaint covering r (client coordinates).
    virtual void Invalidate(const TRect& r) = 0;
    // Copies the rectangle r of pixels to the same place of the window. r lies inside both the
    // pixel view and the client area (the framework clips it). Called from PlatformPaint, and
    // outside it for a synchronous repaint.
    virtual void Blit(const TPixelView& pixels, const TRect& r) = 0;
    virtual void SetCapture() = 0;
    virtual void ReleaseCapture() = 0;
    virtual void SetCursorShape(TCursor shape) = 0;
    virtual void SetFocus() = 0;
    virtual bool Focused() const = 0;
    virtual TPoint ClientToScreen(TPoint p) const = 0;
};

class IPlatform {
  public:
    using TTimerId = uint32_t; // 0 never names a timer

    virtual ~IPlatform() = default;

    // A child of parent (a native handle from the host or another window of this platform), or a
    // top-level window when parent is null. The sink must outlive the window.
    virtual std::unique_ptr<IPlatformWindow> NewWindow(TNativeHandle parent, const TRect& bounds,
                                                       bool visible, IWindowSink& sink) = 0;

    // The screen cursor, for drags that pin it in place.
    virtual TPoint CursorPos() const = 0;
    virtual void SetCursorPos(TPoint screen) = 0;
    virtual void SetCursorVisible(bool visible) = 0;

    // A periodic timer; tick runs on the UI thread every intervalMs (at least 1). Answers 0 when
    // the system refuses one.
    virtual TTimerId StartTimer(uint32_t intervalMs, std::function<void()> tick) = 0;
    virtual void StopTimer(TTimerId id) = 0;
    // Milliseconds of a monotonic clock (for double-click timing).
    virtual uint64_t TickCount() const = 0;

    // One round of the UI pump: delivers what is pending (input, paints, due timers). Hosts
    // drive it from their idle call.
    virtual void PumpEvents() = 0;

    // The file descriptor of the window-system connection, for hosts that wait on it before
    // pumping (a VST3 host's run loop); -1 where there is none.
    virtual int ConnectionFd() const { return -1; }
};
