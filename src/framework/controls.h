// Controls: window-less controls that live inside a windowed parent, and windowed controls that
// own a platform window, route its input to their window-less children and paint them.
//
// Threads: everything here runs on the user-interface thread.
#pragma once

#include "framework/classes.h"
#include "framework/graphics.h"
#include "framework/platform/platform.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <vector>

class TWinControl;

using TMouseEvent = std::function<void(TComponent* sender, TMouseButton button, TShiftState shift,
                                       int32_t x, int32_t y)>;
using TMouseMoveEvent =
    std::function<void(TComponent* sender, TShiftState shift, int32_t x, int32_t y)>;
using TKeyEvent = std::function<void(TComponent* sender, uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TComponent* sender, char32_t& key)>;

// The platform used by windows and timers that find none through their parents or owners.
void SetDefaultPlatform(IPlatform* platform);
IPlatform* DefaultPlatform();
// The platform of the window a component lives in (through parents, then owners), else the
// default.
IPlatform* PlatformOf(const TComponent* component);

// Two clicks of the left button on one control within this time and distance make a double click.
constexpr uint32_t kDoubleClickMs = 500;
constexpr int32_t kDoubleClickDistance = 4;
// Widths and heights are clamped to this.
constexpr int32_t kMaxControlSize = 32767;

class TControl : public TComponent {
  public:
    explicit TControl(TComponent* owner);
    ~TControl() override;
    std::string_view ClassName() const override { return "TControl"; }

    TWinControl* Parent() const { return fParent; }
    // Null detaches. A windowed control may not become its own descendant's child.
    virtual void SetParent(TWinControl* parent);

    int32_t Left() const { return fLeft; }
    int32_t Top() const { return fTop; }
    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    void SetLeft(int32_t v) { SetBounds(v, Top(), Width(), Height()); }
    void SetTop(int32_t v) { SetBounds(Left(), v, Width(), Height()); }
    void SetWidth(int32_t v) { SetBounds(Left(), Top(), v, Height()); }
    void SetHeight(int32_t v) { SetBounds(Left(), Top(), Width(), v); }
    // Position in the parent's client area and size (clamped to 0..kMaxControlSize).
    virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
    TRect BoundsRect() const { return Bounds(Left(), Top(), Width(), Height()); }
    void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Width(), r.Height()); }
    TRect ClientRect() const { return {0, 0, Width(), Height()}; }
    int32_t ClientWidth() const { return Width(); }
    int32_t ClientHeight() const { return Height(); }
    void SetClientWidth(int32_t v) { SetWidth(v); }
    void SetClientHeight(int32_t v) { SetHeight(v); }

    bool Visible() const { return fVisible; }
    void SetVisible(bool visible);
    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool enabled);
    TCursor Cursor() const { return fCursor; }
    void SetCursor(TCursor cursor);
    const std::string& Hint() const { return fHint; }
    void SetHint(std::string hint) { fHint = std::move(hint); }
    bool ShowHint() const { return fShowHint; }
    void SetShowHint(bool show) { fShowHint = show; }

    // With ParentColor the parent's colour is used.
    TColor Color() const;
    void SetColor(TColor color);
    bool ParentColor() const { return fParentColor; }
    void SetParentColor(bool parentColor);
    // With ParentFont the parent's font is used; setting a font clears ParentFont.
    const TFont& Font() const;
    void SetFont(const TFont& font);
    bool ParentFont() const { return fParentFont; }
    void SetParentFont(bool parentFont);

    const TNotifyEvent& OnClick() const { return fOnClick; }
    void SetOnClick(TNotifyEvent e) { fOnClick = std::move(e); }
    const TNotifyEvent& OnDblClick() const { return fOnDblClick; }
    void SetOnDblClick(TNotifyEvent e) { fOnDblClick = std::move(e); }
    const TMouseEvent& OnMouseDown() const { return fOnMouseDown; }
    void SetOnMouseDown(TMouseEvent e) { fOnMouseDown = std::move(e); }
    const TMouseMoveEvent& OnMouseMove() const { return fOnMouseMove; }
    void SetOnMouseMove(TMouseMoveEvent e) { fOnMouseMove = std::move(e); }
    const TMouseEvent& OnMouseUp() const { return fOnMouseUp; }
    void SetOnMouseUp(TMouseEvent e) { fOnMouseUp = std::move(e); }
    const TNotifyEvent& OnMouseEnter() const { return fOnMouseEnter; }
    void SetOnMouseEnter(TNotifyEvent e) { fOnMouseEnter = std::move(e); }
    const TNotifyEvent& OnMouseLeave() const { return fOnMouseLeave; }
    void SetOnMouseLeave(TNotifyEvent e) { fOnMouseLeave = std::move(e); }

    // Asks for the control's area to be repainted. Any thread.
    virtual void Invalidate();
    // Draws a window-less control; canvas (0, 0) is its top-left, clipped to its bounds and to the
    // area being painted. Nothing by default.
    virtual void Paint(TCanvas& canvas) {}

    // True from a press on this control until the last mouse button is released.
    bool MouseCapture() const;
    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;
    // The screen cursor, for drags that hide it and pin it in place.
    TPoint ScreenCursorPos() const;
    void SetScreenCursorPos(TPoint screen) const;
    void SetScreenCursorVisible(bool visible) const;

  protected:
    friend class TWinControl;

    // Message-level mouse handling, called by the window with control-relative coordinates and
    // the shift state after the event. HandleMouseDown starts click detection, fires DblClick on
    // a double click (ssDouble in shift) and calls MouseDown; HandleMouseUp calls Click when a
    // left press and release both fell inside this control, then MouseUp. A subclass may re-send
    // a saved press through HandleMouseDown.
    virtual void HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
    virtual void HandleMouseMove(TShiftState shift, int32_t x, int32_t y);
    virtual void HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
    // The event-level steps; each fires its event.
    virtual void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
    virtual void MouseMove(TShiftState shift, int32_t x, int32_t y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
    virtual void Click();
    virtual void DblClick();
    // The cursor came over / left the control. During a capture only the capturing control hears
    // these (it gets MouseLeave when the cursor leaves it and MouseEnter when it comes back);
    // when the capture ends over another control, that control gets MouseEnter.
    virtual void MouseEnter();
    virtual void MouseLeave();

    virtual void VisibleChanged() {}
    virtual void EnabledChanged() {}
    virtual void FontChanged() { Invalidate(); }
    virtual void ColorChanged() { Invalidate(); }

  private:
    TWinControl* fParent = nullptr;
    int32_t fLeft = 0, fTop = 0, fWidth = 0, fHeight = 0;
    bool fVisible = true;
    bool fEnabled = true;
    bool fShowHint = false;
    bool fParentColor = false;
    bool fParentFont = true;
    bool fClicked = false; // a left press landed here and no release yet
    TCursor fCursor = crDefault;
    TColor fColor = clBtnFace;
    TFont fFont;
    std::string fHint;
    TNotifyEvent fOnClick, fOnDblClick, fOnMouseEnter, fOnMouseLeave;
    TMouseEvent fOnMouseDown, fOnMouseUp;
    TMouseMoveEvent fOnMouseMove;
};

// A window-less control that draws itself.
class TGraphicControl : public TControl {
  public:
    using TControl::TControl;
    std::string_view ClassName() const override { return "TGraphicControl"; }
};

class TWinControl : public TControl, private IWindowSink {
  public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;
    std::string_view ClassName() const override { return "TWinControl"; }

    // Children in z-order: creation (insertion) order, later ones on top.
    int ControlCount() const { return int(fControls.size()); }
    TControl* Controls(int index) const { return fControls.at(size_t(index)); }
    // The topmost visible and enabled window-less child containing p (client coordinates).
    TControl* ControlAtPos(TPoint p) const;

    void SetParent(TWinControl* parent) override;
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;

    // The platform window. A windowed control gets one when its parent has one; a control with no
    // parent gets one on HandleNeeded (as a child of ParentWindow()).
    bool HandleAllocated() const { return fWindow != nullptr; }
    void HandleNeeded();
    TNativeHandle Handle();
    TNativeHandle ParentWindow() const { return fParentWindow; }
    void SetParentWindow(TNativeHandle parent);
    // The platform this window uses: its own, its parent's, its owners', or the default.
    IPlatform* Platform() const;
    void SetPlatform(IPlatform* platform) { fPlatform = platform; }

    void Invalidate() override;
    // Marks r (client coordinates) for repainting.
    void InvalidateRect(const TRect& r);
    // Paints this window and its windowed descendants now, without waiting for the pump.
    void Repaint();

    void SetFocus();
    bool Focused() const { return fFocused; }
    // Visible and enabled up the parent chain, with a window.
    bool CanFocus() const;
    bool TabStop() const { return fTabStop; }
    void SetTabStop(bool tabStop) { fTabStop = tabStop; }

    const TNotifyEvent& OnEnter() const { return fOnEnter; }
    void SetOnEnter(TNotifyEvent e) { fOnEnter = std::move(e); }
    const TNotifyEvent& OnExit() const { return fOnExit; }
    void SetOnExit(TNotifyEvent e) { fOnExit = std::move(e); }
    const TKeyEvent& OnKeyDown() const { return fOnKeyDown; }
    void SetOnKeyDown(TKeyEvent e) { fOnKeyDown = std::move(e); }
    const TKeyEvent& OnKeyUp() const { return fOnKeyUp; }
    void SetOnKeyUp(TKeyEvent e) { fOnKeyUp = std::move(e); }
    const TKeyPressEvent& OnKeyPress() const { return fOnKeyPress; }
    void SetOnKeyPress(TKeyPressEvent e) { fOnKeyPress = std::move(e); }

    // Paints control into target, whose (0, 0) is this window's client top-left, limited to the
    // update rectangle. For windows that compose into a buffer of their own.
    static void PaintControl(TControl& control, const TPixelView& target, const TRect& update);
    // Paints every visible window-less child meeting update, in z-order.
    void PaintControls(const TPixelView& target, const TRect& update);
    // Copies r of pixels (client coordinates in both) to the window; clipped to both.
    void Blit(const TPixelView& pixels, const TRect& r);

    // The control under the cursor and the one holding the capture (this window itself when the
    // press fell on no child), or null.
    TControl* MouseControl() const { return fMouseControl; }
    TControl* CaptureControl() const { return fCapture; }

  protected:
    // Paints the update rectangle (already clipped to the client area) and blits it. By default:
    // fill with Color, paint the window-less children, one blit from an own back buffer.
    virtual void PaintWindow(const TRect& update);
    virtual void KeyDown(uint16_t& key, TShiftState shift);
    virtual void KeyUp(uint16_t& key, TShiftState shift);
    virtual void KeyPress(char32_t& key);
    // Keyboard focus arrived / left; fire OnEnter / OnExit.
    virtual void DoEnter();
    virtual void DoExit();
    virtual void CreateHandle();
    virtual void DestroyHandle();

    void VisibleChanged() override;
    void EnabledChanged() override;
    void FontChanged() override;
    void ColorChanged() override;

  private:
    friend class TControl;

    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    void ChildStateChanged(TControl* control);
    void UpdateCursor();
    TControl* TargetAt(TPoint p);
    TPoint ToLocal(const TControl* target, TPoint p) const;
    void TrackMouse(TPoint p);
    void ReleaseMouseCapture();

    // IWindowSink
    void PlatformPaint(const TRect& update) override;
    void PlatformMouseDown(TMouseButton button, TShiftState shift, TPoint p) override;
    void PlatformMouseMove(TShiftState shift, TPoint p) override;
    void PlatformMouseUp(TMouseButton button, TShiftState shift, TPoint p) override;
    void PlatformMouseLeave() override;
    void PlatformKeyDown(uint16_t key, TShiftState shift) override;
    void PlatformKeyUp(uint16_t key, TShiftState shift) override;
    void PlatformChar(char32_t ch) override;
    void PlatformFocusChanged(bool focused) override;

    std::vector<TControl*> fControls;
    std::unique_ptr<IPlatformWindow> fWindow;
    IPlatform* fPlatform = nullptr;
    TNativeHandle fParentWindow = nullptr;
    std::vector<uint32_t> fBackBuffer;
    int32_t fBackWidth = 0, fBackHeight = 0;

    // Mouse state. fCapture holds a press's target until the last button is released.
    TControl* fCapture = nullptr;
    TControl* fMouseControl = nullptr; // window-less child under the cursor
    bool fMouseInWindow = false;
    TShiftState fButtons = 0;
    TControl* fLastPress = nullptr; // for double clicks
    uint64_t fLastPressTime = 0;
    TPoint fLastPressPos;
    TCursor fShownCursor = crDefault;

    bool fFocused = false;
    bool fTabStop = false;
    TNotifyEvent fOnEnter, fOnExit;
    TKeyEvent fOnKeyDown, fOnKeyUp;
    TKeyPressEvent fOnKeyPress;
};
