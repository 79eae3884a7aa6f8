#include "dibcontrols/cDIB.h"

#include "dibcontrols/cDIBCompress.h"
#include "dibcontrols/cDIBPicture.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

static_assert(std::endian::native == std::endian::little,
              "pixels are handled as little-endian 32-bit words (B in the low byte)");

namespace {

// Largest image we allocate: 256 MB of pixels. Far above any editor image or window, and keeps a
// corrupt or hostile size (65535 x 65535 is 17 GB) a clear error instead of an allocation storm.
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

uint32_t defaultSystemColor(TColor color) {
    return uint32_t(color) & 0xFFFFFFu;
}
TSystemColorResolver gSystemColorResolver = defaultSystemColor;

// Whole-degree sine and cosine times 256, rounded halves to even, built once.
struct TrigTables {
    int32_t sin[360];
    int32_t cos[360];
    TrigTables() {
        for (int a = 0; a < 360; ++a) {
            sin[a] = int32_t(std::nearbyint(std::sin(a * std::numbers::pi / 180.0) * 256.0));
            cos[a] = int32_t(std::nearbyint(std::sin((a + 90) * std::numbers::pi / 180.0) * 256.0));
        }
    }
};
const TrigTables gTrig;

// --- row combiners. Steps are byte distances from one picture row to the next (negative for
// bottom-up images). The formulas are the stored images' contract; keep them bit-exact.

using RowFn = void (*)(const TDIBRoutineSettings& settings, const uint8_t* src, uint8_t* dst,
                       int rows, int width, ptrdiff_t srcStep, ptrdiff_t dstStep);

inline uint8_t blend(unsigned s, unsigned d, unsigned k) {
    return uint8_t((s * k + d * (255u - k) + 255u) >> 8);
}

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void rowAlphaAsGrey(const TDIBRoutineSettings&, const uint8_t* src, uint8_t* dst, int rows,
                    int width, ptrdiff_t srcStep, ptrdiff_t dstStep) {
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i)
            std::memset(dst + i * 4, src[i * 4 + 3], 4);
}

void rowAlphaOnly(const TDIBRoutineSettings&, const uint8_t* src, uint8_t* dst, int rows, int width,
                  ptrdiff_t srcStep, ptrdiff_t dstStep) {
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i)
            dst[i * 4 + 3] = src[i * 4 + 3];
}

void rowOpaque(const TDIBRoutineSettings&, const uint8_t* src, uint8_t* dst, int rows, int width,
               ptrdiff_t srcStep, ptrdiff_t dstStep) {
    // memmove: an image may be drawn onto itself.
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        std::memmove(dst, src, size_t(width) * 4);
}

void rowOpacity(const TDIBRoutineSettings& settings, const uint8_t* src, uint8_t* dst, int rows,
                int width, ptrdiff_t srcStep, ptrdiff_t dstStep) {
    const unsigned k = settings.Opacity;
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i) {
            const uint8_t* s = src + i * 4;
            uint8_t* d = dst + i * 4;
            d[0] = blend(s[0], d[0], k);
            d[1] = blend(s[1], d[1], k);
            d[2] = blend(s[2], d[2], k);
            d[3] = std::max(d[3], s[3]);
        }
}

void rowMasked(const TDIBRoutineSettings&, const uint8_t* src, uint8_t* dst, int rows, int width,
               ptrdiff_t srcStep, ptrdiff_t dstStep) {
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i) {
            const uint8_t* s = src + i * 4;
            uint8_t* d = dst + i * 4;
            const unsigned a = s[3];
            d[0] = blend(s[0], d[0], a);
            d[1] = blend(s[1], d[1], a);
            d[2] = blend(s[2], d[2], a);
            d[3] = std::max(d[3], s[3]);
        }
}

void rowMaskedOpacity(const TDIBRoutineSettings& settings, const uint8_t* src, uint8_t* dst,
                      int rows, int width, ptrdiff_t srcStep, ptrdiff_t dstStep) {
    const unsigned k = settings.Opacity;
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i) {
            const uint8_t* s = src + i * 4;
            uint8_t* d = dst + i * 4;
            const unsigned e = (unsigned(s[3]) * k) >> 8;
            d[0] = blend(s[0], d[0], e);
            d[1] = blend(s[1], d[1], e);
            d[2] = blend(s[2], d[2], e);
            d[3] = std::max(d[3], s[3]);
        }
}

void rowKeyed(const TDIBRoutineSettings& settings, const uint8_t* src, uint8_t* dst, int rows,
              int width, ptrdiff_t srcStep, ptrdiff_t dstStep) {
    const uint32_t key = settings.KeyColour & 0xFFFFFFu;
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i) {
            const uint32_t s = load32(src + i * 4) & 0xFFFFFFu;
            if (s != key) std::memcpy(dst + i * 4, &s, 4);
        }
}

void rowKeyedOpacity(const TDIBRoutineSettings& settings, const uint8_t* src, uint8_t* dst,
                     int rows, int width, ptrdiff_t srcStep, ptrdiff_t dstStep) {
    const uint32_t key = settings.KeyColour & 0xFFFFFFu;
    const unsigned k = settings.Opacity;
    for (; rows > 0; --rows, src += srcStep, dst += dstStep)
        for (int i = 0; i < width; ++i) {
            const uint8_t* s = src + i * 4;
            if ((load32(s) & 0xFFFFFFu) == key) continue;
            uint8_t* d = dst + i * 4;
            d[0] = blend(s[0], d[0], k);
            d[1] = blend(s[1], d[1], k);
            d[2] = blend(s[2], d[2], k);
            d[3] = s[3];
        }
}

constexpr RowFn kRowFns[] = {rowAlphaAsGrey, rowAlphaOnly,     rowOpaque, rowOpacity,
                             rowMasked,      rowMaskedOpacity, rowKeyed,  rowKeyedOpacity};

bool isTransformed(TAngle angle, long double scaleX, long double scaleY) {
    return angle != 0 || scaleX != 100.0L || scaleY != 100.0L;
}

uint16_t readU16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// 8.8 ratio of a source size to its scaled size; the scaled size is whole pixels, at least 1.
int64_t scaleRatio(int size, long double scale) {
    long double scaled = std::nearbyint(size * scale / 100.0L);
    if (!(scaled >= 1.0L)) scaled = 1.0L;
    return int64_t(std::nearbyint(256.0L * size / scaled));
}

// Exact values at the quarter turns so a 90-degree bounding box is not widened by a rounding
// residue of the cosine.
void exactSinCos(int angle, long double& s, long double& c) {
    switch (angle) {
    case 0:
        s = 0;
        c = 1;
        return;
    case 90:
        s = 1;
        c = 0;
        return;
    case 180:
        s = 0;
        c = -1;
        return;
    case 270:
        s = -1;
        c = 0;
        return;
    default: {
        const long double r = -angle * std::numbers::pi_v<long double> / 180.0L;
        s = std::sin(r);
        c = std::cos(r);
    }
    }
}

int evenCeil(long double v) {
    if (!(v >= 1.0L)) return 1 + 1; // at least one pixel, rounded up to even
    if (v > 65535.0L) throw EDIBError("Transformed image is too large.");
    int n = int(std::ceil(v));
    return n + (n & 1);
}

} // namespace

void RotatedBoundingBox(int width, int height, TAngle angle, long double scaleX, long double scaleY,
                        int& outWidth, int& outHeight) {
    long double s, c;
    exactSinCos(angle % 360, s, c);
    const long double w = width * scaleX / 100.0L;
    const long double h = height * scaleY / 100.0L;
    outWidth = evenCeil(std::fabs(c * w) + std::fabs(s * h));
    outHeight = evenCeil(std::fabs(s * w) + std::fabs(c * h));
}

// --- colours

void SetSystemColorResolver(TSystemColorResolver resolver) {
    gSystemColorResolver = resolver ? resolver : defaultSystemColor;
}

uint32_t ColorToRGB(TColor color) {
    if (color < 0) return gSystemColorResolver(color) & 0xFFFFFFu;
    return uint32_t(color) & 0xFFFFFFu;
}

uint32_t ColorToPixel(TColor color) {
    const uint32_t rgb = ColorToRGB(color);
    return (rgb & 0x00FF00u) | (rgb >> 16 & 0xFFu) | (rgb & 0xFFu) << 16;
}

TColor PixelToColor(uint32_t pixel) {
    return TColor((pixel & 0x00FF00u) | (pixel >> 16 & 0xFFu) | (pixel & 0xFFu) << 16);
}

// --- construction

TAbstractSuperDIB::TAbstractSuperDIB()
    : fSettings(std::make_shared<TDIBRoutineSettings>()), fRoutineSettings(fSettings) {}

TAbstractSuperDIB::TAbstractSuperDIB(int width, int height) : TAbstractSuperDIB() {
    SetSize(width, height);
}

TAbstractSuperDIB::~TAbstractSuperDIB() = default;

// --- size and pixels

void TAbstractSuperDIB::SetSize(int width, int height) {
    if (width == fWidth && height == fHeight) return;
    if (width < 0 || height < 0 || width > 65535 || height > 65535)
        throw EDIBError("Invalid image size " + std::to_string(width) + " x " +
                        std::to_string(height) + ".");
    const int w = std::max(width, 1);
    const int h = std::max(height, 1);
    const uint64_t count = uint64_t(w) * uint64_t(h);
    if (count > kMaxPixels)
        throw EDIBError("Image of " + std::to_string(w) + " x " + std::to_string(h) +
                        " pixels is too large.");
    std::shared_ptr<uint32_t[]> buffer;
    try {
        buffer = std::make_shared<uint32_t[]>(size_t(count));
    } catch (const std::bad_alloc&) {
        throw EDIBError("Not enough memory for an image of " + std::to_string(w) + " x " +
                        std::to_string(h) + " pixels.");
    }
    fBuffer = std::move(buffer);
    fPixels = fBuffer.get();
    fOwnsPixels = true;
    fWidth = w;
    fHeight = h;
    fClipRect = {0, 0, w - 1, h - 1};
}

void TAbstractSuperDIB::FreePixels() {
    fBuffer.reset();
    fPixels = nullptr;
}

void TAbstractSuperDIB::MakeEmpty() {
    FreePixels();
    fOwnsPixels = true;
    fWidth = fHeight = 0;
    fClipRect = {};
}

// --- settings

void TAbstractSuperDIB::SetAngle(int value) {
    const TAngle angle = TAngle(uint16_t(value) % 360);
    if (angle == fAngle) return;
    fAngle = angle;
    Changed();
}

void TAbstractSuperDIB::SetAutoSize(bool value) {
    if (value == fAutoSize) return;
    fAutoSize = value;
    Changed();
}

void TAbstractSuperDIB::SetMasked(bool value) {
    if (value == fMasked) return;
    fMasked = value;
    if (value) fTransparent = false;
    Changed();
}

void TAbstractSuperDIB::SetOpacity(uint8_t value) {
    if (value == fSettings->Opacity) return;
    fSettings->Opacity = value;
    Changed();
}

void TAbstractSuperDIB::SetScale(long double value) {
    if (value == fScaleX && value == fScaleY) return;
    fScaleX = fScaleY = value;
    Changed();
}

void TAbstractSuperDIB::SetScaleX(long double value) {
    if (value == fScaleX) return;
    fScaleX = value;
    Changed();
}

void TAbstractSuperDIB::SetScaleY(long double value) {
    if (value == fScaleY) return;
    fScaleY = value;
    Changed();
}

void TAbstractSuperDIB::SetTransparent(bool value) {
    if (value == fTransparent) return;
    fTransparent = value;
    if (value) fMasked = false;
    Changed();
}

TColor TAbstractSuperDIB::TransparentColor() const {
    if (fTransparentMode == tmAuto && fPixels) return PixelToColor(fPixels[0]);
    return PixelToColor(fSettings->KeyColour);
}

void TAbstractSuperDIB::SetTransparentColor(TColor value) {
    const uint32_t key = ColorToPixel(value);
    if (key == fSettings->KeyColour) return;
    fSettings->KeyColour = key;
    Changed();
}

void TAbstractSuperDIB::SetTransparentMode(TTransparentMode value) {
    if (value == fTransparentMode) return;
    fTransparentMode = value;
    Changed();
}

void TAbstractSuperDIB::SetClipRect(TDIBRect rect) {
    if (rect.Left > rect.Right) std::swap(rect.Left, rect.Right);
    if (rect.Top > rect.Bottom) std::swap(rect.Top, rect.Bottom);
    rect.Right = std::min(rect.Right, fWidth - 1);
    rect.Left = std::max(rect.Left, 0);
    rect.Bottom = std::min(rect.Bottom, fHeight - 1);
    rect.Top = std::max(rect.Top, 0);
    fClipRect = rect;
}

void TAbstractSuperDIB::ResetSettings() {
    fAngle = 0;
    fAutoSize = false;
    fMasked = false;
    fSettings->Opacity = 255;
    fScaleX = fScaleY = 100.0L;
    fTransparent = false;
    fSettings->KeyColour = 0;
    fTransparentMode = tmAuto;
    Changed();
}

// --- change notification

void TAbstractSuperDIB::EndUpdate() {
    if (fUpdateCount <= 0) throw EDIBError("EndUpdate without BeginUpdate");
    if (--fUpdateCount == 0) Changed();
}

void TAbstractSuperDIB::ChooseRowRoutine() {
    if (fSettings->Opacity == 255)
        fRowRoutine = fMasked        ? TDIBRowRoutine::Masked
                      : fTransparent ? TDIBRowRoutine::Keyed
                                     : TDIBRowRoutine::Opaque;
    else
        fRowRoutine = fMasked        ? TDIBRowRoutine::MaskedOpacity
                      : fTransparent ? TDIBRowRoutine::KeyedOpacity
                                     : TDIBRowRoutine::Opacity;
}

void TAbstractSuperDIB::Changed() {
    ChooseRowRoutine();
    fRoutineSettings = fSettings;
    if (fUpdateCount == 0 && fOnChange) fOnChange(*this);
}

// --- drawing

void TAbstractSuperDIB::DrawClipped(TDIBRowRoutine routine, const TDIBRoutineSettings& settings,
                                    int x0, int y0, int width, int height, TAbstractSuperDIB& dest,
                                    int srcX, int srcY) const {
    if (!fPixels || !dest.fPixels) return;
    // 64-bit so no sum of caller values can overflow.
    int64_t x = x0, y = y0, w = width, h = height, sx = srcX, sy = srcY;
    const TDIBRect& clip = dest.fClipRect;
    if (x < clip.Left) {
        sx += clip.Left - x;
        w -= clip.Left - x;
        x = clip.Left;
    }
    if (y < clip.Top) {
        sy += clip.Top - y;
        h -= clip.Top - y;
        y = clip.Top;
    }
    if (x + w > clip.Right) w = clip.Right - x + 1;
    if (y + h > clip.Bottom) h = clip.Bottom - y + 1;
    if (sx + w > fWidth) w = fWidth - sx;
    if (sy + h > fHeight) h = fHeight - sy;
    // A source rectangle starting left of or above this image would read outside it: start
    // drawing where the image begins.
    if (sx < 0) {
        x -= sx;
        w += sx;
        sx = 0;
    }
    if (sy < 0) {
        y -= sy;
        h += sy;
        sy = 0;
    }
    if (w < 1 || h < 1 || x > dest.fWidth || y > dest.fHeight) return;
    if (x + w > dest.fWidth) w = dest.fWidth - x;
    if (y + h > dest.fHeight) h = dest.fHeight - y;
    if (w < 1 || h < 1 || x < 0 || y < 0) return;
    const auto* src = reinterpret_cast<const uint8_t*>(ScanLine(int(sy)) + sx);
    auto* dst = reinterpret_cast<uint8_t*>(dest.ScanLine(int(y)) + x);
    kRowFns[size_t(routine)](settings, src, dst, int(h), int(w), -ptrdiff_t(fWidth) * 4,
                             -ptrdiff_t(dest.fWidth) * 4);
    dest.Changed();
}

void TAbstractSuperDIB::DrawWith(TDIBRowRoutine routine, const TDIBRoutineSettings& settings, int x,
                                 int y, int width, int height, TAbstractSuperDIB& dest, int srcX,
                                 int srcY) {
    if (!isTransformed(fAngle, fScaleX, fScaleY)) {
        DrawClipped(routine, settings, x, y, width, height, dest, srcX, srcY);
        return;
    }
    if (width < 1 || height < 1 || !fPixels || !dest.fPixels) return;
    int tw = width, th = height;
    if (fAutoSize) RotatedBoundingBox(width, height, fAngle, fScaleX, fScaleY, tw, th);
    // Keeps the settings alive even if drawing changes this image's own.
    const TDIBRoutineSettings held = settings;
    TWinDIB temp(tw, th);
    temp.SetMasked(fMasked);
    temp.SetOpacity(fSettings->Opacity);
    temp.SetTransparent(fTransparent);
    temp.SetTransparentMode(tmFixed);
    temp.SetTransparentColor(TransparentColor());
    TransformInto(temp);
    temp.DrawClipped(routine, held, x, y, tw, th, dest, 0, 0);
}

void TAbstractSuperDIB::Draw(int x, int y, int width, int height, TAbstractSuperDIB& dest, int srcX,
                             int srcY) {
    DrawWith(fRowRoutine, *fRoutineSettings, x, y, width, height, dest, srcX, srcY);
}

void TAbstractSuperDIB::DrawUntransformed(int x, int y, int width, int height,
                                          TAbstractSuperDIB& dest, int srcX, int srcY) {
    DrawClipped(TDIBRowRoutine::Opaque, *fRoutineSettings, x, y, width, height, dest, srcX, srcY);
}

void TAbstractSuperDIB::DrawAlphaOnly(int x, int y, int width, int height, TAbstractSuperDIB& dest,
                                      int srcX, int srcY) {
    DrawWith(TDIBRowRoutine::AlphaOnly, *fRoutineSettings, x, y, width, height, dest, srcX, srcY);
}

void TAbstractSuperDIB::DrawAlphaAsGrey(int x, int y, int width, int height,
                                        TAbstractSuperDIB& dest, int srcX, int srcY) {
    DrawWith(TDIBRowRoutine::AlphaAsGrey, *fRoutineSettings, x, y, width, height, dest, srcX, srcY);
}

void TAbstractSuperDIB::TransformInto(TAbstractSuperDIB& dest) {
    if (!fPixels || !dest.fPixels) return;
    const int64_t c = gTrig.cos[fAngle];
    const int64_t s = gTrig.sin[fAngle];
    const int64_t rx = scaleRatio(fWidth, fScaleX);
    const int64_t ry = scaleRatio(fHeight, fScaleY);
    // Source advance per destination column (ux, uy) and per destination row (vx, vy), 8.8.
    // Positive angles turn the picture counter-clockwise as seen on screen.
    const int64_t ux = (c * rx) >> 8;
    const int64_t uy = (s * ry) >> 8;
    const int64_t vx = (-s * rx) >> 8;
    const int64_t vy = (c * ry) >> 8;
    const int dw = dest.fWidth, dh = dest.fHeight;
    // Centre of destination pixel (0, 0) relative to the destination's centre, 8.8.
    const int64_t ox = 128 - int64_t(dw) * 128;
    const int64_t oy = 128 - int64_t(dh) * 128;
    int64_t rowX = int64_t(fWidth) * 128 + ((ox * ux + oy * vx) >> 8);
    int64_t rowY = int64_t(fHeight) * 128 + ((ox * uy + oy * vy) >> 8);
    const uint32_t outside = dest.fMasked ? 0u : dest.fSettings->KeyColour;
    for (int y = 0; y < dh; ++y, rowX += vx, rowY += vy) {
        uint32_t* out = dest.ScanLine(y);
        int64_t px = rowX, py = rowY;
        for (int x = 0; x < dw; ++x, px += ux, py += uy) {
            const int64_t col = px >> 8, row = py >> 8;
            out[x] = (col >= 0 && col < fWidth && row >= 0 && row < fHeight)
                         ? ScanLine(int(row))[col]
                         : outside;
        }
    }
    dest.Changed();
}

void TAbstractSuperDIB::CopyFrame(int index, int frameWidth, TAbstractSuperDIB& into) {
    into.SetSize(frameWidth, fHeight);
    DrawUntransformed(0, 0, frameWidth, fHeight, into, index * frameWidth, 0);
}

void TAbstractSuperDIB::DrawFrame(int x, int y, TAbstractSuperDIB& dest, int frames, int index) {
    if (frames < 1 || !fPixels) return;
    const int fw = fWidth / frames;
    if (fw < 1) return;
    if (!isTransformed(fAngle, fScaleX, fScaleY) && index >= 0 && index < frames) {
        // Same pixels as going through a copy of the frame, without the copy.
        DrawClipped(fRowRoutine, *fRoutineSettings, x, y, fw, fHeight, dest, index * fw, 0);
        return;
    }
    TMemoryDIB frame;
    CopyFrame(index, fw, frame);
    CopyPropertiesTo(frame);
    frame.Draw(x, y, fw, fHeight, dest, 0, 0);
}

void TAbstractSuperDIB::DrawTween(int x, int y, bool loop, int position, int max, int min,
                                  TAbstractSuperDIB& dest, int frames) {
    if (frames < 1 || !fPixels) return;
    const int fw = fWidth / frames;
    if (fw < 1) return;
    // A zero range would divide by zero; it shows the first frame.
    long double f = 0.0L;
    if (max != min)
        f = (static_cast<long double>(position) - min) / (static_cast<long double>(max) - min) *
            frames;
    const long double lo = std::floor(f);
    const long double hi = std::ceil(f);
    const auto t = uint8_t(255 - int(std::nearbyint((f - lo) * 255.0L)));
    auto wrap = [&](long double v) {
        if (v >= frames) return loop ? 0 : frames - 1;
        if (v < 0) return loop ? frames - 1 : 0;
        return int(v);
    };
    TMemoryDIB a, b;
    CopyFrame(wrap(hi), fw, a);
    CopyPropertiesTo(a);
    a.SetOpacity(255);
    CopyFrame(wrap(lo), fw, b);
    b.SetOpacity(t);
    b.Draw(0, 0, fw, fHeight, a, 0, 0);
    a.SetOpacity(Opacity());
    a.Draw(x, y, fw, fHeight, dest, 0, 0);
}

// --- copying

void TAbstractSuperDIB::CopyPropertiesTo(TAbstractSuperDIB& dest) const {
    if (&dest == this) return;
    dest.fAngle = fAngle;
    dest.fAutoSize = fAutoSize;
    dest.fMasked = fMasked;
    dest.fSettings->Opacity = fSettings->Opacity;
    dest.fScaleX = fScaleX;
    dest.fScaleY = fScaleY;
    dest.fTransparent = fTransparent;
    dest.fSettings->KeyColour = fSettings->KeyColour;
    dest.fTransparentMode = fTransparentMode;
    dest.fRowRoutine = fRowRoutine;
    dest.fRoutineSettings = fRoutineSettings;
    // Only an image without pixels of its own takes the size: giving a size to pixels that do
    // not have it would let drawing run past them.
    if (!dest.fOwnsPixels && !dest.fPixels) {
        dest.fWidth = fWidth;
        dest.fHeight = fHeight;
    }
}

void TAbstractSuperDIB::ShareFrom(TAbstractSuperDIB& source) {
    if (&source == this) return;
    FreePixels();
    fOwnsPixels = false;
    source.CopyPropertiesTo(*this);
    fBuffer = source.fBuffer;
    fPixels = source.fPixels;
    fWidth = source.fWidth;
    fHeight = source.fHeight;
    fClipRect = {0, 0, fWidth - 1, fHeight - 1};
}

void TAbstractSuperDIB::Assign(const TAbstractSuperDIB& source) {
    if (&source == this) return;
    if (!source.fPixels) {
        // Nothing to copy: the copy of an empty image is empty.
        MakeEmpty();
    } else {
        SetSize(source.fWidth, source.fHeight);
        if (fPixels != source.fPixels) std::memcpy(fPixels, source.fPixels, ByteSize());
    }
    Changed();
    source.CopyPropertiesTo(*this);
    Changed();
}

// --- pixel operations

void TAbstractSuperDIB::Fill(TColor color) {
    if (fPixels) std::fill_n(fPixels, size_t(fWidth) * size_t(fHeight), ColorToPixel(color));
    Changed();
}

void TAbstractSuperDIB::FillRect(TColor color, int x, int y, int width, int height) {
    if (!fPixels || width <= 0 || height <= 0) return;
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t(x) + width, fWidth);
    const int64_t bottom = std::min<int64_t>(int64_t(y) + height, fHeight);
    if (left >= right || top >= bottom) return;
    const uint32_t pixel = ColorToPixel(color);
    for (int64_t row = top; row < bottom; ++row)
        std::fill_n(ScanLine(int(row)) + left, size_t(right - left), pixel);
}

void TAbstractSuperDIB::SetAlpha(uint8_t alpha) {
    uint8_t* p = Pixels();
    for (size_t i = 0, n = fPixels ? ByteSize() : 0; i < n; i += 4)
        p[i + 3] = alpha;
    Changed();
}

void TAbstractSuperDIB::StretchFrom(const TAbstractSuperDIB& source) {
    if (!fPixels || !source.fPixels || &source == this) return;
    const uint32_t* src = source.fPixels;
    if (src == fPixels) {
        // A view of this image: nothing to resample from a distinct copy, so take one.
        TMemoryDIB copy;
        copy.Assign(source);
        StretchFrom(copy);
        return;
    }
    const uint64_t stepY = (uint64_t(source.fHeight) << 16) / uint64_t(fHeight);
    const uint64_t stepX = (uint64_t(source.fWidth) << 16) / uint64_t(fWidth);
    uint32_t* out = fPixels;
    uint64_t posY = 0;
    for (int row = 0; row < fHeight; ++row, posY += stepY) {
        const uint32_t* in = src + (posY >> 16) * uint64_t(source.fWidth);
        uint64_t posX = 0;
        for (int col = 0; col < fWidth; ++col, posX += stepX)
            *out++ = in[posX >> 16];
    }
    Changed();
}

void TAbstractSuperDIB::ApplyFilter(const TDIBFilter& filter) {
    if (!fPixels) return;
    const int divisor = filter.Divisor == 0 ? 1 : filter.Divisor;
    const std::vector<uint32_t> original(fPixels, fPixels + size_t(fWidth) * size_t(fHeight));
    auto at = [&](int x, int y) {
        x = std::clamp(x, 0, fWidth - 1);
        y = std::clamp(y, 0, fHeight - 1);
        return original[size_t(fHeight - 1 - y) * size_t(fWidth) + size_t(x)];
    };
    const int32_t bias[3] = {filter.BiasB, filter.BiasG, filter.BiasR};
    for (int y = 0; y < fHeight; ++y) {
        uint32_t* out = ScanLine(y);
        for (int x = 0; x < fWidth; ++x) {
            int64_t sum[3] = {0, 0, 0};
            for (int j = 0; j < 9; ++j) {
                const uint32_t p = at(x + j % 3 - 1, y + j / 3 - 1);
                for (int ch = 0; ch < 3; ++ch)
                    sum[ch] += int64_t(filter.Coefficients[j]) * int64_t(p >> (8 * ch) & 0xFF);
            }
            uint32_t pixel = out[x] & 0xFF000000u;
            for (int ch = 0; ch < 3; ++ch)
                pixel |= uint32_t(std::clamp<int64_t>(sum[ch] / divisor + bias[ch], 0, 255))
                         << (8 * ch);
            out[x] = pixel;
        }
    }
    Changed();
}

// --- stored form

std::vector<uint8_t> TAbstractSuperDIB::PlainData() const {
    std::vector<uint8_t> out;
    if (!fPixels) return out;
    out.resize(4 + ByteSize());
    out[0] = uint8_t(fWidth);
    out[1] = uint8_t(fWidth >> 8);
    out[2] = uint8_t(fHeight);
    out[3] = uint8_t(fHeight >> 8);
    std::memcpy(out.data() + 4, fPixels, ByteSize());
    return out;
}

std::vector<uint8_t> TAbstractSuperDIB::SaveToStream() const {
    if (!fPixels) return {};
    return WrapDIBBlock(PlainData());
}

void TAbstractSuperDIB::LoadFromStream(std::span<const uint8_t> block) {
    if (block.empty()) return;
    std::vector<uint8_t> unpacked;
    std::span<const uint8_t> plain = block;
    if (IsDIBEnvelope(block)) {
        unpacked = UnwrapDIBEnvelope(block);
        plain = unpacked;
    }
    if (plain.size() < 4) throw EDIBError("Image data is shorter than its header.");
    const int w = readU16(plain.data());
    const int h = readU16(plain.data() + 2);
    if (w == 0 || h == 0) throw EDIBError("Image data has a zero width or height.");
    const uint64_t expected = 4 + uint64_t(w) * uint64_t(h) * 4;
    if (plain.size() != expected)
        throw EDIBError("Image data of " + std::to_string(w) + " x " + std::to_string(h) +
                        " pixels must be " + std::to_string(expected) + " bytes long, not " +
                        std::to_string(plain.size()) + ".");
    SetSize(w, h);
    std::memcpy(fPixels, plain.data() + 4, ByteSize());
    Changed();
}

// --- picture files

void TAbstractSuperDIB::LoadFromFile(const std::string& path) {
    const TDIBPicture picture = ReadDIBPicture(path);
    SetSize(picture.Width, picture.Height);
    std::memcpy(fPixels, picture.Pixels.data(), ByteSize());
    BeginUpdate();
    if (picture.BitsPerPixel == 32)
        SetMasked(true);
    else
        SetAlpha(255);
    EndUpdate();
}

void TAbstractSuperDIB::ImportMask(const std::string& path) {
    if (!fPixels) throw EDIBError("You cannot import a mask until you have an image.");
    const TDIBPicture picture = ReadDIBPicture(path);
    TMemoryDIB mask(picture.Width, picture.Height);
    std::memcpy(mask.Pixels(), picture.Pixels.data(), mask.ByteSize());
    TMemoryDIB stretched(fWidth, fHeight);
    stretched.StretchFrom(mask);
    const uint8_t* m = stretched.Pixels();
    uint8_t* p = Pixels();
    for (size_t i = 0, n = ByteSize(); i < n; i += 4)
        p[i + 3] = m[i];
    BeginUpdate();
    SetMasked(true);
    EndUpdate();
}

// --- memory images

void TCustomMemoryDIB::Assign(const TAbstractSuperDIB& source) {
    TAbstractSuperDIB::Assign(source);
    if (const auto* memory = dynamic_cast<const TCustomMemoryDIB*>(&source)) {
        fImageFilename = memory->fImageFilename;
        fMaskFilename = memory->fMaskFilename;
    }
}

std::vector<uint8_t> TCustomMemoryDIB::SaveToStream() const {
    if (!fStoreData) return {};
    return TAbstractSuperDIB::SaveToStream();
}

void TCustomMemoryDIB::LoadFromFile(const std::string& path) {
    TAbstractSuperDIB::LoadFromFile(path);
    fImageFilename = path;
}

void TCustomMemoryDIB::ImportMask(const std::string& path) {
    TAbstractSuperDIB::ImportMask(path);
    fMaskFilename = path;
}
