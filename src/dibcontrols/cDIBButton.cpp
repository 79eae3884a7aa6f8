#include "dibcontrols/cDIBButton.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace {

TAbstractDIBButton& Button(TCustomDIBControl& c) {
    return static_cast<TAbstractDIBButton&>(c);
}
const TAbstractDIBButton& Button(const TCustomDIBControl& c) {
    return static_cast<const TAbstractDIBButton&>(c);
}

} // namespace

TAbstractDIBButton::TAbstractDIBButton(TComponent* owner) : TCustomDIBControl(owner) {}

void TAbstractDIBButton::Loaded() {
    TCustomDIBControl::Loaded();
    UpdateState();
}

void TAbstractDIBButton::SetGroup(int32_t value) {
    if (value < 0) throw EDIBButtonError("Invalid group.");
    fGroup = value;
    if (fGroup > 0 && fDown) ReleaseGroup();
}

void TAbstractDIBButton::SetDown(bool value) {
    fDown = value;
    auto alive = AliveToken();
    UpdateState();
    if (alive.expired()) return;
    if (fDown) ReleaseGroup();
}

void TAbstractDIBButton::ReleaseGroup() {
    if (fGroup == 0 || !Owner()) return;
    // Gathered first: a handler run by a release may add or free components.
    std::vector<std::pair<TAbstractDIBButton*, std::weak_ptr<void>>> others;
    for (int i = 0; i < Owner()->ComponentCount(); ++i) {
        auto* b = dynamic_cast<TAbstractDIBButton*>(Owner()->Components(i));
        if (b && b != this && b->fGroup == fGroup && b->fDown)
            others.emplace_back(b, b->AliveToken());
    }
    for (auto& [b, alive] : others)
        if (!alive.expired() && b->fDown) b->SetDown(false);
}

void TAbstractDIBButton::SetState(TDIBButtonState state) {
    fState = state;
}

void TAbstractDIBButton::UpdateState() {
    TDIBButtonState s = dbUp;
    if (!Enabled())
        s = dbDisabled;
    else if (fDown)
        s = dbDown;
    else if (MouseOver() || DIBFocused())
        s = (MouseButtons() & ssLeft) ? dbPressed : dbHover;
    if (s != fState) SetState(s);
    Invalidate();
}

void TAbstractDIBButton::Click() {
    auto alive = AliveToken();
    TCustomDIBControl::Click();
    if (alive.expired()) return;
    // OnClick has seen Down as it was before the click.
    if (fToggleDown) SetDown(!fDown);
}

void TAbstractDIBButton::HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x,
                                         int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseDown(button, shift, x, y);
    if (!alive.expired() && button == mbLeft) UpdateState();
}

void TAbstractDIBButton::HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x,
                                       int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseUp(button, shift, x, y);
    if (!alive.expired() && button == mbLeft) UpdateState();
}

void TAbstractDIBButton::MouseEnter() {
    auto alive = AliveToken();
    TCustomDIBControl::MouseEnter();
    if (!alive.expired()) UpdateState();
}

void TAbstractDIBButton::MouseLeave() {
    auto alive = AliveToken();
    TCustomDIBControl::MouseLeave();
    if (!alive.expired()) UpdateState();
}

void TAbstractDIBButton::EnabledChanged() {
    auto alive = AliveToken();
    TCustomDIBControl::EnabledChanged();
    if (!alive.expired()) UpdateState();
}

void TAbstractDIBButton::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    TCustomDIBControl::GetProperties(list);
    using K = TDIBPropertyKind;
    using C = TCustomDIBControl;
    using V = TDIBPropertyValue;
    list.push_back({"Down", K::Boolean, [](const C& c) { return V(Button(c).Down()); },
                    [](C& c, const V& v) { Button(c).SetDown(std::get<bool>(v)); }});
    list.push_back({"Group", K::Integer, [](const C& c) { return V(int64_t(Button(c).Group())); },
                    [](C& c, const V& v) {
                        const int64_t n = std::get<int64_t>(v);
                        if (n < 0 || n > std::numeric_limits<int32_t>::max())
                            throw EDIBButtonError("Invalid group.");
                        Button(c).SetGroup(int32_t(n));
                    }});
    list.push_back({"ToggleDown", K::Boolean, [](const C& c) { return V(Button(c).ToggleDown()); },
                    [](C& c, const V& v) { Button(c).SetToggleDown(std::get<bool>(v)); }});
}
