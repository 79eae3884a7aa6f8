#include "dibcontrols/cDIBKnob.h"

#include "dibcontrols/propertyvalue.h"

#include <algorithm>
#include <limits>

namespace {

TKnobInc ClampInc(int v) {
    return TKnobInc(std::clamp(v, 1, 32767));
}

TCustomDIBKnob& Knob(TCustomDIBControl& c) {
    return static_cast<TCustomDIBKnob&>(c);
}
const TCustomDIBKnob& Knob(const TCustomDIBControl& c) {
    return static_cast<const TCustomDIBKnob&>(c);
}

} // namespace

TCustomDIBKnob::TCustomDIBKnob(TComponent* owner)
    : TCustomDIBControl(owner), fIndexMain(&CreateImageLink()) {
    SetAutoSize(true);
    for (const char* name : {"AutoSize", "DrawTweens", "LoopLastFrame", "Min", "Max", "NumGlyphs",
                             "Opacity", "Orientation", "PageSize", "Position", "SmallChange"})
        RegisterTemplateProperty(name);
}

TCustomDIBKnob::~TCustomDIBKnob() {
    // A knob freed in the middle of a drag must not leave the cursor hidden.
    if (fDragging) {
        fDragging = false;
        SetScreenCursorVisible(true);
    }
}

void TCustomDIBKnob::Loaded() {
    TCustomDIBControl::Loaded();
    if (AutoSize()) AdjustSize();
}

// ---------------------------------------------------------------------------------------------
// properties

void TCustomDIBKnob::SetPosition(int32_t value) {
    value = std::clamp(value, fMin, std::max(fMin, fMax));
    if (value != fPosition) {
        fPosition = value;
        auto alive = AliveToken();
        if (fOnChange) fOnChange(this);
        if (alive.expired()) return;
    }
    Invalidate();
}

void TCustomDIBKnob::StepPosition(int64_t delta) {
    SetPosition(ClampToInt32(int64_t(fPosition) + delta));
}

void TCustomDIBKnob::SetMax(int32_t value) {
    fMax = value;
    // At the bottom of the range Min cannot go lower; it then equals Max.
    if (fMin >= fMax) fMin = ClampToInt32(int64_t(fMax) - 1);
    if (fPosition > fMax) SetPosition(fMax);
    Invalidate();
}

void TCustomDIBKnob::SetMin(int32_t value) {
    fMin = value;
    if (fMin >= fMax) fMax = ClampToInt32(int64_t(fMin) + 1);
    if (fPosition < fMin) SetPosition(fMin);
    Invalidate();
}

void TCustomDIBKnob::SetSmallChange(int value) {
    fSmallChange = ClampInc(value);
}

void TCustomDIBKnob::SetPageSize(int value) {
    fPageSize = ClampInc(value);
}

void TCustomDIBKnob::SetNumGlyphs(int32_t value) {
    if (value <= 0) throw EDIBKnobError("NumGlyphs must be greater than 0.");
    fNumGlyphs = value;
    if (AutoSize()) AdjustSize();
    Invalidate();
}

void TCustomDIBKnob::SetDrawTweens(bool value) {
    fDrawTweens = value;
    Invalidate();
}

void TCustomDIBKnob::SetLoopLastFrame(bool value) {
    fLoopLastFrame = value;
    Invalidate();
}

void TCustomDIBKnob::ImageChanged(TDIBImageLink&, int, TDIBImageChange) {
    if (AutoSize()) AdjustSize();
    Invalidate(); // the same size may show new pixels
}

void TCustomDIBKnob::AdjustSize() {
    TAbstractSuperDIB* strip = nullptr;
    // While a form is read NumGlyphs may still change: Loaded sizes the knob.
    if (LoadingConstruction() || !fIndexMain->GetImage(strip)) return;
    SetBounds(Left(), Top(), strip->Width() / fNumGlyphs, strip->Height());
}

// ---------------------------------------------------------------------------------------------
// painting

int TCustomDIBKnob::FrameIndex() const {
    const int64_t span = int64_t(fMax) - fMin + 1;
    if (span <= 0) return 0;
    return int((int64_t(fPosition) - fMin) * fNumGlyphs / span);
}

void TCustomDIBKnob::PaintControl() {
    TAbstractSuperDIB* strip = nullptr;
    if (!fIndexMain->GetImage(strip)) return;
    if (fDrawTweens)
        strip->DrawTween(0, 0, fLoopLastFrame, fPosition, fMax, fMin, ScratchDIB(), fNumGlyphs);
    else
        strip->DrawFrame(0, 0, ScratchDIB(), fNumGlyphs, FrameIndex());
}

// ---------------------------------------------------------------------------------------------
// mouse and keys

void TCustomDIBKnob::BeginDrag() {
    fDragging = true;
    fDragOrigin = ScreenCursorPos();
    fDragRef = fDragOrigin;
    SetScreenCursorVisible(false);
}

void TCustomDIBKnob::EndDrag() {
    fDragging = false;
    SetScreenCursorPos(fDragOrigin);
    SetScreenCursorVisible(true);
}

void TCustomDIBKnob::HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseDown(button, shift, x, y);
    if (alive.expired()) return;
    if (button == mbLeft && !fDragging) BeginDrag();
}

void TCustomDIBKnob::HandleMouseMove(TShiftState shift, int32_t x, int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseMove(shift, x, y);
    if (alive.expired() || !fDragging) return;
    // The event's own coordinates are not used: the cursor is read from the screen and put
    // back after each step.
    const TPoint c = ScreenCursorPos();
    const int64_t delta =
        fOrientation == koVertical ? int64_t(fDragRef.Y) - c.Y : int64_t(c.X) - fDragRef.X;
    if (delta == 0) return;
    StepPosition(delta * fSmallChange);
    if (alive.expired() || !fDragging) return;
    SetScreenCursorPos(fDragOrigin);
    // Where the platform cannot move the cursor this reads back where it still is, and the next
    // step is measured from there.
    fDragRef = ScreenCursorPos();
}

void TCustomDIBKnob::HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseUp(button, shift, x, y);
    if (alive.expired()) return;
    if (button == mbLeft && fDragging) EndDrag();
}

// A drag cut short by disabling or hiding the knob gives the cursor back.
void TCustomDIBKnob::EnabledChanged() {
    TCustomDIBControl::EnabledChanged();
    if (!Enabled() && fDragging) EndDrag();
}

void TCustomDIBKnob::VisibleChanged() {
    TCustomDIBControl::VisibleChanged();
    if (!Visible() && fDragging) EndDrag();
}

void TCustomDIBKnob::KeyDown(uint16_t& key, TShiftState shift) {
    TCustomDIBControl::KeyDown(key, shift);
    switch (key) {
    case vkPrior:
        StepPosition(fPageSize);
        break;
    case vkNext:
        StepPosition(-int64_t(fPageSize));
        break;
    case vkUp:
    case vkRight:
        StepPosition(fSmallChange);
        break;
    case vkDown:
    case vkLeft:
        StepPosition(-int64_t(fSmallChange));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// published properties

void TCustomDIBKnob::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    TCustomDIBControl::GetProperties(list);
    using K = TDIBPropertyKind;
    using C = TCustomDIBControl;
    using V = TDIBPropertyValue;
    list.push_back({"AutoSize", K::Boolean, [](const C& c) { return V(c.AutoSize()); },
                    [](C& c, const V& v) { c.SetAutoSize(std::get<bool>(v)); }});
    list.push_back({"DrawTweens", K::Boolean, [](const C& c) { return V(Knob(c).DrawTweens()); },
                    [](C& c, const V& v) { Knob(c).SetDrawTweens(std::get<bool>(v)); }});
    list.push_back({"IndexMain", K::Object});
    list.push_back({"LoopLastFrame", K::Boolean,
                    [](const C& c) { return V(Knob(c).LoopLastFrame()); },
                    [](C& c, const V& v) { Knob(c).SetLoopLastFrame(std::get<bool>(v)); }});
    list.push_back({"Max", K::Integer, [](const C& c) { return V(int64_t(Knob(c).Max())); },
                    [](C& c, const V& v) { Knob(c).SetMax(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"Min", K::Integer, [](const C& c) { return V(int64_t(Knob(c).Min())); },
                    [](C& c, const V& v) { Knob(c).SetMin(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"NumGlyphs", K::Integer,
                    [](const C& c) { return V(int64_t(Knob(c).NumGlyphs())); },
                    [](C& c, const V& v) { Knob(c).SetNumGlyphs(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"Orientation", K::Enumeration,
                    [](const C& c) { return V(int64_t(Knob(c).Orientation())); },
                    [](C& c, const V& v) {
                        Knob(c).SetOrientation(PropertyEnum<EDIBKnobError, TKnobOrientation>(
                            v, {{"koVertical", koVertical}, {"koHorizontal", koHorizontal}}));
                    }});
    list.push_back(
        {"PageSize", K::Integer, [](const C& c) { return V(int64_t(Knob(c).PageSize())); },
         [](C& c, const V& v) { Knob(c).SetPageSize(int(ClampToInt32(PropertyInt(v)))); }});
    list.push_back({"Position", K::Integer,
                    [](const C& c) { return V(int64_t(Knob(c).Position())); },
                    [](C& c, const V& v) { Knob(c).SetPosition(ClampToInt32(PropertyInt(v))); }});
    list.push_back(
        {"SmallChange", K::Integer, [](const C& c) { return V(int64_t(Knob(c).SmallChange())); },
         [](C& c, const V& v) { Knob(c).SetSmallChange(int(ClampToInt32(PropertyInt(v)))); }});
    list.push_back({"OnChange", K::Event});
}
