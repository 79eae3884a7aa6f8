// The slider: a linear control built from a track (stretched or tiled along it), an optional
// overlay filling the track up to the thumb, two optional end caps and the thumb ("pointer"). It
// holds an integer Position between Min and Max. The thumb can be dragged; a press on the track
// steps toward the press point and keeps stepping while the button is held (press auto-repeat),
// until the thumb reaches the cursor and the press becomes a drag.
#pragma once

#include "dibcontrols/cDIBControl.h"
#include "dibcontrols/dibrange.h"

#include <cstdint>

using TSliderInc = TDIBRangeInc;

enum TSliderType : uint8_t { stHorizontal, stVertical };

class TCustomDIBSlider : public TCustomDIBControl {
  public:
    explicit TCustomDIBSlider(TComponent* owner);
    std::string_view ClassName() const override { return "TCustomDIBSlider"; }

    // A width or height below the minimum size is raised to it; the thumb is placed anew.
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void Loaded() override;

    TDIBImageLink& IndexEnd1() const { return *fIndexEnd1; }
    TDIBImageLink& IndexEnd2() const { return *fIndexEnd2; }
    TDIBImageLink& IndexMain() const { return *fIndexMain; }
    TDIBImageLink& IndexOverlay() const { return *fIndexOverlay; }
    TDIBImageLink& IndexPointer() const { return *fIndexPointer; }

    // Clamped into Min..Max; the thumb moves to match; OnChange once per effective change.
    int32_t Position() const { return fRange.Position(); }
    void SetPosition(int32_t value);
    // Max <= Min lowers Min to Max - 1; Min >= Max raises Max to Min + 1. Position follows.
    int32_t Max() const { return fRange.Max(); }
    void SetMax(int32_t value);
    int32_t Min() const { return fRange.Min(); }
    void SetMin(int32_t value);
    // Values outside 1..32767 are brought into it.
    TSliderInc SmallChange() const { return fRange.SmallChange(); }
    void SetSmallChange(int value) { fRange.SetSmallChange(value); }
    TSliderInc LargeChange() const { return fLargeChange; }
    void SetLargeChange(int value) { fLargeChange = TDIBRange::Step(value); }
    TSliderInc PageSize() const { return fRange.PageSize(); }
    void SetPageSize(int value) { fRange.SetPageSize(value); }
    TSliderType SliderType() const { return fSliderType; }
    void SetSliderType(TSliderType value);
    int32_t PointerOffset() const { return fPointerOffset; }
    void SetPointerOffset(int32_t value);
    uint8_t OverlayBorderX() const { return fOverlayBorderX; }
    void SetOverlayBorderX(uint8_t value);
    uint8_t OverlayBorderY() const { return fOverlayBorderY; }
    void SetOverlayBorderY(uint8_t value);
    uint8_t OverlayOpacity() const { return fOverlayOpacity; }
    void SetOverlayOpacity(uint8_t value);
    uint8_t PointerOpacityLow() const { return fPointerOpacityLow; }
    void SetPointerOpacityLow(uint8_t value);
    uint8_t PointerOpacityHigh() const { return fPointerOpacityHigh; }
    void SetPointerOpacityHigh(uint8_t value);
    bool StretchBackground() const { return fStretchBackground; }
    void SetStretchBackground(bool value);

    const TNotifyEvent& OnChange() const { return fOnChange; }
    void SetOnChange(TNotifyEvent e) { fOnChange = std::move(e); }

    // Thumb offset along the travel (0..Travel()) for a position, and the position for an offset.
    int32_t ToOffset(int32_t position) const;
    int32_t ToPosition(int32_t offset) const;
    // Pixels the thumb can move: track length minus thumb length (0 when the thumb does not fit).
    int32_t Travel() const;
    int32_t ThumbOffset() const { return fThumbOffset; }
    bool Dragging() const { return fDragging; }

    // The layout's rectangles, control coordinates, all edges inclusive.
    const TDIBRect& StartCapRect() const { return fStartCapRect; }
    const TDIBRect& EndCapRect() const { return fEndCapRect; }
    const TDIBRect& TrackRect() const { return fTrackRect; }
    const TDIBRect& OverlayRect() const { return fOverlayRect; }
    const TDIBRect& ThumbRect() const { return fThumbRect; }

    // The published properties, read by the form loader as well.
    static std::span<const TDIBPropertyInfo> PublishedProperties();

  protected:
    // Along the axis 2 + the cap and track image lengths; across it 2.
    virtual TSize MinimumSize();
    // OnChange if Position differs from the last one notified.
    virtual void Change();

    void PaintControl() override;
    void AdjustSize() override;
    void ImageChanged(TDIBImageLink& link, int index, TDIBImageChange kind) override;
    void HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseMove(TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void KeyDown(uint16_t& key, TShiftState shift) override;
    void DIBEnter() override;
    void DIBExit() override;
    void GetProperties(std::vector<TDIBPropertyInfo>& list) const override;

  private:
    void Layout();
    // Resize under AutoSize, else lay out again.
    void Relayout();
    // Thumb to ToOffset(Position), layout, invalidate.
    void PlaceThumb();
    void StepPosition(int64_t delta) { SetPosition(fRange.Stepped(delta)); }
    // Width and height of the image a link yields, or 0 x 0.
    TSize ImageSize(TDIBImageLink& link);

    bool fSizeReady = false;
    TPoint fGrab;
    bool fDragging = false;
    int32_t fThumbOffset = 0;
    uint8_t fPointerOpacityLow = 196;
    uint8_t fPointerOpacityHigh = 255;
    TDIBImageLink* fIndexEnd1;
    TDIBImageLink* fIndexEnd2;
    TDIBImageLink* fIndexMain;
    TDIBImageLink* fIndexOverlay;
    TDIBImageLink* fIndexPointer;
    TSliderInc fLargeChange = 5;
    int32_t fLastNotified = 0;
    TDIBRange fRange;
    uint8_t fOverlayOpacity = 64;
    uint8_t fOverlayBorderX = 0;
    uint8_t fOverlayBorderY = 0;
    int32_t fPointerOffset = 0;
    TDIBRect fStartCapRect{-1, -1, -1, -1};
    TDIBRect fEndCapRect{-1, -1, -1, -1};
    TDIBRect fTrackRect{-1, -1, -1, -1};
    TDIBRect fOverlayRect{-1, -1, -1, -1};
    TDIBRect fThumbRect{-1, -1, -1, -1};
    TSliderType fSliderType = stHorizontal;
    bool fStretchBackground = true;
    TNotifyEvent fOnChange;
};

class TDIBSlider : public TCustomDIBSlider {
  public:
    using TCustomDIBSlider::TCustomDIBSlider;
    std::string_view ClassName() const override { return "TDIBSlider"; }
};
