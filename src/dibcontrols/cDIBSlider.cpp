#include "dibcontrols/cDIBSlider.h"

#include "dibcontrols/propertyvalue.h"

#include <algorithm>
#include <iterator>

namespace {

// Inside tests count the Right column and Bottom row as outside.
bool Inside(const TDIBRect& r, int32_t x, int32_t y) {
    return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

int32_t RectWidth(const TDIBRect& r) {
    return r.Right - r.Left + 1;
}
int32_t RectHeight(const TDIBRect& r) {
    return r.Bottom - r.Top + 1;
}

// Offsets and pixel distances never exceed a control's size; bounding them keeps the products
// below inside 64 bits.
constexpr int64_t kPixelBound = int64_t(1) << 24;

using S = TCustomDIBSlider;

constexpr TDIBEnumName kSliderTypes[] = {{"stHorizontal", stHorizontal},
                                         {"stVertical", stVertical}};

// Template properties are stored and read back in the order of the rows.
constexpr TDIBPropertyInfo kProperties[] = {
    BooleanProperty<&S::AutoSize, &S::SetAutoSize>("AutoSize", kTemplated),
    LinkProperty<&S::IndexEnd1>("IndexEnd1"),
    LinkProperty<&S::IndexEnd2>("IndexEnd2"),
    LinkProperty<&S::IndexMain>("IndexMain"),
    LinkProperty<&S::IndexOverlay>("IndexOverlay"),
    LinkProperty<&S::IndexPointer>("IndexPointer"),
    StepProperty<&S::LargeChange, &S::SetLargeChange>("LargeChange", kTemplated),
    IntegerProperty<&S::Min, &S::SetMin>("Min", kTemplated),
    IntegerProperty<&S::Max, &S::SetMax>("Max", kTemplated),
    ByteProperty<&S::OverlayBorderX, &S::SetOverlayBorderX>("OverlayBorderX", kTemplated),
    ByteProperty<&S::OverlayBorderY, &S::SetOverlayBorderY>("OverlayBorderY", kTemplated),
    ByteProperty<&S::OverlayOpacity, &S::SetOverlayOpacity>("OverlayOpacity", kTemplated),
    StepProperty<&S::PageSize, &S::SetPageSize>("PageSize", kTemplated),
    IntegerProperty<&S::PointerOffset, &S::SetPointerOffset>("PointerOffset", kTemplated),
    ByteProperty<&S::PointerOpacityHigh, &S::SetPointerOpacityHigh>("PointerOpacityHigh",
                                                                    kTemplated),
    ByteProperty<&S::PointerOpacityLow, &S::SetPointerOpacityLow>("PointerOpacityLow", kTemplated),
    IntegerProperty<&S::Position, &S::SetPosition>("Position", kTemplated),
    EnumProperty<&S::SliderType, &S::SetSliderType, kSliderTypes, EDIBControlError>("SliderType",
                                                                                    kTemplated),
    StepProperty<&S::SmallChange, &S::SetSmallChange>("SmallChange", kTemplated),
    BooleanProperty<&S::StretchBackground, &S::SetStretchBackground>("StretchBackground",
                                                                     kTemplated),
    EventProperty<&S::SetOnChange>("OnChange"),
};

} // namespace

std::span<const TDIBPropertyInfo> TCustomDIBSlider::PublishedProperties() {
    return kProperties;
}

TCustomDIBSlider::TCustomDIBSlider(TComponent* owner)
    : TCustomDIBControl(owner), fIndexEnd1(&CreateImageLink()), fIndexEnd2(&CreateImageLink()),
      fIndexMain(&CreateImageLink()), fIndexOverlay(&CreateImageLink()),
      fIndexPointer(&CreateImageLink()) {
    SetAutoSize(true);
    fSizeReady = true; // a new slider keeps its first size until it has images
    SetAutoRepeat(true);
    RegisterTemplateProperties(kProperties);
    RegisterTemplateProperty("Opacity");
}

void TCustomDIBSlider::Loaded() {
    TCustomDIBControl::Loaded();
    fLastNotified = Position();
    if (AutoSize()) AdjustSize();
    PlaceThumb();
}

// ---------------------------------------------------------------------------------------------
// geometry

TSize TCustomDIBSlider::ImageSize(TDIBImageLink& link) {
    TAbstractSuperDIB* image = nullptr;
    if (!link.GetImage(image) || !image->HasPixels()) return {};
    return {image->Width(), image->Height()};
}

int32_t TCustomDIBSlider::Travel() const {
    const int32_t t =
        fSliderType == stHorizontal
            ? (fTrackRect.Right - fTrackRect.Left) - (fThumbRect.Right - fThumbRect.Left)
            : (fTrackRect.Bottom - fTrackRect.Top) - (fThumbRect.Bottom - fThumbRect.Top);
    return std::max(t, 0);
}

int32_t TCustomDIBSlider::ToOffset(int32_t position) const {
    const int64_t travel = Travel();
    const int64_t range = int64_t(Max()) - Min();
    const int64_t from = int64_t(position) - Min();
    const int64_t offset = range != 0 ? travel * from / range : travel * from;
    return int32_t(std::clamp<int64_t>(offset, 0, travel));
}

// The inverse of ToOffset up to truncation: Min is added back, so a slider whose Min is not 0
// maps a pixel back to the position that maps to it.
int32_t TCustomDIBSlider::ToPosition(int32_t offset) const {
    const int64_t travel = Travel();
    const int32_t min = Min(), max = Max();
    if (travel == 0) return min;
    const int64_t range = int64_t(max) - min;
    const int64_t px = std::clamp<int64_t>(offset, -kPixelBound, kPixelBound);
    return ClampToInt32(std::clamp<int64_t>(min + px * range / travel, min, max));
}

void TCustomDIBSlider::Layout() {
    const int32_t W = Width(), H = Height();
    const bool horizontal = fSliderType == stHorizontal;
    TDIBRect start{-1, -1, -1, -1};
    TDIBRect end{W, H, W, H};
    TDIBRect track = start;
    if (const TSize s = ImageSize(*fIndexEnd1); s.Width > 0) {
        const int32_t x = horizontal ? 0 : W / 2 - s.Width / 2;
        const int32_t y = horizontal ? H / 2 - s.Height / 2 : 0;
        start = {x, y, x + s.Width - 1, y + s.Height - 1};
    }
    if (const TSize s = ImageSize(*fIndexEnd2); s.Width > 0) {
        const int32_t x = horizontal ? std::max(W - s.Width - 1, start.Right) : W / 2 - s.Width / 2;
        const int32_t y =
            horizontal ? H / 2 - s.Height / 2 : std::max(H - s.Height - 1, start.Bottom);
        end = {x, y, x + s.Width - 1, y + s.Height - 1};
    }
    if (const TSize s = ImageSize(*fIndexMain); s.Width > 0) {
        // Without caps the track reaches one pixel beyond each end of the control.
        track = {start.Right, start.Bottom, end.Left, end.Top};
        if (horizontal) {
            track.Top = H / 2 - s.Height / 2;
            track.Bottom = track.Top + s.Height - 1;
        } else {
            track.Left = W / 2 - s.Width / 2;
            track.Right = track.Left + s.Width - 1;
        }
    }
    fStartCapRect = start;
    fEndCapRect = end;
    fTrackRect = track;
    fOverlayRect = {track.Left + fOverlayBorderX, track.Top + fOverlayBorderY,
                    track.Right - fOverlayBorderX, track.Bottom - fOverlayBorderY};
    fThumbRect = {-1, -1, -1, -1};
    if (const TSize s = ImageSize(*fIndexPointer); s.Width > 0) {
        const int32_t x =
            horizontal ? track.Left + fThumbOffset : W / 2 + fPointerOffset - s.Width / 2;
        const int32_t y =
            horizontal ? H / 2 + fPointerOffset - s.Height / 2 : track.Top + fThumbOffset;
        fThumbRect = {x, y, x + s.Width - 1, y + s.Height - 1};
    }
}

void TCustomDIBSlider::PlaceThumb() {
    Layout(); // the travel depends on the rectangles, not on the thumb's place
    fThumbOffset = ToOffset(Position());
    Layout();
    Invalidate();
}

void TCustomDIBSlider::Relayout() {
    if (AutoSize()) AdjustSize();
    // A new thumb or track length changes the travel: the thumb goes where Position puts it.
    if (!LoadingConstruction()) PlaceThumb();
    Invalidate();
}

TSize TCustomDIBSlider::MinimumSize() {
    const bool horizontal = fSliderType == stHorizontal;
    int32_t along = 2;
    for (TDIBImageLink* link : {fIndexEnd1, fIndexEnd2, fIndexMain}) {
        const TSize s = ImageSize(*link);
        along += horizontal ? s.Width : s.Height;
    }
    return horizontal ? TSize{along, 2} : TSize{2, along};
}

void TCustomDIBSlider::AdjustSize() {
    // While a form is read the type and images may still change: Loaded sizes the slider.
    if (!fSizeReady || LoadingConstruction()) return;
    Layout();
    const TSize m = MinimumSize();
    if (fSliderType == stHorizontal) {
        const int32_t across = std::max(
            {RectHeight(fStartCapRect), RectHeight(fEndCapRect), RectHeight(fTrackRect), m.Height});
        SetBounds(Left(), Top(), std::max(Width(), m.Width), across);
    } else {
        const int32_t across = std::max(
            {RectWidth(fStartCapRect), RectWidth(fEndCapRect), RectWidth(fTrackRect), m.Width});
        SetBounds(Left(), Top(), across, std::max(Height(), m.Height));
    }
}

void TCustomDIBSlider::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    const TSize m = MinimumSize();
    TCustomDIBControl::SetBounds(left, top, std::max(width, m.Width), std::max(height, m.Height));
    if (!LoadingConstruction()) PlaceThumb();
}

void TCustomDIBSlider::ImageChanged(TDIBImageLink&, int, TDIBImageChange) {
    Relayout();
}

// ---------------------------------------------------------------------------------------------
// properties

void TCustomDIBSlider::Change() {
    if (Position() == fLastNotified) return;
    // Noted before the handler runs: a handler that sets Position again is told of that once,
    // instead of again and again about the value it already answered.
    fLastNotified = Position();
    if (fOnChange) fOnChange(this);
}

void TCustomDIBSlider::SetPosition(int32_t value) {
    fRange.SetPosition(value);
    PlaceThumb();
    Change();
}

void TCustomDIBSlider::SetMax(int32_t value) {
    if (fRange.SetMax(value))
        SetPosition(Max());
    else if (!LoadingConstruction())
        PlaceThumb(); // same position, new range: the thumb moves
}

void TCustomDIBSlider::SetMin(int32_t value) {
    if (fRange.SetMin(value))
        SetPosition(Min());
    else if (!LoadingConstruction())
        PlaceThumb();
}

void TCustomDIBSlider::SetSliderType(TSliderType value) {
    fSliderType = value;
    Relayout();
}

void TCustomDIBSlider::SetPointerOffset(int32_t value) {
    fPointerOffset = value;
    Relayout();
}

void TCustomDIBSlider::SetOverlayBorderX(uint8_t value) {
    fOverlayBorderX = value;
    Relayout();
}

void TCustomDIBSlider::SetOverlayBorderY(uint8_t value) {
    fOverlayBorderY = value;
    Relayout();
}

void TCustomDIBSlider::SetOverlayOpacity(uint8_t value) {
    fOverlayOpacity = value;
    Invalidate();
}

void TCustomDIBSlider::SetPointerOpacityLow(uint8_t value) {
    fPointerOpacityLow = value;
    Invalidate();
}

void TCustomDIBSlider::SetPointerOpacityHigh(uint8_t value) {
    fPointerOpacityHigh = value;
    Invalidate();
}

void TCustomDIBSlider::SetStretchBackground(bool value) {
    fStretchBackground = value;
    Invalidate();
}

// ---------------------------------------------------------------------------------------------
// painting

void TCustomDIBSlider::PaintControl() {
    TAbstractSuperDIB& dest = ScratchDIB();
    const bool horizontal = fSliderType == stHorizontal;
    TAbstractSuperDIB* image = nullptr;
    // Each fetch from the list replaces the one before, so every image is drawn as soon as it is
    // fetched.
    if (fIndexMain->GetImage(image) && image->HasPixels()) {
        const TDIBRect& t = fTrackRect;
        if (fStretchBackground) {
            const int32_t w = RectWidth(t), h = RectHeight(t);
            if (w > 0 && h > 0) {
                TMemoryDIB stretched(w, h);
                stretched.StretchFrom(*image);
                image->CopyPropertiesTo(stretched);
                stretched.Draw(t.Left, t.Top, w, h, dest, 0, 0);
            }
        } else {
            const TDIBRect saved = dest.ClipRect();
            const TDIBRect clip{std::max(saved.Left, t.Left), std::max(saved.Top, t.Top),
                                std::min(saved.Right, t.Right), std::min(saved.Bottom, t.Bottom)};
            if (clip.Left <= clip.Right && clip.Top <= clip.Bottom) {
                struct Restore {
                    TAbstractSuperDIB& d;
                    TDIBRect r;
                    ~Restore() { d.SetClipRect(r); }
                } restore{dest, saved};
                dest.SetClipRect(clip);
                const int32_t w = image->Width(), h = image->Height();
                if (horizontal)
                    for (int64_t x = t.Left; x < t.Right; x += w)
                        image->Draw(int(x), t.Top, w, h, dest, 0, 0);
                else
                    for (int64_t y = t.Top; y < t.Bottom; y += h)
                        image->Draw(t.Left, int(y), w, h, dest, 0, 0);
            }
        }
    }
    if (fIndexOverlay->GetImage(image) && image->HasPixels()) {
        const TDIBRect& o = fOverlayRect;
        const int32_t w = RectWidth(o), h = RectHeight(o);
        // Only the filled part, from the Min end to the thumb.
        const int32_t fillW = horizontal ? fThumbOffset - fOverlayBorderX : w;
        const int32_t fillH = horizontal ? h : fThumbOffset - fOverlayBorderY;
        if (w > 0 && h > 0 && fillW > 0 && fillH > 0) {
            TMemoryDIB stretched(w, h);
            stretched.StretchFrom(*image);
            image->CopyPropertiesTo(stretched);
            stretched.SetOpacity(fOverlayOpacity);
            stretched.Draw(o.Left, o.Top, fillW, fillH, dest, 0, 0);
        }
    }
    if (fIndexEnd1->GetImage(image))
        image->Draw(fStartCapRect.Left, fStartCapRect.Top, image->Width(), image->Height(), dest, 0,
                    0);
    if (fIndexEnd2->GetImage(image))
        image->Draw(fEndCapRect.Left, fEndCapRect.Top, image->Width(), image->Height(), dest, 0, 0);
    if (fIndexPointer->GetImage(image)) {
        // The list's view only: the stored image keeps its own opacity.
        image->SetOpacity(fDragging ? fPointerOpacityHigh : fPointerOpacityLow);
        image->Draw(fThumbRect.Left, fThumbRect.Top, image->Width(), image->Height(), dest, 0, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// mouse and keys

void TCustomDIBSlider::HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x,
                                       int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseDown(button, shift, x, y);
    if (alive.expired() || !fIndexPointer->IsValid()) return;
    const bool horizontal = fSliderType == stHorizontal;
    const TDIBRect& th = fThumbRect;
    const int32_t along = horizontal ? x : y;
    const bool levelWithThumb =
        horizontal ? (x >= th.Left && x < th.Right) : (y >= th.Top && y < th.Bottom);
    if (Inside(th, x, y) || (AutoRepeatRunning() && levelWithThumb)) {
        StopAutoRepeat();
        fDragging = true;
        fGrab = {x - th.Left, y - th.Top};
        Invalidate();
        return;
    }
    if (Inside(fStartCapRect, x, y)) {
        StepPosition(-int64_t(SmallChange()));
        return;
    }
    if (Inside(fEndCapRect, x, y)) {
        StepPosition(SmallChange());
        return;
    }
    // A track press steps toward the press point, at most LargeChange at a time.
    const int32_t centre =
        horizontal ? th.Left + (th.Right - th.Left) / 2 : th.Top + (th.Bottom - th.Top) / 2;
    const int64_t d = int64_t(along) - centre;
    const int64_t distance = int64_t(ToPosition(ClampToInt32(d < 0 ? -d : d))) - Min();
    const int64_t step = std::min<int64_t>(distance, fLargeChange);
    StepPosition(d < 0 ? -step : step);
}

void TCustomDIBSlider::HandleMouseMove(TShiftState shift, int32_t x, int32_t y) {
    auto alive = AliveToken();
    TCustomDIBControl::HandleMouseMove(shift, x, y);
    if (alive.expired() || !fDragging) return;
    const int32_t travel = Travel();
    if (travel == 0) return;
    const int64_t offset = fSliderType == stHorizontal ? int64_t(x) - fTrackRect.Left - fGrab.X
                                                       : int64_t(y) - fTrackRect.Top - fGrab.Y;
    const int32_t px = int32_t(std::clamp<int64_t>(offset, -kPixelBound, kPixelBound));
    // The thumb follows the mouse pixel by pixel and keeps that place after the release.
    fThumbOffset = std::clamp(px, 0, travel);
    fRange.SetPosition(ToPosition(px)); // inside Min..Max already
    Layout();
    Invalidate();
    Change();
}

void TCustomDIBSlider::HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    if (fDragging) Invalidate();
    fDragging = false;
    TCustomDIBControl::HandleMouseUp(button, shift, x, y);
}

void TCustomDIBSlider::KeyDown(uint16_t& key, TShiftState shift) {
    TCustomDIBControl::KeyDown(key, shift);
    const bool horizontal = fSliderType == stHorizontal;
    switch (key) {
    case vkLeft:
        if (horizontal) StepPosition(-int64_t(SmallChange()));
        break;
    case vkRight:
        if (horizontal) StepPosition(SmallChange());
        break;
    case vkUp:
        if (!horizontal) StepPosition(-int64_t(SmallChange()));
        break;
    case vkDown:
        if (!horizontal) StepPosition(SmallChange());
        break;
    case vkPrior:
        StepPosition(-int64_t(PageSize()));
        break;
    case vkNext:
        StepPosition(PageSize());
        break;
    default:
        break;
    }
}

void TCustomDIBSlider::DIBEnter() {
    Invalidate();
    TCustomDIBControl::DIBEnter();
}

void TCustomDIBSlider::DIBExit() {
    Invalidate();
    TCustomDIBControl::DIBExit();
}

// ---------------------------------------------------------------------------------------------
// published properties

void TCustomDIBSlider::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    TCustomDIBControl::GetProperties(list);
    list.insert(list.end(), std::begin(kProperties), std::end(kProperties));
}
