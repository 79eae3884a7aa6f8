// A skinned control that shows one image of an image list, optionally turned, scaled, stretched
// to the control or centred in it, and reports clicks (also without an image).
#pragma once

#include "dibcontrols/cDIBControl.h"

class TCustomDIBImage : public TCustomDIBControl {
  public:
    explicit TCustomDIBImage(TComponent* owner);
    std::string_view ClassName() const override { return "TCustomDIBImage"; }

    // Degrees; reduced modulo 360 like an image's Angle.
    TAngle Angle() const { return fAngle; }
    void SetAngle(int angle);
    bool Center() const { return fCenter; }
    void SetCenter(bool center);
    TDIBImageLink& IndexMain() const { return *fIndexMain; }
    // Percent; switches Stretch off.
    long double Scale() const { return fScale; }
    void SetScale(long double scale);
    // Scales the image to the control in whole percents; switches AutoSize off.
    bool Stretch() const { return fStretch; }
    void SetStretch(bool stretch);

  protected:
    void PaintControl() override;
    void ImageChanged(TDIBImageLink& link, int index, TDIBImageChange kind) override;
    // The bounding box of the image under Angle and Scale, sides rounded up to even.
    void AdjustSize() override;
    void GetProperties(std::vector<TDIBPropertyInfo>& list) const override;

  private:
    void ResizeIfAuto();

    TAngle fAngle = 0;
    bool fCenter = false;
    TDIBImageLink* fIndexMain;
    long double fScale = 100.0L;
    bool fStretch = false;
};

class TDIBImage : public TCustomDIBImage {
  public:
    using TCustomDIBImage::TCustomDIBImage;
    std::string_view ClassName() const override { return "TDIBImage"; }
};
