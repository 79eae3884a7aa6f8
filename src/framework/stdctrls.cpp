#include "framework/stdctrls.h"

#include <algorithm>

namespace {
template <class F> void ForEachLine(std::string_view text, F&& f) {
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? text.npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        f(line);
        if (end == std::string_view::npos) return;
        start = end + 1;
    }
}
} // namespace

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
    SetParentColor(true);
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetCaption(std::string_view caption) {
    if (fCaption == caption) return;
    fCaption = caption;
    // The old area first: re-measuring may move the bounds.
    Invalidate();
    AdjustBounds();
}

void TLabel::SetAlignment(TAlignment alignment) {
    if (fAlignment == alignment) return;
    fAlignment = alignment;
    Invalidate();
}

void TLabel::SetLayout(TTextLayout layout) {
    if (fLayout == layout) return;
    fLayout = layout;
    Invalidate();
}

void TLabel::SetAutoSize(bool autoSize) {
    if (fAutoSize == autoSize) return;
    fAutoSize = autoSize;
    AdjustBounds();
}

void TLabel::SetTransparent(bool transparent) {
    if (fTransparent == transparent) return;
    fTransparent = transparent;
    Invalidate();
}

void TLabel::SetShowAccelChar(bool show) {
    if (fShowAccelChar == show) return;
    fShowAccelChar = show;
    AdjustBounds();
    Invalidate();
}

void TLabel::Loaded() {
    TGraphicControl::Loaded();
    AdjustBounds();
}

void TLabel::FontChanged() {
    AdjustBounds();
    Invalidate();
}

std::string TLabel::DisplayText() const {
    if (!fShowAccelChar) return fCaption;
    std::string shown;
    const size_t n = fCaption.size();
    for (size_t i = 0; i < n; ++i) {
        if (fCaption[i] == '&' && i + 1 < n) ++i; // "&x" -> "x", "&&" -> "&"
        shown += fCaption[i];
    }
    return shown;
}

void TLabel::AdjustBounds() {
    if (!fAutoSize || Loading()) return;
    const std::string shown = DisplayText();
    std::string_view text = shown;
    if (text.empty()) text = " "; // an empty label keeps a line's height and a little width
    const TFont& font = Font();
    int32_t width = 0, lines = 0;
    ForEachLine(text, [&](std::string_view line) {
        width = std::max(width, TextExtent(font, line).Width);
        ++lines;
    });
    const int32_t height = lines * FontMetrics(font).Height;
    const int32_t left = fAlignment == taRightJustify ? Left() + Width() - width : Left();
    SetBounds(left, Top(), width, height);
}

void TLabel::Paint(TCanvas& canvas) {
    if (!fTransparent) canvas.FillRect(ClientRect(), Color());
    const std::string shown = DisplayText();
    const std::string_view text = shown;
    canvas.Font = Font();
    if (!Enabled()) canvas.Font.Color = clGrayText;
    const int32_t lineHeight = FontMetrics(canvas.Font).Height;
    int32_t lines = 0;
    ForEachLine(text, [&](std::string_view) { ++lines; });
    const int32_t total = lines * lineHeight;
    int32_t y = fLayout == tlTop      ? 0
                : fLayout == tlCenter ? (Height() - total) / 2
                                      : Height() - total;
    ForEachLine(text, [&](std::string_view line) {
        const int32_t w = canvas.TextExtent(line).Width;
        const int32_t x = fAlignment == taLeftJustify    ? 0
                          : fAlignment == taRightJustify ? Width() - w
                                                         : (Width() - w) / 2;
        canvas.TextOut(x, y, line);
        y += lineHeight;
    });
}
