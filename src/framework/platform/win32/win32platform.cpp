#include "framework/platform/win32/win32platform.h"

#include "framework/platform/native.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// ---------------------------------------------------------------------------------------------
// The window class. Its name carries this module's load address, so another copy of the plug-in
// (another path, another instance of the DLL) registers a class of its own.

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WindowProc), &module);
    return module;
}

struct TClassRegistry {
    std::mutex Mutex; // platforms of different threads (hosts with several UI threads)
    int Users = 0;
    ATOM Atom = 0;
    wchar_t Name[64] = {};
};

TClassRegistry& Registry() {
    static TClassRegistry registry; // built on first use: nothing runs when the library loads
    return registry;
}

bool AcquireClass() {
    TClassRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    if (r.Users == 0) {
        const HINSTANCE module = ThisModule();
        std::swprintf(r.Name, std::size(r.Name), L"QuillantropeWindow_%p",
                      static_cast<void*>(module));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = 0; // no CS_DBLCLKS: the framework times double clicks
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = module;
        wc.hCursor = nullptr;       // WM_SETCURSOR sets the shape
        wc.hbrBackground = nullptr; // the framework paints everything
        wc.lpszClassName = r.Name;
        r.Atom = RegisterClassExW(&wc);
        if (!r.Atom) return false;
    }
    ++r.Users;
    return true;
}

void ReleaseClass() {
    TClassRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    if (--r.Users > 0) return;
    UnregisterClassW(r.Name, ThisModule());
    r.Atom = 0;
}

const wchar_t* ClassName() {
    return Registry().Name;
}

// What a window of our class stands for: a platform window, or a platform's timer window.
class TReceiver {
  public:
    virtual LRESULT Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;

  protected:
    ~TReceiver() = default;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* receiver = reinterpret_cast<TReceiver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!receiver) return DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    // No exception may unwind through the system's dispatch into the host.
    try {
        return receiver->Handle(hwnd, msg, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

TShiftState KeyShift() {
    TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (GetKeyState(VK_LBUTTON) < 0) s |= ssLeft;
    if (GetKeyState(VK_RBUTTON) < 0) s |= ssRight;
    if (GetKeyState(VK_MBUTTON) < 0) s |= ssMiddle;
    return s;
}

// The buttons from a mouse message's flags (the state after the event), the keys as they are.
TShiftState MouseShift(WPARAM flags) {
    TShiftState s = 0;
    if (flags & MK_SHIFT) s |= ssShift;
    if (flags & MK_CONTROL) s |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (flags & MK_LBUTTON) s |= ssLeft;
    if (flags & MK_RBUTTON) s |= ssRight;
    if (flags & MK_MBUTTON) s |= ssMiddle;
    return s;
}

// Client coordinates are signed: under capture the cursor may be left of or above the window.
TPoint MousePoint(LPARAM lParam) {
    return {int32_t(int16_t(LOWORD(lParam))), int32_t(int16_t(HIWORD(lParam)))};
}

// The system cursors' resource numbers (the IDC_ names), independent of UNICODE.
WORD SystemCursor(TCursor shape) {
    switch (shape) {
    case crCross:
        return 32515;
    case crIBeam:
        return 32513;
    case crSizeNESW:
        return 32643;
    case crSizeNS:
        return 32645;
    case crSizeNWSE:
        return 32642;
    case crSizeWE:
        return 32644;
    case crUpArrow:
        return 32516;
    case crHourGlass:
        return 32514;
    case crNo:
        return 32648;
    case crHandPoint:
        return 32649;
    case crSizeAll:
        return 32646;
    default:
        return 32512; // the arrow: crDefault and unknown shapes too
    }
}

class TWin32Window;

class TWin32Platform final : public IPlatform, private TReceiver {
  public:
    TWin32Platform() = default;
    ~TWin32Platform() override;
    TWin32Platform(const TWin32Platform&) = delete;
    TWin32Platform& operator=(const TWin32Platform&) = delete;
    bool Init();

    std::unique_ptr<IPlatformWindow> NewWindow(TNativeHandle parent, const TRect& bounds,
                                               bool visible, IWindowSink& sink) override;
    TPoint CursorPos() const override;
    void SetCursorPos(TPoint screen) override;
    void SetCursorVisible(bool visible) override;
    TTimerId StartTimer(uint32_t intervalMs, std::function<void()> tick) override;
    void StopTimer(TTimerId id) override;
    uint64_t TickCount() const override { return GetTickCount64(); }
    void PumpEvents() override;

  private:
    friend class TWin32Window;
    LRESULT Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void Forget(TWin32Window* w) { std::erase(fWindows, w); }
    bool Ours(HWND hwnd) const;
    void Drain(HWND hwnd);

    bool fClass = false;
    HWND fTimerWindow = nullptr; // message-only: receives our WM_TIMERs
    bool fCursorHidden = false;
    std::vector<TWin32Window*> fWindows;
    std::map<TTimerId, std::function<void()>> fTimers;
    TTimerId fNextTimer = 1;
};

class TWin32Window final : public IPlatformWindow, private TReceiver {
  public:
    TWin32Window(TWin32Platform& platform, IWindowSink& sink) : P(platform), Sink(&sink) {}
    ~TWin32Window() override;
    bool Create(HWND parent, const TRect& bounds, bool visible);

    TNativeHandle Handle() const override { return Hwnd; }
    void SetBounds(const TRect& bounds) override;
    void SetVisible(bool visible) override;
    void Invalidate(const TRect& r) override;
    void Blit(const TPixelView& pixels, const TRect& r) override;
    void SetCapture() override;
    void ReleaseCapture() override;
    void SetCursorShape(TCursor shape) override;
    void SetFocus() override;
    bool Focused() const override { return Hwnd && GetFocus() == Hwnd; }
    TPoint ClientToScreen(TPoint p) const override;

    LRESULT Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void ApplyCursor() const;
    bool CursorInside() const;
    void TrackLeave();
    void EndCapture();

    TWin32Platform& P;
    IWindowSink* Sink;
    HWND Hwnd = nullptr; // null once the system destroyed it (its parent went away)
    HDC PaintDc = nullptr;
    TCursor Shape = crDefault;
    bool Tracking = false; // a WM_MOUSELEAVE is asked for
    bool Captured = false;
    bool LeaveAfterCapture = false;
};

// ---------------------------------------------------------------------------------------------
// TWin32Platform

bool TWin32Platform::Init() {
    fClass = AcquireClass();
    if (!fClass) return false;
    fTimerWindow = CreateWindowExW(0, ClassName(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ThisModule(), static_cast<TReceiver*>(this));
    return fTimerWindow != nullptr;
}

TWin32Platform::~TWin32Platform() {
    if (fTimerWindow) {
        for (const auto& [id, tick] : fTimers)
            KillTimer(fTimerWindow, id);
        DestroyWindow(fTimerWindow);
    }
    if (fCursorHidden) ShowCursor(TRUE);
    // The framework destroys windows first; a window left over still must not outlive the class.
    for (TWin32Window* w : std::vector(fWindows))
        if (w->Hwnd) {
            SetWindowLongPtrW(w->Hwnd, GWLP_USERDATA, 0);
            DestroyWindow(w->Hwnd);
            w->Hwnd = nullptr;
        }
    if (fClass) ReleaseClass();
}

bool TWin32Platform::Ours(HWND hwnd) const {
    return std::any_of(fWindows.begin(), fWindows.end(),
                       [&](const TWin32Window* w) { return w->Hwnd == hwnd; });
}

std::unique_ptr<IPlatformWindow> TWin32Platform::NewWindow(TNativeHandle parent,
                                                           const TRect& bounds, bool visible,
                                                           IWindowSink& sink) {
    const HWND parentHwnd = static_cast<HWND>(parent);
    if (parentHwnd && !IsWindow(parentHwnd)) return nullptr;
    auto w = std::make_unique<TWin32Window>(*this, sink);
    if (!w->Create(parentHwnd, bounds, visible)) return nullptr;
    fWindows.push_back(w.get());
    return w;
}

TPoint TWin32Platform::CursorPos() const {
    POINT p{};
    GetCursorPos(&p);
    return {int32_t(p.x), int32_t(p.y)};
}

void TWin32Platform::SetCursorPos(TPoint screen) {
    ::SetCursorPos(screen.X, screen.Y);
}

// ShowCursor keeps a counter: we move it by at most one, and put it back when we go.
void TWin32Platform::SetCursorVisible(bool visible) {
    if (fCursorHidden == !visible) return;
    fCursorHidden = !visible;
    ShowCursor(visible ? TRUE : FALSE);
}

IPlatform::TTimerId TWin32Platform::StartTimer(uint32_t intervalMs, std::function<void()> tick) {
    if (!tick) return 0;
    TTimerId id = fNextTimer++;
    if (id == 0) id = fNextTimer++;
    if (!SetTimer(fTimerWindow, id, std::max<uint32_t>(intervalMs, USER_TIMER_MINIMUM), nullptr))
        return 0;
    fTimers[id] = std::move(tick);
    return id;
}

void TWin32Platform::StopTimer(TTimerId id) {
    if (fTimers.erase(id)) KillTimer(fTimerWindow, id);
}

// Only our own windows' messages: the host's loop keeps its own (and WM_QUIT).
void TWin32Platform::Drain(HWND hwnd) {
    MSG msg;
    for (int n = 0; n < 256 && PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE); ++n) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void TWin32Platform::PumpEvents() {
    std::vector<HWND> windows{fTimerWindow};
    for (const TWin32Window* w : fWindows)
        if (w->Hwnd) windows.push_back(w->Hwnd);
    for (HWND hwnd : windows) {
        // A handler may have closed a window (or all of them) meanwhile.
        if (hwnd != fTimerWindow && !Ours(hwnd)) continue;
        Drain(hwnd);
    }
    // Paints still pending are delivered now, as on the other backends, whatever the host's loop
    // does with WM_PAINT.
    for (HWND hwnd : windows)
        if (hwnd != fTimerWindow && Ours(hwnd)) UpdateWindow(hwnd);
}

LRESULT TWin32Platform::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER) {
        auto it = fTimers.find(TTimerId(wParam));
        if (it == fTimers.end()) return 0;
        auto tick = it->second; // the tick may stop or restart its own timer
        tick();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// TWin32Window

bool TWin32Window::Create(HWND parent, const TRect& bounds, bool visible) {
    const DWORD style = (parent ? WS_CHILD : WS_POPUP) | WS_CLIPCHILDREN | WS_CLIPSIBLINGS |
                        (visible ? WS_VISIBLE : 0);
    Hwnd = CreateWindowExW(0, ClassName(), L"", style, bounds.Left, bounds.Top,
                           std::max(1, bounds.Width()), std::max(1, bounds.Height()), parent,
                           nullptr, ThisModule(), static_cast<TReceiver*>(this));
    if (!Hwnd) return false;
    // The system puts a new child below its siblings; the framework stacks later children on top
    // (as X11 does), so a later sibling must cover an earlier one it overlaps.
    if (parent) SetWindowPos(Hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return true;
}

TWin32Window::~TWin32Window() {
    P.Forget(this);
    if (!Hwnd) return;
    if (Captured && GetCapture() == Hwnd) {
        Captured = false;
        ::ReleaseCapture();
    }
    // Messages the destruction sends must not reach this half-destroyed object.
    SetWindowLongPtrW(Hwnd, GWLP_USERDATA, 0);
    DestroyWindow(Hwnd);
}

void TWin32Window::SetBounds(const TRect& bounds) {
    if (!Hwnd) return;
    SetWindowPos(Hwnd, nullptr, bounds.Left, bounds.Top, std::max(1, bounds.Width()),
                 std::max(1, bounds.Height()), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Window::SetVisible(bool visible) {
    if (Hwnd) ShowWindow(Hwnd, visible ? SW_SHOWNA : SW_HIDE);
}

void TWin32Window::Invalidate(const TRect& r) {
    if (!Hwnd || r.IsEmpty()) return;
    const RECT rc{r.Left, r.Top, r.Right, r.Bottom};
    InvalidateRect(Hwnd, &rc, FALSE);
}

// One call per rectangle, straight from our 32-bit rows. The DIB handed over is exactly the rows
// of r, so the source origin is its first row and column whichever way the image is stored.
void TWin32Window::Blit(const TPixelView& pixels, const TRect& r) {
    if (!Hwnd || pixels.IsEmpty() || r.IsEmpty()) return;
    const bool bottomUp = pixels.Stride < 0;
    const LONG rowPixels = LONG(bottomUp ? -pixels.Stride : pixels.Stride);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = rowPixels;
    info.bmiHeader.biHeight = bottomUp ? r.Height() : -r.Height();
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // The lowest address of the rows of r: the bottom row for a bottom-up image.
    const uint32_t* first = bottomUp ? pixels.Row(r.Bottom - 1) : pixels.Row(r.Top);
    const HDC dc = PaintDc ? PaintDc : GetDC(Hwnd);
    if (!dc) return;
    SetDIBitsToDevice(dc, r.Left, r.Top, DWORD(r.Width()), DWORD(r.Height()), r.Left, 0, 0,
                      UINT(r.Height()), first, &info, DIB_RGB_COLORS);
    if (!PaintDc) ReleaseDC(Hwnd, dc);
}

void TWin32Window::SetCapture() {
    if (!Hwnd) return;
    Captured = true;
    ::SetCapture(Hwnd);
}

void TWin32Window::ReleaseCapture() {
    if (!Captured) return;
    Captured = false;
    if (Hwnd && GetCapture() == Hwnd) ::ReleaseCapture(); // WM_CAPTURECHANGED ends it below
    EndCapture();
}

// After a capture: a window the cursor left meanwhile hears of it now.
void TWin32Window::EndCapture() {
    if (!LeaveAfterCapture) return;
    LeaveAfterCapture = false;
    if (CursorInside()) {
        TrackLeave();
    } else {
        Tracking = false;
        Sink->PlatformMouseLeave();
    }
}

bool TWin32Window::CursorInside() const {
    POINT p{};
    if (!Hwnd || !GetCursorPos(&p)) return false;
    return WindowFromPoint(p) == Hwnd;
}

void TWin32Window::TrackLeave() {
    if (Tracking || !Hwnd) return;
    TRACKMOUSEEVENT t{};
    t.cbSize = sizeof t;
    t.dwFlags = TME_LEAVE;
    t.hwndTrack = Hwnd;
    Tracking = TrackMouseEvent(&t) != FALSE;
}

void TWin32Window::SetCursorShape(TCursor shape) {
    Shape = shape;
    if (CursorInside() || (Captured && GetCapture() == Hwnd)) ApplyCursor();
}

void TWin32Window::ApplyCursor() const {
    ::SetCursor(Shape == crNone ? nullptr
                                : LoadCursorW(nullptr, MAKEINTRESOURCEW(SystemCursor(Shape))));
}

void TWin32Window::SetFocus() {
    if (Hwnd) ::SetFocus(Hwnd);
}

TPoint TWin32Window::ClientToScreen(TPoint p) const {
    POINT q{p.X, p.Y};
    if (Hwnd) ::ClientToScreen(Hwnd, &q);
    return {int32_t(q.x), int32_t(q.y)};
}

// Sink calls come last in each case: a handler may destroy this window (and this object).
LRESULT TWin32Window::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ERASEBKGND:
        return 1; // the framework paints every pixel; clearing first would flicker
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(hwnd, &ps);
        const TRect r{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
        if (dc && !r.IsEmpty()) {
            PaintDc = dc;
            try {
                Sink->PlatformPaint(r);
            } catch (...) {
                PaintDc = nullptr;
                EndPaint(hwnd, &ps);
                throw;
            }
            PaintDc = nullptr;
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            ApplyCursor();
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        TrackLeave();
        Sink->PlatformMouseMove(MouseShift(wParam), MousePoint(lParam));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        const TMouseButton b = msg == WM_LBUTTONDOWN   ? mbLeft
                               : msg == WM_RBUTTONDOWN ? mbRight
                                                       : mbMiddle;
        Sink->PlatformMouseDown(b, MouseShift(wParam), MousePoint(lParam));
        return 0;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        const TMouseButton b = msg == WM_LBUTTONUP   ? mbLeft
                               : msg == WM_RBUTTONUP ? mbRight
                                                     : mbMiddle;
        Sink->PlatformMouseUp(b, MouseShift(wParam), MousePoint(lParam));
        return 0;
    }
    case WM_MOUSELEAVE:
        Tracking = false;
        if (Captured) {
            LeaveAfterCapture = true; // told when the capture ends
            return 0;
        }
        Sink->PlatformMouseLeave();
        return 0;
    case WM_CAPTURECHANGED:
        // Someone else took the capture (a host's dialog, the system): ours has ended.
        if (Captured && reinterpret_cast<HWND>(lParam) != hwnd) {
            Captured = false;
            LeaveAfterCapture = LeaveAfterCapture || !CursorInside();
            EndCapture();
        }
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        Sink->PlatformKeyDown(uint16_t(wParam), KeyShift());
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        Sink->PlatformKeyUp(uint16_t(wParam), KeyShift());
        return 0;
    case WM_CHAR:
    case WM_SYSCHAR: {
        // Characters beyond the basic plane come as two UTF-16 halves.
        static thread_local wchar_t high = 0;
        const wchar_t c = wchar_t(wParam);
        if (c >= 0xD800 && c < 0xDC00) {
            high = c;
            return 0;
        }
        char32_t ch = c;
        if (c >= 0xDC00 && c < 0xE000) {
            if (!high) return 0;
            ch = 0x10000 + ((char32_t(high) - 0xD800) << 10) + (char32_t(c) - 0xDC00);
        }
        high = 0;
        Sink->PlatformChar(ch);
        return 0;
    }
    case WM_SETFOCUS:
        Sink->PlatformFocusChanged(true);
        return 0;
    case WM_KILLFOCUS:
        Sink->PlatformFocusChanged(false);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | DLGC_WANTCHARS; // inside a host's dialog, keys are ours
    case WM_NCDESTROY:
        // The system destroyed the window with its parent: the object lives on, handle-less.
        Hwnd = nullptr;
        Captured = false;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

std::unique_ptr<IPlatform> NewWin32Platform() {
    auto p = std::make_unique<TWin32Platform>();
    if (!p->Init()) return nullptr;
    return p;
}

std::unique_ptr<IPlatform> NewNativePlatform() {
    return NewWin32Platform();
}
