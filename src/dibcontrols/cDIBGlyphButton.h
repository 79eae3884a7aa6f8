// A button drawn from a strip of 2 to 5 faces ("glyphs") side by side, one per visible state:
// up, pressed, disabled, hover, down. With fewer faces the missing ones fall back to up or pressed.
#pragma once

#include "dibcontrols/cDIBButton.h"

using TNumGlyphs = uint8_t; // 2..5

class TCustomDIBGlyphButton : public TAbstractDIBButton {
  public:
    explicit TCustomDIBGlyphButton(TComponent* owner);
    std::string_view ClassName() const override { return "TCustomDIBGlyphButton"; }

    void Loaded() override;

    TDIBImageLink& Glyph() const { return *fGlyph; }
    // 2..5; anything else raises EDIBButtonError.
    TNumGlyphs NumGlyphs() const { return fNumGlyphs; }
    void SetNumGlyphs(int value);
    // The face shown for the current state.
    int GlyphIndex() const;

    // The published properties, read by the form loader as well.
    static std::span<const TDIBPropertyInfo> PublishedProperties();

  protected:
    void PaintControl() override;
    // One face: strip width div NumGlyphs by strip height.
    void AdjustSize() override;
    void ImageChanged(TDIBImageLink& link, int index, TDIBImageChange kind) override;
    void GetProperties(std::vector<TDIBPropertyInfo>& list) const override;

  private:
    TDIBImageLink* fGlyph;
    TNumGlyphs fNumGlyphs = 2;
};

class TDIBGlyphButton : public TCustomDIBGlyphButton {
  public:
    using TCustomDIBGlyphButton::TCustomDIBGlyphButton;
    std::string_view ClassName() const override { return "TDIBGlyphButton"; }
};
