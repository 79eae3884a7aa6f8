#include "framework/graphics.h"

#include <algorithm>
#include <cstring>

namespace {
// The system colours of a plain light desktop theme, as 0x00BBGGRR by index.
constexpr uint32_t kSystemColors[] = {
    0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000,
    0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D,
    0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000, 0xE1FFFF,
};

uint32_t ReadU32(std::span<const uint8_t> d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 |
           uint32_t(d[at + 3]) << 24;
}
uint16_t ReadU16(std::span<const uint8_t> d, size_t at) {
    return uint16_t(d[at] | d[at + 1] << 8);
}
} // namespace

uint32_t ResolveColor(TColor color) {
    if (color < 0) {
        const uint32_t index = uint32_t(color) & 0xFF;
        return index < std::size(kSystemColors) ? kSystemColors[index] : 0;
    }
    return uint32_t(color) & 0xFFFFFF;
}

uint32_t ColorToOpaquePixel(TColor color) {
    const uint32_t rgb = ResolveColor(color);
    return 0xFF000000u | (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
}

void TBitmap::SetSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) width = height = 0;
    fWidth = width;
    fHeight = height;
    fPixels.assign(size_t(width) * size_t(height), 0);
}

void TBitmap::Assign(const TPixelView& pixels) {
    if (pixels.IsEmpty()) {
        SetSize(0, 0);
        return;
    }
    SetSize(pixels.Width, pixels.Height);
    for (int32_t y = 0; y < fHeight; ++y)
        std::copy_n(pixels.Row(y), fWidth, ScanLine(y));
}

void TBitmap::LoadFromBMP(std::span<const uint8_t> data) {
    const auto fail = [](const char* why) {
        throw EInvalidGraphic(std::string("Bitmap image is not valid: ") + why);
    };
    if (data.size() < 14 + 40 || data[0] != 'B' || data[1] != 'M') fail("no bitmap header");
    const uint32_t offBits = ReadU32(data, 10);
    const uint32_t infoSize = ReadU32(data, 14);
    if (infoSize < 40 || 14 + uint64_t(infoSize) > data.size()) fail("bad info header");
    const int32_t width = int32_t(ReadU32(data, 18));
    const int32_t rawHeight = int32_t(ReadU32(data, 22));
    const uint16_t bits = ReadU16(data, 28);
    const uint32_t compression = ReadU32(data, 30);
    // Sizes are bounded so that every later product fits comfortably.
    if (width <= 0 || width > 32767 || rawHeight == 0 || rawHeight < -32767 || rawHeight > 32767)
        fail("bad size");
    if (bits != 24 && bits != 32) fail("only 24- and 32-bit pictures are read");
    if (compression != 0 && !(compression == 3 && bits == 32)) fail("compressed");
    if (compression == 3) {
        // Bit fields are accepted only in the plain order, as written by common tools.
        if (54 + 12 > uint64_t(data.size()) || ReadU32(data, 54) != 0x00FF0000 ||
            ReadU32(data, 58) != 0x0000FF00 || ReadU32(data, 62) != 0x000000FF)
            fail("unsupported bit fields");
    }
    const int32_t height = rawHeight < 0 ? -rawHeight : rawHeight;
    const uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
    if (offBits < 14 + infoSize || offBits + stride * uint64_t(height) > data.size())
        fail("pixel data missing");

    TBitmap b(width, height);
    const size_t bytes = bits / 8;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* src = data.data() + offBits + stride * uint64_t(row);
        uint32_t* dst = b.ScanLine(rawHeight > 0 ? height - 1 - row : row);
        for (int32_t x = 0; x < width; ++x, src += bytes)
            dst[x] = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 |
                     (bits == 32 ? uint32_t(src[3]) << 24 : 0xFF000000u);
    }
    *this = std::move(b);
}

TCanvas::TCanvas(const TPixelView& target, TPoint origin, const TRect& clip)
    : fTarget(target), fOrigin(origin),
      fClip(target.IsEmpty() ? TRect{} : IntersectRect(clip, target.Rect())) {}

void TCanvas::FillRect(const TRect& r, TColor color) {
    const TRect c = IntersectRect(r.Offset(fOrigin.X, fOrigin.Y), fClip);
    const uint32_t pixel = ColorToOpaquePixel(color);
    for (int32_t y = c.Top; y < c.Bottom; ++y)
        std::fill_n(fTarget.Row(y) + c.Left, c.Width(), pixel);
}

void TCanvas::Draw(int32_t x, int32_t y, const TPixelView& pixels) {
    if (pixels.IsEmpty()) return;
    const TRect at = Bounds(fOrigin.X + x, fOrigin.Y + y, pixels.Width, pixels.Height);
    const TRect c = IntersectRect(at, fClip);
    for (int32_t py = c.Top; py < c.Bottom; ++py) {
        const uint32_t* src = pixels.Row(py - at.Top) + (c.Left - at.Left);
        uint32_t* dst = fTarget.Row(py) + c.Left;
        for (int32_t px = 0; px < c.Width(); ++px)
            dst[px] = src[px] | 0xFF000000u;
    }
}
