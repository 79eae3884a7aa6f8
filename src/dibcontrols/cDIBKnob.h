// The knob: a rotary control drawn from a film strip (all its pictures side by side, minimum
// position leftmost). It holds an integer Position between Min and Max and is turned by dragging
// with the pointer hidden and held where the drag began, so the screen edge never stops a drag.
#pragma once

#include "dibcontrols/cDIBControl.h"
#include "dibcontrols/dibrange.h"

#include <cstdint>

class EDIBKnobError : public Exception {
  public:
    using Exception::Exception;
};

using TKnobInc = TDIBRangeInc;

enum TKnobOrientation : uint8_t { koVertical, koHorizontal };

class TCustomDIBKnob : public TCustomDIBControl {
  public:
    explicit TCustomDIBKnob(TComponent* owner);
    ~TCustomDIBKnob() override;
    std::string_view ClassName() const override { return "TCustomDIBKnob"; }

    void Loaded() override;

    TDIBImageLink& IndexMain() const { return *fIndexMain; }

    // Clamped into Min..Max; OnChange only when the stored value changes; always invalidates.
    int32_t Position() const { return fRange.Position(); }
    void SetPosition(int32_t value);
    // Max <= Min lowers Min to Max - 1; Min >= Max raises Max to Min + 1. Position follows.
    int32_t Max() const { return fRange.Max(); }
    void SetMax(int32_t value);
    int32_t Min() const { return fRange.Min(); }
    void SetMin(int32_t value);
    // Values outside 1..32767 are brought into it.
    TKnobInc SmallChange() const { return fRange.SmallChange(); }
    void SetSmallChange(int value) { fRange.SetSmallChange(value); }
    TKnobInc PageSize() const { return fRange.PageSize(); }
    void SetPageSize(int value) { fRange.SetPageSize(value); }
    // Frames in the strip; <= 0 raises EDIBKnobError.
    int32_t NumGlyphs() const { return fNumGlyphs; }
    void SetNumGlyphs(int32_t value);
    bool DrawTweens() const { return fDrawTweens; }
    void SetDrawTweens(bool value);
    bool LoopLastFrame() const { return fLoopLastFrame; }
    void SetLoopLastFrame(bool value);
    TKnobOrientation Orientation() const { return fOrientation; }
    void SetOrientation(TKnobOrientation value) { fOrientation = value; }

    const TNotifyEvent& OnChange() const { return fOnChange; }
    void SetOnChange(TNotifyEvent e) { fOnChange = std::move(e); }

    bool Dragging() const { return fDragging; }

    // The published properties, read by the form loader as well.
    static std::span<const TDIBPropertyInfo> PublishedProperties();

  protected:
    // Hides the cursor and remembers where it is.
    virtual void BeginDrag();
    // The strip frame for Position.
    virtual int FrameIndex() const;
    // Puts the cursor back where the drag began and shows it.
    virtual void EndDrag();

    void PaintControl() override;
    void AdjustSize() override;
    void ImageChanged(TDIBImageLink& link, int index, TDIBImageChange kind) override;
    void HandleMouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseMove(TShiftState shift, int32_t x, int32_t y) override;
    void HandleMouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
    void KeyDown(uint16_t& key, TShiftState shift) override;
    void EnabledChanged() override;
    void VisibleChanged() override;
    void GetProperties(std::vector<TDIBPropertyInfo>& list) const override;

  private:
    void StepPosition(int64_t delta) { SetPosition(fRange.Stepped(delta)); }

    bool fDragging = false;
    TPoint fDragOrigin;
    // Where the cursor was after the last pin. It is the origin when the platform can move the
    // cursor; where it cannot, deltas are taken from the last position instead (relative motion).
    TPoint fDragRef;
    TDIBImageLink* fIndexMain;
    TDIBRange fRange;
    int32_t fNumGlyphs = 1;
    bool fDrawTweens = false;
    bool fLoopLastFrame = false;
    TNotifyEvent fOnChange;
    TKnobOrientation fOrientation = koVertical;
};

class TDIBKnob : public TCustomDIBKnob {
  public:
    using TCustomDIBKnob::TCustomDIBKnob;
    std::string_view ClassName() const override { return "TDIBKnob"; }
};
