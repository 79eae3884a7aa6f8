#include "dibcontrols/cDIBGlyphButton.h"

#include "dibcontrols/propertyvalue.h"

#include <iterator>

namespace {

using G = TCustomDIBGlyphButton;

constexpr TDIBPropertyInfo kProperties[] = {
    LinkProperty<&G::Glyph>("Glyph"),
    // The setter alone judges the count, whichever way it arrives.
    IntegerProperty<&G::NumGlyphs, &G::SetNumGlyphs>("NumGlyphs", kTemplated),
};

} // namespace

std::span<const TDIBPropertyInfo> TCustomDIBGlyphButton::PublishedProperties() {
    return kProperties;
}

TCustomDIBGlyphButton::TCustomDIBGlyphButton(TComponent* owner)
    : TAbstractDIBButton(owner), fGlyph(&CreateImageLink()) {
    SetAutoSize(true);
    RegisterTemplateProperties(kProperties);
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
    list.insert(list.end(), std::begin(kProperties), std::end(kProperties));
}
