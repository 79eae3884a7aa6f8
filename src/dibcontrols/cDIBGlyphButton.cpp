#include "dibcontrols/cDIBGlyphButton.h"

#include <algorithm>

TCustomDIBGlyphButton::TCustomDIBGlyphButton(TComponent* owner)
    : TAbstractDIBButton(owner), fGlyph(&CreateImageLink()) {
    SetAutoSize(true);
    RegisterTemplateProperty("NumGlyphs");
    RegisterTemplateProperty("Opacity");
}

void TCustomDIBGlyphButton::Loaded() {
    TAbstractDIBButton::Loaded();
    if (AutoSize()) AdjustSize();
}

void TCustomDIBGlyphButton::SetNumGlyphs(int value) {
    if (value < 2 || value > 5) throw EDIBButtonError("NumGlyphs must be between 2 and 5.");
    fNumGlyphs = TNumGlyphs(value);
    if (AutoSize()) AdjustSize();
}

int TCustomDIBGlyphButton::GlyphIndex() const {
    const int s = State();
    if (fNumGlyphs >= s + 1) return s;
    return s == dbDown ? 1 : 0; // disabled and hover fall back to up; pressed always exists
}

void TCustomDIBGlyphButton::AdjustSize() {
    TAbstractSuperDIB* strip = nullptr;
    // While a form is read NumGlyphs may still change: Loaded sizes the button.
    if (LoadingConstruction() || !fGlyph->GetImage(strip)) return;
    SetBounds(Left(), Top(), strip->Width() / fNumGlyphs, strip->Height());
}

void TCustomDIBGlyphButton::ImageChanged(TDIBImageLink&, int, TDIBImageChange) {
    if (AutoSize()) AdjustSize();
    Invalidate(); // the same size may show new pixels
}

void TCustomDIBGlyphButton::PaintControl() {
    TAbstractSuperDIB* strip = nullptr;
    // While a form is read NumGlyphs may still change: Loaded sizes the button.
    if (LoadingConstruction() || !fGlyph->GetImage(strip)) return;
    // The face stride is the control's width: one face while AutoSize holds.
    const int w = Width();
    strip->Draw(0, 0, w, Height(), ScratchDIB(), w * GlyphIndex(), 0);
}

void TCustomDIBGlyphButton::GetProperties(std::vector<TDIBPropertyInfo>& list) const {
    TAbstractDIBButton::GetProperties(list);
    using K = TDIBPropertyKind;
    using C = TCustomDIBControl;
    using V = TDIBPropertyValue;
    list.push_back({"Glyph", K::Object});
    list.push_back({"NumGlyphs", K::Integer,
                    [](const C& c) {
                        return V(int64_t(static_cast<const TCustomDIBGlyphButton&>(c).NumGlyphs()));
                    },
                    [](C& c, const V& v) {
                        const int64_t n = std::get<int64_t>(v);
                        static_cast<TCustomDIBGlyphButton&>(c).SetNumGlyphs(
                            int(std::clamp<int64_t>(n, -1, 6))); // out of range stays out of range
                    }});
}
