#include "dibcontrols/cDIBSlider.h"

#include "dibcontrols/propertyvalue.h"

#include <algorithm>
#include <limits>

namespace {

TSliderInc ClampInc(int v) {
    return TSliderInc(std::clamp(v, 1, 32767));
}

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

uint8_t AsByte(const TDIBPropertyValue& v) {
    return uint8_t(std::clamp<int64_t>(PropertyInt(v), 0, 255));
}

TCustomDIBSlider& Slider(TCustomDIBControl& c) {
    return static_cast<TCustomDIBSlider&>(c);
}
const TCustomDIBSlider& Slider(const TCustomDIBControl& c) {
    return static_cast<const TCustomDIBSlider&>(c);
}

// Offsets and pixel distances never exceed a control's size; bounding them keeps the products
// below inside 64 bits.
constexpr int64_t kPixelBound = int64_t(1) << 24;

} // namespace

TCustomDIBSlider::TCustomDIBSlider(TComponent* owner)
    : TCustomDIBControl(owner), fIndexEnd1(&CreateImageLink()), fIndexEnd2(&CreateImageLink()),
      fIndexMain(&CreateImageLink()), fIndexOverlay(&CreateImageLink()),
      fIndexPointer(&CreateImageLink()) {
    SetAutoSize(true);
    fSizeReady = true; // a new slider keeps its first size until it has images
    SetAutoRepeat(true);
    for (const char* name :
         {"AutoSize", "LargeChange", "Min", "Max", "Opacity", "OverlayBorderX", "OverlayBorderY",
          "OverlayOpacity", "PageSize", "PointerOffset", "PointerOpacityHigh", "PointerOpacityLow",
          "Position", "SliderType", "SmallChange", "StretchBackground"})
        RegisterTemplateProperty(name);
}

void TCustomDIBSlider::Loaded() {
    TCustomDIBControl::Loaded();
    fLastNotified = fPosition;
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
    const int64_t range = int64_t(fMax) - fMin;
    const int64_t from = int64_t(position) - fMin;
    const int64_t offset = range != 0 ? travel * from / range : travel * from;
    return int32_t(std::clamp<int64_t>(offset, 0, travel));
}

// The inverse of ToOffset up to truncation: Min is added back, so a slider whose Min is not 0
// maps a pixel back to the position that maps to it.
int32_t TCustomDIBSlider::ToPosition(int32_t offset) const {
    const int64_t travel = Travel();
    if (travel == 0) return fMin;
    const int64_t range = int64_t(fMax) - fMin;
    const int64_t px = std::clamp<int64_t>(offset, -kPixelBound, kPixelBound);
    return ClampToInt32(std::clamp<int64_t>(fMin + px * range / travel, fMin, fMax));
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
    fThumbOffset = ToOffset(fPosition);
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
    if (fPosition == fLastNotified) return;
    // Noted before the handler runs: a handler that sets Position again is told of that once,
    // instead of again and again about the value it already answered.
    fLastNotified = fPosition;
    if (fOnChange) fOnChange(this);
}

void TCustomDIBSlider::SetPosition(int32_t value) {
    fPosition = std::clamp(value, fMin, std::max(fMin, fMax));
    PlaceThumb();
    Change();
}

void TCustomDIBSlider::StepPosition(int64_t delta) {
    SetPosition(ClampToInt32(int64_t(fPosition) + delta));
}

void TCustomDIBSlider::SetMax(int32_t value) {
    fMax = value;
    // At the bottom of the range Min cannot go lower; it then equals Max.
    if (fMin >= fMax) fMin = ClampToInt32(int64_t(fMax) - 1);
    if (fPosition > fMax)
        SetPosition(fMax);
    else if (!LoadingConstruction())
        PlaceThumb(); // same position, new range: the thumb moves
}

void TCustomDIBSlider::SetMin(int32_t value) {
    fMin = value;
    if (fMin >= fMax) fMax = ClampToInt32(int64_t(fMin) + 1);
    if (fPosition < fMin)
        SetPosition(fMin);
    else if (!LoadingConstruction())
        PlaceThumb();
}

void TCustomDIBSlider::SetSmallChange(int value) {
    fSmallChange = ClampInc(value);
}
void TCustomDIBSlider::SetLargeChange(int value) {
    fLargeChange = ClampInc(value);
}
void TCustomDIBSlider::SetPageSize(int value) {
    fPageSize = ClampInc(value);
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
        StepPosition(-int64_t(fSmallChange));
        return;
    }
    if (Inside(fEndCapRect, x, y)) {
        StepPosition(fSmallChange);
        return;
    }
    // A track press steps toward the press point, at most LargeChange at a time.
    const int32_t centre =
        horizontal ? th.Left + (th.Right - th.Left) / 2 : th.Top + (th.Bottom - th.Top) / 2;
    const int64_t d = int64_t(along) - centre;
    const int64_t distance = int64_t(ToPosition(ClampToInt32(d < 0 ? -d : d))) - fMin;
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
    fPosition = ToPosition(px);
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
        if (horizontal) StepPosition(-int64_t(fSmallChange));
        break;
    case vkRight:
        if (horizontal) StepPosition(fSmallChange);
        break;
    case vkUp:
        if (!horizontal) StepPosition(-int64_t(fSmallChange));
        break;
    case vkDown:
        if (!horizontal) StepPosition(fSmallChange);
        break;
    case vkPrior:
        StepPosition(-int64_t(fPageSize));
        break;
    case vkNext:
        StepPosition(fPageSize);
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
    using K = TDIBPropertyKind;
    using C = TCustomDIBControl;
    using V = TDIBPropertyValue;
    list.push_back({"AutoSize", K::Boolean, [](const C& c) { return V(c.AutoSize()); },
                    [](C& c, const V& v) { c.SetAutoSize(std::get<bool>(v)); }});
    for (const char* link : {"IndexEnd1", "IndexEnd2", "IndexMain", "IndexOverlay", "IndexPointer"})
        list.push_back({link, K::Object});
    list.push_back(
        {"LargeChange", K::Integer, [](const C& c) { return V(int64_t(Slider(c).LargeChange())); },
         [](C& c, const V& v) { Slider(c).SetLargeChange(int(ClampToInt32(PropertyInt(v)))); }});
    list.push_back({"Max", K::Integer, [](const C& c) { return V(int64_t(Slider(c).Max())); },
                    [](C& c, const V& v) { Slider(c).SetMax(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"Min", K::Integer, [](const C& c) { return V(int64_t(Slider(c).Min())); },
                    [](C& c, const V& v) { Slider(c).SetMin(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"OverlayBorderX", K::Integer,
                    [](const C& c) { return V(int64_t(Slider(c).OverlayBorderX())); },
                    [](C& c, const V& v) { Slider(c).SetOverlayBorderX(AsByte(v)); }});
    list.push_back({"OverlayBorderY", K::Integer,
                    [](const C& c) { return V(int64_t(Slider(c).OverlayBorderY())); },
                    [](C& c, const V& v) { Slider(c).SetOverlayBorderY(AsByte(v)); }});
    list.push_back({"OverlayOpacity", K::Integer,
                    [](const C& c) { return V(int64_t(Slider(c).OverlayOpacity())); },
                    [](C& c, const V& v) { Slider(c).SetOverlayOpacity(AsByte(v)); }});
    list.push_back(
        {"PageSize", K::Integer, [](const C& c) { return V(int64_t(Slider(c).PageSize())); },
         [](C& c, const V& v) { Slider(c).SetPageSize(int(ClampToInt32(PropertyInt(v)))); }});
    list.push_back(
        {"PointerOffset", K::Integer,
         [](const C& c) { return V(int64_t(Slider(c).PointerOffset())); },
         [](C& c, const V& v) { Slider(c).SetPointerOffset(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"PointerOpacityHigh", K::Integer,
                    [](const C& c) { return V(int64_t(Slider(c).PointerOpacityHigh())); },
                    [](C& c, const V& v) { Slider(c).SetPointerOpacityHigh(AsByte(v)); }});
    list.push_back({"PointerOpacityLow", K::Integer,
                    [](const C& c) { return V(int64_t(Slider(c).PointerOpacityLow())); },
                    [](C& c, const V& v) { Slider(c).SetPointerOpacityLow(AsByte(v)); }});
    list.push_back({"Position", K::Integer,
                    [](const C& c) { return V(int64_t(Slider(c).Position())); },
                    [](C& c, const V& v) { Slider(c).SetPosition(ClampToInt32(PropertyInt(v))); }});
    list.push_back({"SliderType", K::Enumeration,
                    [](const C& c) { return V(int64_t(Slider(c).SliderType())); },
                    [](C& c, const V& v) {
                        Slider(c).SetSliderType(PropertyEnum<EDIBControlError, TSliderType>(
                            v, {{"stHorizontal", stHorizontal}, {"stVertical", stVertical}}));
                    }});
    list.push_back(
        {"SmallChange", K::Integer, [](const C& c) { return V(int64_t(Slider(c).SmallChange())); },
         [](C& c, const V& v) { Slider(c).SetSmallChange(int(ClampToInt32(PropertyInt(v)))); }});
    list.push_back({"StretchBackground", K::Boolean,
                    [](const C& c) { return V(Slider(c).StretchBackground()); },
                    [](C& c, const V& v) { Slider(c).SetStretchBackground(std::get<bool>(v)); }});
    list.push_back({"OnChange", K::Event});
}
