#include "dibcontrols/cDIBPanel.h"

#include "framework/graphics.h"

#include <algorithm>
#include <cstdlib>

TCustomDIBContainer::TCustomDIBContainer(TComponent* owner) : TCustomPanel(owner) {
    // Colours in the pixel images resolve through the framework's fixed palette.
    SetSystemColorResolver(&ResolveColor);
    SetTabStop(false);
    ResizeBackBuffer();
}

TCustomDIBContainer::~TCustomDIBContainer() {
    // Owned controls still talk to the container while they go.
    MarkDestroying();
    DestroyComponents();
    fActiveControl = nullptr;
    fFocusOrder.clear();
}

void TCustomDIBContainer::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    TCustomPanel::SetBounds(left, top, width, height);
    if (!Loading()) ResizeBackBuffer();
}

void TCustomDIBContainer::Loaded() {
    TCustomPanel::Loaded();
    ResizeBackBuffer();
    ApplyTabOrders();
}

void TCustomDIBContainer::ResizeBackBuffer() {
    fBackBuffer.SetSize(std::max(Width(), 1), std::max(Height(), 1));
}

// ---------------------------------------------------------------------------------------------
// painting

void TCustomDIBContainer::PaintWindow(const TRect& update) {
    TRect rect = update;
    if (!fRepaintPass) {
        for (int i = 0; i < ControlCount(); ++i)
            if (auto* c = dynamic_cast<TCustomDIBControl*>(Controls(i))) c->PreparePaint(rect);
        // A bottom edge moved by up to 2 pixels does not count as a change.
        const bool changed = rect.Left != update.Left || rect.Top != update.Top ||
                             rect.Right != update.Right ||
                             std::abs(rect.Bottom - update.Bottom) > 2;
        if (changed) {
            fRepaintPass = true;
            InvalidateRect(rect);
            return;
        }
        rect = update;
    }
    fRepaintPass = false;
    if (fBackBuffer.Width() != std::max(Width(), 1) ||
        fBackBuffer.Height() != std::max(Height(), 1))
        ResizeBackBuffer();
    rect = IntersectRect(rect, ClientRect());
    if (rect.IsEmpty()) return;
    fUpdateRect = rect;

    fBackBuffer.SetClipRect({rect.Left, rect.Top, rect.Right - 1, rect.Bottom - 1});
    DoBeforePaint();
    if (rect == ClientRect())
        fBackBuffer.Fill(Color());
    else
        fBackBuffer.FillRect(Color(), rect.Left, rect.Top, rect.Width(), rect.Height());

    const TPixelView view{reinterpret_cast<uint32_t*>(fBackBuffer.ScanLine(0)), fBackBuffer.Width(),
                          fBackBuffer.Height(), -ptrdiff_t(fBackBuffer.Width())};
    const std::vector<TControl*> controls = [&] {
        std::vector<TControl*> v;
        v.reserve(size_t(ControlCount()));
        for (int i = 0; i < ControlCount(); ++i)
            v.push_back(Controls(i));
        return v;
    }();
    for (TControl* c : controls) {
        if (!c->Visible() || !c->BoundsRect().Intersects(rect) ||
            dynamic_cast<TWinControl*>(c) != nullptr)
            continue;
        if (auto* dc = dynamic_cast<TCustomDIBControl*>(c)) {
            fControlBuffer.SetSize(std::max(dc->Width(), 1), std::max(dc->Height(), 1));
            fControlBuffer.ResetSettings();
            fControlBuffer.SetClipRect(
                {0, 0, fControlBuffer.Width() - 1, fControlBuffer.Height() - 1});
            dc->Compose(fBackBuffer, fControlBuffer);
        } else {
            TWinControl::PaintControl(*c, view, rect);
        }
    }
    DoAfterPaint();
    Blit(view, rect);
}

void TCustomDIBContainer::DoBeforePaint() {
    if (fBeforePaint) fBeforePaint(this, fBackBuffer);
}

void TCustomDIBContainer::DoAfterPaint() {
    if (fAfterPaint) fAfterPaint(this, fBackBuffer);
}

// ---------------------------------------------------------------------------------------------
// DIB focus

void TCustomDIBContainer::ApplyTabOrder(TCustomDIBControl* control) {
    std::erase(fFocusOrder, control);
    if (control->DIBTabOrder() < 0 || control->Parent() != this) return;
    // After every control of a lower or equal order: ties keep the order they joined in.
    auto at = std::upper_bound(
        fFocusOrder.begin(), fFocusOrder.end(), control->DIBTabOrder(),
        [](int order, const TCustomDIBControl* c) { return order < c->DIBTabOrder(); });
    fFocusOrder.insert(at, control);
}

void TCustomDIBContainer::ApplyTabOrders() {
    fFocusOrder.clear();
    for (int i = 0; i < ControlCount(); ++i)
        if (auto* c = dynamic_cast<TCustomDIBControl*>(Controls(i))) ApplyTabOrder(c);
}

void TCustomDIBContainer::ControlLeaving(TCustomDIBControl* control) {
    std::erase(fFocusOrder, control);
    if (fActiveControl == control) {
        fActiveControl = nullptr;
        if (!Destroying()) control->LoseDIBFocus();
    }
}

void TCustomDIBContainer::SetActiveControl(TCustomDIBControl* control) {
    if (control == fActiveControl) return;
    // A control that is not yet focused takes focus its own way, which comes back here.
    if (control && !control->fDIBFocused) {
        control->SetDIBFocus();
        return;
    }
    if (fChangingFocus) return;
    fChangingFocus = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{fChangingFocus};
    auto alive = AliveToken();
    TCustomDIBControl* old = fActiveControl;
    fActiveControl = control;
    if (old) {
        old->LoseDIBFocus();
        if (alive.expired()) return;
    }
    if (fOnActiveControlChange) fOnActiveControlChange(this);
}

TCustomDIBControl* TCustomDIBContainer::NextFocus(TCustomDIBControl* from, bool forward) const {
    const auto usable = [](const TCustomDIBControl* c) { return c->Enabled() && c->Visible(); };
    const auto it = std::find(fFocusOrder.begin(), fFocusOrder.end(), from);
    if (forward) {
        for (auto i = it == fFocusOrder.end() ? fFocusOrder.begin() : it + 1;
             i != fFocusOrder.end(); ++i)
            if (usable(*i)) return *i;
    } else {
        auto i = it == fFocusOrder.end() ? fFocusOrder.end() : it;
        while (i != fFocusOrder.begin()) {
            --i;
            if (usable(*i)) return *i;
        }
    }
    return nullptr;
}

void TCustomDIBContainer::DoEnter() {
    auto alive = AliveToken();
    TCustomPanel::DoEnter();
    if (alive.expired() || fActiveControl) return;
    if (TCustomDIBControl* first = NextFocus(nullptr, true)) first->SetDIBFocus();
}

// ---------------------------------------------------------------------------------------------
// keys

TCustomDIBControl* TCustomDIBContainer::ActiveForKeys() const {
    TCustomDIBControl* c = fActiveControl;
    return c && c->Enabled() && c->Visible() ? c : nullptr;
}

void TCustomDIBContainer::KeyDown(uint16_t& key, TShiftState shift) {
    if ((shift & ssAlt) && key != vkMenu) {
        for (int i = ControlCount() - 1; i >= 0; --i) {
            auto* c = dynamic_cast<TCustomDIBControl*>(Controls(i));
            if (c && c->Enabled() && c->Visible() && CanFocus() && c->IsShortCut(key, shift)) {
                key = 0;
                c->Click();
                return;
            }
        }
    }
    if (TCustomDIBControl* c = ActiveForKeys(); c && c->WantsKey(key)) {
        // The key is the control's: neither the container nor the form's Tab handling see it.
        uint16_t k = key;
        key = 0;
        c->KeyDown(k, shift);
        return;
    }
    if (key == vkTab && !(shift & (ssCtrl | ssAlt))) {
        if (TCustomDIBControl* next = NextFocus(fActiveControl, !(shift & ssShift))) {
            key = 0;
            next->SetDIBFocus();
            return;
        }
    }
    TCustomPanel::KeyDown(key, shift);
}

void TCustomDIBContainer::KeyUp(uint16_t& key, TShiftState shift) {
    if (TCustomDIBControl* c = ActiveForKeys(); c && c->WantsKey(key)) {
        uint16_t k = key;
        key = 0;
        c->KeyUp(k, shift);
        return;
    }
    TCustomPanel::KeyUp(key, shift);
}

void TCustomDIBContainer::KeyPress(char32_t& key) {
    // Characters of the dialog keys follow their key's wish.
    const uint16_t asKey = key == U'\t'     ? vkTab
                           : key == U'\r'   ? vkReturn
                           : key == U'\x1b' ? vkEscape
                           : key == U'\x03' ? vkCancel
                                            : 0;
    if (TCustomDIBControl* c = ActiveForKeys(); c && (asKey == 0 || c->WantsKey(asKey))) {
        char32_t k = key;
        key = 0;
        c->KeyPress(k);
        return;
    }
    TCustomPanel::KeyPress(key);
}
