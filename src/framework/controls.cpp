#include "framework/controls.h"

#include "framework/forms.h"

#include <algorithm>
#include <cstdlib>

namespace {
std::atomic<IPlatform*> gDefaultPlatform{nullptr};

bool IsWindowed(const TControl* c) {
    return dynamic_cast<const TWinControl*>(c) != nullptr;
}
} // namespace

void SetDefaultPlatform(IPlatform* platform) {
    gDefaultPlatform.store(platform);
}
IPlatform* DefaultPlatform() {
    return gDefaultPlatform.load();
}

IPlatform* PlatformOf(const TComponent* component) {
    for (const TComponent* c = component; c; c = c->Owner()) {
        if (auto* w = dynamic_cast<const TWinControl*>(c)) return w->Platform();
        if (auto* ctl = dynamic_cast<const TControl*>(c); ctl && ctl->Parent())
            return ctl->Parent()->Platform();
    }
    return DefaultPlatform();
}

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
    if (TWinControl* p = Parent()) p->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
    TWinControl* old = Parent();
    if (parent == old) return;
    for (const TControl* p = parent; p; p = p->Parent())
        if (p == this) throw Exception("A control cannot be the parent of itself or its parents");
    if (old) old->RemoveControl(this);
    if (parent) parent->InsertControl(this);
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    // Window systems stop at 16-bit sizes.
    width = std::clamp(width, 0, kMaxControlSize);
    height = std::clamp(height, 0, kMaxControlSize);
    const TRect old = BoundsRect();
    const TRect now = Bounds(left, top, width, height);
    if (old == now) return;
    fLeft = left;
    fTop = top;
    fWidth = width;
    fHeight = height;
    if (TWinControl* p = Parent(); p && Visible() && !IsWindowed(this)) {
        p->InvalidateRect(old);
        p->InvalidateRect(now);
    }
}

void TControl::SetVisible(bool visible) {
    if (Visible() == visible) return;
    fVisible = visible;
    if (TWinControl* p = Parent()) {
        if (!IsWindowed(this)) p->InvalidateRect(BoundsRect());
        p->ChildStateChanged(this);
    }
    VisibleChanged();
}

void TControl::SetEnabled(bool enabled) {
    if (fEnabled == enabled) return;
    fEnabled = enabled;
    if (TWinControl* p = Parent()) p->ChildStateChanged(this);
    EnabledChanged();
    Invalidate();
}

void TControl::SetCursor(TCursor cursor) {
    if (fCursor == cursor) return;
    fCursor = cursor;
    if (auto* w = dynamic_cast<TWinControl*>(this))
        w->UpdateCursor();
    else if (TWinControl* p = Parent())
        p->UpdateCursor();
}

TColor TControl::Color() const {
    if (fParentColor)
        if (TWinControl* p = Parent()) return p->Color();
    return fColor;
}

void TControl::SetColor(TColor color) {
    if (fColor == color && !fParentColor) return;
    fColor = color;
    fParentColor = false;
    ColorChanged();
}

void TControl::SetParentColor(bool parentColor) {
    if (fParentColor == parentColor) return;
    fParentColor = parentColor;
    ColorChanged();
}

const TFont& TControl::Font() const {
    if (fParentFont)
        if (TWinControl* p = Parent()) return p->Font();
    return fFont;
}

void TControl::SetFont(const TFont& font) {
    if (fFont == font && !fParentFont) return;
    fFont = font;
    fParentFont = false;
    FontChanged();
}

void TControl::SetParentFont(bool parentFont) {
    if (fParentFont == parentFont) return;
    // Taking the parent's font off keeps it as the control's own, as a form editor would.
    if (!parentFont) fFont = Font();
    fParentFont = parentFont;
    FontChanged();
}

void TControl::Invalidate() {
    if (TWinControl* p = Parent(); p && Visible()) p->InvalidateRect(BoundsRect());
}

bool TControl::MouseCapture() const {
    const TWinControl* w = IsWindowed(this) ? static_cast<const TWinControl*>(this) : Parent();
    return w && w->fCapture == this;
}

TPoint TControl::ClientToScreen(TPoint p) const {
    if (auto* w = dynamic_cast<const TWinControl*>(this); w && w->fWindow)
        return w->fWindow->ClientToScreen(p);
    if (TWinControl* parent = Parent()) return parent->ClientToScreen({p.X + Left(), p.Y + Top()});
    return p;
}

TPoint TControl::ScreenToClient(TPoint p) const {
    const TPoint origin = ClientToScreen({0, 0});
    return {p.X - origin.X, p.Y - origin.Y};
}

TPoint TControl::ScreenCursorPos() const {
    IPlatform* platform = PlatformOf(this);
    return platform ? platform->CursorPos() : TPoint{};
}

void TControl::SetScreenCursorPos(TPoint screen) const {
    if (IPlatform* platform = PlatformOf(this)) platform->SetCursorPos(screen);
}

void TControl::SetScreenCursorVisible(bool visible) const {
    if (IPlatform* platform = PlatformOf(this)) platform->SetCursorVisible(visible);
}

void TControl::HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    if (button == mbLeft) fClicked = true;
    if (button == mbLeft && (shift & ssDouble)) {
        auto alive = AliveToken();
        DblClick();
        if (alive.expired()) return;
    }
    MouseDown(button, shift, x, y);
}

void TControl::HandleMouseMove(TShiftState shift, int32_t x, int32_t y) {
    MouseMove(shift, x, y);
}

void TControl::HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    if (button == mbLeft && fClicked) {
        fClicked = false;
        if (ClientRect().Contains({x, y}) && Enabled()) {
            auto alive = AliveToken();
            Click();
            if (alive.expired()) return;
        }
    }
    MouseUp(button, shift, x, y);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    if (fOnMouseDown) fOnMouseDown(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int32_t x, int32_t y) {
    if (fOnMouseMove) fOnMouseMove(this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    if (fOnMouseUp) fOnMouseUp(this, button, shift, x, y);
}

void TControl::Click() {
    if (fOnClick) fOnClick(this);
}

void TControl::DblClick() {
    if (fOnDblClick) fOnDblClick(this);
}

void TControl::MouseEnter() {
    if (fOnMouseEnter) fOnMouseEnter(this);
}

void TControl::MouseLeave() {
    if (fOnMouseLeave) fOnMouseLeave(this);
}

// ---------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    MarkDestroying();
    DestroyComponents();
    // Children owned elsewhere outlive us; they just lose their parent.
    while (!fControls.empty()) {
        TControl* c = fControls.back();
        fControls.pop_back();
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
        c->fParent = nullptr;
    }
    DestroyHandle();
}

void TWinControl::InsertControl(TControl* control) {
    fControls.push_back(control);
    control->fParent = this;
    if (!IsWindowed(control)) control->Invalidate();
    if (control->ParentFont()) control->FontChanged();
}

void TWinControl::RemoveControl(TControl* control) {
    if (!IsWindowed(control) && control->Visible() && !Destroying())
        InvalidateRect(control->BoundsRect());
    if (fCapture == control) fCapture = fButtons ? this : nullptr;
    if (fMouseControl == control) fMouseControl = nullptr;
    if (fLastPress == control) fLastPress = nullptr;
    std::erase(fControls, control);
    control->fParent = nullptr;
}

// A child that went invisible or disabled stops taking the mouse.
void TWinControl::ChildStateChanged(TControl* control) {
    if (IsWindowed(control) || (control->Visible() && control->Enabled())) return;
    if (fCapture == control) fCapture = this;
    if (fLastPress == control) fLastPress = nullptr;
    if (fMouseControl == control) {
        fMouseControl = nullptr;
        control->MouseLeave();
    }
}

TControl* TWinControl::ControlAtPos(TPoint p) const {
    for (auto it = fControls.rbegin(); it != fControls.rend(); ++it) {
        TControl* c = *it;
        if (!IsWindowed(c) && c->Visible() && c->Enabled() && c->BoundsRect().Contains(p)) return c;
    }
    return nullptr;
}

void TWinControl::SetParent(TWinControl* parent) {
    if (parent == Parent()) return;
    for (const TControl* p = parent; p; p = p->Parent())
        if (p == this) throw Exception("A control cannot be the parent of itself or its parents");
    DestroyHandle();
    TControl::SetParent(parent);
    if (parent && parent->HandleAllocated()) CreateHandle();
}

void TWinControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    TControl::SetBounds(left, top, width, height);
    if (fWindow) fWindow->SetBounds(BoundsRect());
}

IPlatform* TWinControl::Platform() const {
    if (fPlatform) return fPlatform;
    if (TWinControl* p = Parent()) return p->Platform();
    for (const TComponent* c = Owner(); c; c = c->Owner())
        if (auto* w = dynamic_cast<const TWinControl*>(c)) return w->Platform();
    return DefaultPlatform();
}

void TWinControl::SetParentWindow(TNativeHandle parent) {
    if (fParentWindow == parent) return;
    fParentWindow = parent;
    if (fWindow && !Parent()) {
        DestroyHandle();
        CreateHandle();
    }
}

void TWinControl::HandleNeeded() {
    if (fWindow) return;
    if (TWinControl* p = Parent()) p->HandleNeeded(); // creates ours with its own
    if (!fWindow) CreateHandle();
}

TNativeHandle TWinControl::Handle() {
    HandleNeeded();
    return fWindow->Handle();
}

void TWinControl::CreateHandle() {
    if (fWindow) return;
    IPlatform* platform = Platform();
    if (!platform) throw Exception("No window system is available");
    TWinControl* p = Parent();
    if (p && !p->fWindow) return; // comes with the parent's
    const TNativeHandle parentHandle = p ? p->fWindow->Handle() : fParentWindow;
    fWindow = platform->NewWindow(parentHandle, BoundsRect(), Visible(), *this);
    if (!fWindow) throw EOutOfResources("Error creating window");
    fShownCursor = crDefault;
    for (TControl* c : fControls)
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->CreateHandle();
}

void TWinControl::DestroyHandle() {
    if (!fWindow) return;
    for (TControl* c : fControls)
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
    fWindow.reset();
    fCapture = fMouseControl = fLastPress = nullptr;
    fMouseInWindow = false;
    fButtons = 0;
    fFocused = false;
}

void TWinControl::VisibleChanged() {
    if (Visible() && !Parent()) HandleNeeded();
    if (fWindow) fWindow->SetVisible(Visible());
}

void TWinControl::EnabledChanged() {
    if (!Enabled() && fCapture) ReleaseMouseCapture();
}

void TWinControl::FontChanged() {
    Invalidate();
    for (TControl* c : fControls)
        if (c->ParentFont()) c->FontChanged();
}

void TWinControl::ColorChanged() {
    Invalidate();
    for (TControl* c : fControls)
        if (c->ParentColor()) c->ColorChanged();
}

void TWinControl::Invalidate() {
    InvalidateRect(ClientRect());
}

void TWinControl::InvalidateRect(const TRect& r) {
    const TRect c = IntersectRect(r, ClientRect());
    // Without a window there is nothing to mark: a new window is painted whole.
    if (!c.IsEmpty() && fWindow) fWindow->Invalidate(c);
}

void TWinControl::Repaint() {
    if (!fWindow) return;
    const TRect client = ClientRect();
    if (!client.IsEmpty()) PaintWindow(client);
    for (TControl* c : fControls)
        if (auto* w = dynamic_cast<TWinControl*>(c); w && w->Visible()) w->Repaint();
}

void TWinControl::SetFocus() {
    if (fWindow) fWindow->SetFocus();
}

bool TWinControl::CanFocus() const {
    if (!fWindow) return false;
    for (const TControl* c = this; c; c = c->Parent())
        if (!c->Visible() || !c->Enabled()) return false;
    return true;
}

void TWinControl::PaintControl(TControl& control, const TPixelView& target, const TRect& update) {
    const TRect clip = IntersectRect(IntersectRect(control.BoundsRect(), update), target.Rect());
    if (clip.IsEmpty()) return;
    TCanvas canvas(target, {control.Left(), control.Top()}, clip);
    canvas.Font = control.Font();
    control.Paint(canvas);
}

void TWinControl::PaintControls(const TPixelView& target, const TRect& update) {
    for (TControl* c : fControls)
        if (!IsWindowed(c) && c->Visible() && c->BoundsRect().Intersects(update))
            PaintControl(*c, target, update);
}

void TWinControl::Blit(const TPixelView& pixels, const TRect& r) {
    const TRect c = IntersectRect(IntersectRect(r, pixels.Rect()), ClientRect());
    if (fWindow && !c.IsEmpty() && !pixels.IsEmpty()) fWindow->Blit(pixels, c);
}

void TWinControl::PaintWindow(const TRect& update) {
    const int32_t w = Width(), h = Height();
    if (w != fBackWidth || h != fBackHeight) {
        fBackBuffer.assign(size_t(w) * size_t(h), 0);
        fBackWidth = w;
        fBackHeight = h;
    }
    const TPixelView view{fBackBuffer.data(), w, h, w};
    TCanvas canvas(view, {0, 0}, update);
    canvas.FillRect(update, Color());
    PaintControls(view, update);
    Blit(view, update);
}

void TWinControl::PlatformPaint(const TRect& update) {
    const TRect r = IntersectRect(update, ClientRect());
    if (!r.IsEmpty()) SafeCall([&] { PaintWindow(r); });
}

TControl* TWinControl::TargetAt(TPoint p) {
    TControl* c = ControlAtPos(p);
    return c ? c : this;
}

TPoint TWinControl::ToLocal(const TControl* target, TPoint p) const {
    if (target == this) return p;
    return {p.X - target->Left(), p.Y - target->Top()};
}

void TWinControl::UpdateCursor() {
    if (!fWindow) return;
    const TControl* c = fCapture ? fCapture : fMouseControl ? fMouseControl : this;
    TCursor shape = crDefault;
    for (; c && shape == crDefault; c = c->Parent())
        shape = c->Cursor();
    if (shape != fShownCursor) {
        fShownCursor = shape;
        fWindow->SetCursorShape(shape);
    }
}

// Follows the cursor to the window-less child under it and sends enter and leave: to anyone
// without a capture, only to the capturing control during one.
void TWinControl::TrackMouse(TPoint p) {
    auto self = AliveToken();
    if (!fMouseInWindow) {
        fMouseInWindow = true;
        MouseEnter();
        if (self.expired()) return;
    }
    TControl* under = ControlAtPos(p);
    if (under == fMouseControl) return;
    TControl* old = fMouseControl;
    fMouseControl = under;
    // A capture by the window itself (a press on no child) silences the children too.
    const auto hears = [&](const TControl* c) { return fCapture == nullptr || c == fCapture; };
    if (old && hears(old)) {
        old->MouseLeave();
        if (self.expired()) return;
    }
    if (under && fMouseControl == under && hears(under)) {
        under->MouseEnter();
        if (self.expired()) return;
    }
    UpdateCursor();
}

void TWinControl::ReleaseMouseCapture() {
    fCapture = nullptr;
    fButtons = 0;
    if (fWindow) fWindow->ReleaseCapture();
}

void TWinControl::PlatformMouseDown(TMouseButton button, TShiftState shift, TPoint p) {
    SafeCall([&] {
        if (!Enabled()) return;
        auto self = AliveToken();
        TrackMouse(p);
        if (self.expired()) return;
        fButtons |= ShiftForButton(button);
        TControl* target = fCapture ? fCapture : TargetAt(p);
        if (!fCapture) {
            fCapture = target;
            if (fWindow) fWindow->SetCapture();
        }
        IPlatform* platform = Platform();
        if (button == mbLeft && platform) {
            const uint64_t now = platform->TickCount();
            if (fLastPress == target && now - fLastPressTime <= kDoubleClickMs &&
                std::abs(p.X - fLastPressPos.X) <= kDoubleClickDistance &&
                std::abs(p.Y - fLastPressPos.Y) <= kDoubleClickDistance) {
                shift |= ssDouble;
                fLastPress = nullptr;
            } else {
                fLastPress = target;
                fLastPressTime = now;
                fLastPressPos = p;
            }
        }
        const TPoint local = ToLocal(target, p);
        target->HandleMouseDown(button, shift, local.X, local.Y);
    });
}

void TWinControl::PlatformMouseMove(TShiftState shift, TPoint p) {
    SafeCall([&] {
        if (!Enabled()) return;
        auto self = AliveToken();
        TrackMouse(p);
        if (self.expired()) return;
        TControl* target = fCapture ? fCapture : TargetAt(p);
        const TPoint local = ToLocal(target, p);
        target->HandleMouseMove(shift, local.X, local.Y);
    });
}

void TWinControl::PlatformMouseUp(TMouseButton button, TShiftState shift, TPoint p) {
    auto self = AliveToken();
    fButtons &= TShiftState(~ShiftForButton(button));
    if (Enabled()) {
        SafeCall([&] {
            TrackMouse(p);
            if (self.expired()) return;
            TControl* target = fCapture ? fCapture : TargetAt(p);
            const TPoint local = ToLocal(target, p);
            target->HandleMouseUp(button, shift, local.X, local.Y);
        });
    }
    // The capture ends with the last button even when a handler failed.
    if (self.expired() || fButtons) return;
    TControl* captured = fCapture; // null when a handler freed the captured control
    ReleaseMouseCapture();
    if (!captured || !Enabled()) return;
    SafeCall([&] {
        // The capture hid the control now under the cursor; it hears of it now (the captured one
        // already had its leave when the cursor went off it).
        if (fMouseControl && fMouseControl != captured) fMouseControl->MouseEnter();
        if (!self.expired()) UpdateCursor();
    });
}

void TWinControl::PlatformMouseLeave() {
    SafeCall([&] {
        auto self = AliveToken();
        TControl* old = fMouseControl;
        fMouseControl = nullptr;
        if (old && (fCapture == nullptr || old == fCapture)) {
            old->MouseLeave();
            if (self.expired()) return;
        }
        if (fMouseInWindow) {
            fMouseInWindow = false;
            MouseLeave();
        }
    });
}

void TWinControl::PlatformKeyDown(uint16_t key, TShiftState shift) {
    SafeCall([&] {
        auto self = AliveToken();
        TForm* form = GetParentForm(this);
        auto formAlive = form ? form->AliveToken() : std::weak_ptr<void>();
        if (form && form != this && form->KeyPreview()) {
            form->KeyDown(key, shift);
            if (key == 0 || self.expired()) return;
        }
        if (form && !formAlive.expired() && form->IsShortCut(key, shift)) return;
        if (self.expired()) return;
        KeyDown(key, shift);
        if (self.expired() || formAlive.expired()) return;
        if (key == vkTab && form && !(shift & (ssCtrl | ssAlt)))
            form->SelectNext(this, !(shift & ssShift));
    });
}

void TWinControl::PlatformKeyUp(uint16_t key, TShiftState shift) {
    SafeCall([&] {
        auto self = AliveToken();
        TForm* form = GetParentForm(this);
        if (form && form != this && form->KeyPreview()) {
            form->KeyUp(key, shift);
            if (key == 0 || self.expired()) return;
        }
        KeyUp(key, shift);
    });
}

void TWinControl::PlatformChar(char32_t ch) {
    SafeCall([&] {
        auto self = AliveToken();
        TForm* form = GetParentForm(this);
        if (form && form != this && form->KeyPreview()) {
            form->KeyPress(ch);
            if (ch == 0 || self.expired()) return;
        }
        KeyPress(ch);
    });
}

void TWinControl::PlatformFocusChanged(bool focused) {
    SafeCall([&] {
        if (fFocused == focused) return;
        fFocused = focused;
        if (focused)
            DoEnter();
        else
            DoExit();
    });
}

void TWinControl::KeyDown(uint16_t& key, TShiftState shift) {
    if (fOnKeyDown) fOnKeyDown(this, key, shift);
}

void TWinControl::KeyUp(uint16_t& key, TShiftState shift) {
    if (fOnKeyUp) fOnKeyUp(this, key, shift);
}

void TWinControl::KeyPress(char32_t& key) {
    if (fOnKeyPress) fOnKeyPress(this, key);
}

void TWinControl::DoEnter() {
    if (fOnEnter) fOnEnter(this);
}

void TWinControl::DoExit() {
    if (fOnExit) fOnExit(this);
}
