#include "dibcontrols/cDIBImage.h"

TCustomDIBImage::TCustomDIBImage(TComponent* owner)
    : TCustomDIBControl(owner), fIndexMain(&CreateImageLink()) {
    for (const char* name : {"Angle", "AutoSize", "Center", "Opacity", "Scale", "Stretch"})
        RegisterTemplateProperty(name);
}

void TCustomDIBImage::SetAngle(int angle) {
    fAngle = TAngle(uint16_t(angle) % 360);
    ResizeIfAuto();
    Invalidate();
}

void TCustomDIBImage::SetScale(long double scale) {
    fScale = scale;
    fStretch = false;
    ResizeIfAuto();
    Invalidate();
}

void TCustomDIBImage::SetCenter(bool center) {
    if (fCenter == center) return;
    fCenter = center;
    ResizeIfAuto();
    Invalidate();
}

void TCustomDIBImage::SetStretch(bool stretch) {
    fStretch = stretch;
    if (stretch) SetAutoSize(false);
    Invalidate();
}

void TCustomDIBImage::ImageChanged(TDIBImageLink&, int, TDIBImageChange) {
    if (AutoSize())
        AdjustSize();
    else
        Invalidate();
}

void TCustomDIBImage::ResizeIfAuto() {
    if (AutoSize()) AdjustSize();
}

void TCustomDIBImage::AdjustSize() {
    TAbstractSuperDIB* image = nullptr;
    if (!fIndexMain->IsValid() || !fIndexMain->GetImage(image)) return;
    int w = 0, h = 0;
    RotatedBoundingBox(image->Width(), image->Height(), fAngle, fScale, fScale, w, h);
    SetBounds(Left(), Top(), w, h);
}

void TCustomDIBImage::PaintControl() {
    TAbstractSuperDIB* image = nullptr;
    if (!fIndexMain->GetImage(image)) return;
    // The list's view: these settings never reach the stored image.
    image->SetAutoSize(true);
    image->SetAngle(fAngle);
    image->SetScale(fScale);
    if (fStretch) {
        // Whole percents, so a stretched image may stop a few pixels short of the edges.
        image->SetScaleX(Width() * 100 / image->Width());
        image->SetScaleY(Height() * 100 / image->Height());
    }
    int bw = 0, bh = 0;
    RotatedBoundingBox(image->Width(), image->Height(), image->Angle(), image->ScaleX(),
                       image->ScaleY(), bw, bh);
    int x = 0, y = 0;
    if (fCenter && !AutoSize()) {
        x = Width() / 2 - bw / 2;
        y = Height() / 2 - bh / 2;
    }
    image->Draw(x, y, image->Width(), image->Height(), ScratchDIB(), 0, 0);
}

void TCustomDIBImage::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    TCustomDIBControl::GetProperties(list);
    using K = TDIBPropertyKind;
    using C = TCustomDIBControl;
    using V = TDIBPropertyValue;
    list.push_back(
        {"Angle", K::Integer,
         [](const C& c) { return V(int64_t(static_cast<const TCustomDIBImage&>(c).Angle())); },
         [](C& c, const V& v) {
             static_cast<TCustomDIBImage&>(c).SetAngle(int(std::get<int64_t>(v)));
         }});
    list.push_back({"AutoSize", K::Boolean, [](const C& c) { return V(c.AutoSize()); },
                    [](C& c, const V& v) { c.SetAutoSize(std::get<bool>(v)); }});
    list.push_back(
        {"Center", K::Boolean,
         [](const C& c) { return V(static_cast<const TCustomDIBImage&>(c).Center()); },
         [](C& c, const V& v) { static_cast<TCustomDIBImage&>(c).SetCenter(std::get<bool>(v)); }});
    list.push_back({"Scale", K::Float,
                    [](const C& c) { return V(static_cast<const TCustomDIBImage&>(c).Scale()); },
                    [](C& c, const V& v) {
                        static_cast<TCustomDIBImage&>(c).SetScale(std::get<long double>(v));
                    }});
    list.push_back(
        {"Stretch", K::Boolean,
         [](const C& c) { return V(static_cast<const TCustomDIBImage&>(c).Stretch()); },
         [](C& c, const V& v) { static_cast<TCustomDIBImage&>(c).SetStretch(std::get<bool>(v)); }});
    list.push_back({"IndexMain", K::Object});
}
