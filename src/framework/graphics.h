// Colours, fonts, bitmaps and the canvas that window-less controls draw on.
#pragma once

#include "framework/classes.h"
#include "framework/platform/types.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A colour as stored forms give it: 0x00BBGGRR, or a system colour (top bit set, index in the
// low byte), or one of the two special values clNone and clDefault.
using TColor = int32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;
constexpr TColor clSystemColor = TColor(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0, clBackground = clSystemColor | 1,
                 clWindow = clSystemColor | 5, clWindowText = clSystemColor | 8,
                 clBtnFace = clSystemColor | 15, clBtnShadow = clSystemColor | 16,
                 clGrayText = clSystemColor | 17, clBtnText = clSystemColor | 18,
                 clBtnHighlight = clSystemColor | 20;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
    return TColor(r | (g << 8) | (b << 16));
}
// 0x00BBGGRR with system colours resolved to the framework's fixed palette (the same on every
// platform, so the editor looks alike everywhere). Matches the pixel library's resolver shape.
uint32_t ResolveColor(TColor color);
// The opaque pixel (B, G, R, 255 as 0xAARRGGBB) of a colour.
uint32_t ColorToOpaquePixel(TColor color);

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font as a form names it. Height < 0 is the character height in pixels (what forms store),
// Height > 0 the cell height. Every name is drawn with the embedded open faces: names of narrow
// faces map to the condensed one.
struct TFont {
    std::string Name = "MS Sans Serif";
    int32_t Height = -11;
    TColor Color = clWindowText;
    uint8_t Style = 0;
    friend bool operator==(const TFont&, const TFont&) = default;
};

// The vertical measures of a font in pixels: Ascent above the baseline, Descent below it,
// Height = Ascent + Descent (one line).
struct TFontMetrics {
    int32_t Ascent = 0, Descent = 0, Height = 0;
};
TFontMetrics FontMetrics(const TFont& font);
// Width of one line of UTF-8 text (no line breaks) and the font's line height.
TSize TextExtent(const TFont& font, std::string_view text);

// A 32-bit picture held top-down. Pixels keep the bytes they were given; drawing treats them as
// opaque.
class TBitmap {
  public:
    TBitmap() = default;
    TBitmap(int32_t width, int32_t height) { SetSize(width, height); }

    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    bool Empty() const { return fWidth <= 0 || fHeight <= 0; }
    // New pixels are transparent black; existing pixels are dropped.
    void SetSize(int32_t width, int32_t height);
    uint32_t* ScanLine(int32_t y) { return fPixels.data() + size_t(y) * size_t(fWidth); }
    const uint32_t* ScanLine(int32_t y) const {
        return fPixels.data() + size_t(y) * size_t(fWidth);
    }
    TPixelView View() { return {fPixels.data(), fWidth, fHeight, fWidth}; }
    // A read-only use of the view is up to the caller; drawing only reads from it.
    TPixelView View() const {
        return {const_cast<uint32_t*>(fPixels.data()), fWidth, fHeight, fWidth};
    }
    // Reads a Windows bitmap file (uncompressed 24- or 32-bit, either row order). Malformed data
    // raises EInvalidGraphic and leaves the bitmap unchanged.
    void LoadFromBMP(std::span<const uint8_t> data);
    // A copy of a view's pixels.
    void Assign(const TPixelView& pixels);

  private:
    int32_t fWidth = 0, fHeight = 0;
    std::vector<uint32_t> fPixels;
};

// Drawing onto a pixel view through an origin (where canvas (0, 0) lies in the view) and a clip
// rectangle. A window-less control gets one with its top-left as origin, clipped to its bounds and
// the area being painted.
class TCanvas {
  public:
    // clip is in view coordinates and is clamped to the view.
    TCanvas(const TPixelView& target, TPoint origin, const TRect& clip);

    const TPixelView& Target() const { return fTarget; }
    TPoint Origin() const { return fOrigin; }
    // The clip rectangle in canvas coordinates.
    TRect ClipRect() const { return fClip.Offset(-fOrigin.X, -fOrigin.Y); }

    TFont Font;

    // Opaque fill of r (canvas coordinates).
    void FillRect(const TRect& r, TColor color);
    // One line of UTF-8 text in Font, the top-left of its cell at (x, y); alpha of the target is
    // kept.
    void TextOut(int32_t x, int32_t y, std::string_view text);
    TSize TextExtent(std::string_view text) const { return ::TextExtent(Font, text); }
    // Copies pixels with their top-left at (x, y), opaque, unscaled, clipped.
    void Draw(int32_t x, int32_t y, const TPixelView& pixels);

  private:
    TPixelView fTarget;
    TPoint fOrigin;
    TRect fClip;
};
