#include "dibcontrols/cDIBKnob.h"

#include "dibcontrols/propertyvalue.h"

#include <iterator>

namespace {

using K = TCustomDIBKnob;

constexpr TDIBEnumName kOrientations[] = {{"koVertical", koVertical},
                                          {"koHorizontal", koHorizontal}};

// Template properties are stored and read back in the order of the rows.
constexpr TDIBPropertyInfo kProperties[] = {
    BooleanProperty<&K::AutoSize, &K::SetAutoSize>("AutoSize", kTemplated),
    BooleanProperty<&K::DrawTweens, &K::SetDrawTweens>("DrawTweens", kTemplated),
    LinkProperty<&K::IndexMain>("IndexMain"),
    BooleanProperty<&K::LoopLastFrame, &K::SetLoopLastFrame>("LoopLastFrame", kTemplated),
    IntegerProperty<&K::Min, &K::SetMin>("Min", kTemplated),
    IntegerProperty<&K::Max, &K::SetMax>("Max", kTemplated),
    // The setter alone judges the count, whichever way it arrives.
    IntegerProperty<&K::NumGlyphs, &K::SetNumGlyphs>("NumGlyphs", kTemplated),
    EnumProperty<&K::Orientation, &K::SetOrientation, kOrientations, EDIBKnobError>("Orientation",
                                                                                    kTemplated),
    StepProperty<&K::PageSize, &K::SetPageSize>("PageSize", kTemplated),
    IntegerProperty<&K::Position, &K::SetPosition>("Position", kTemplated),
    StepProperty<&K::SmallChange, &K::SetSmallChange>("SmallChange", kTemplated),
    EventProperty<&K::SetOnChange>("OnChange"),
};

} // namespace

std::span<const TDIBPropertyInfo> TCustomDIBKnob::PublishedProperties() {
    return kProperties;
}

TCustomDIBKnob::TCustomDIBKnob(TComponent* owner)
    : TCustomDIBControl(owner), fIndexMain(&CreateImageLink()) {
    SetAutoSize(true);
    RegisterTemplateProperties(kProperties);
    RegisterTemplateProperty("Opacity");
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
    if (fRange.SetPosition(value)) {
        auto alive = AliveToken();
        if (fOnChange) fOnChange(this);
        if (alive.expired()) return;
    }
    Invalidate();
}

void TCustomDIBKnob::SetMax(int32_t value) {
    if (fRange.SetMax(value)) SetPosition(fRange.Max());
    Invalidate();
}

void TCustomDIBKnob::SetMin(int32_t value) {
    if (fRange.SetMin(value)) SetPosition(fRange.Min());
    Invalidate();
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
    const int64_t span = int64_t(Max()) - Min() + 1;
    if (span <= 0) return 0;
    return int((int64_t(Position()) - Min()) * fNumGlyphs / span);
}

void TCustomDIBKnob::PaintControl() {
    TAbstractSuperDIB* strip = nullptr;
    if (!fIndexMain->GetImage(strip)) return;
    if (fDrawTweens)
        strip->DrawTween(0, 0, fLoopLastFrame, Position(), Max(), Min(), ScratchDIB(), fNumGlyphs);
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
    StepPosition(delta * SmallChange());
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
        StepPosition(PageSize());
        break;
    case vkNext:
        StepPosition(-int64_t(PageSize()));
        break;
    case vkUp:
    case vkRight:
        StepPosition(SmallChange());
        break;
    case vkDown:
    case vkLeft:
        StepPosition(-int64_t(SmallChange()));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// published properties

void TCustomDIBKnob::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    TCustomDIBControl::GetProperties(list);
    list.insert(list.end(), std::begin(kProperties), std::end(kProperties));
}
