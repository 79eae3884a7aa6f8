// Text drawing with stb_truetype and the embedded DejaVu faces.
#include "framework/graphics.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

extern "C" {
extern const unsigned char ql_font_dejavu_sans[];
extern const unsigned char ql_font_dejavu_sans_condensed[];
}

namespace {

struct Face {
    stbtt_fontinfo Info{};
    int Ascent = 0, Descent = 0, LineGap = 0;
};

enum FaceIndex { fiSans, fiCondensed, fiCount };

Face gFaces[fiCount];
std::once_flag gFacesReady;

void LoadFaces() {
    const unsigned char* data[fiCount] = {ql_font_dejavu_sans, ql_font_dejavu_sans_condensed};
    for (int i = 0; i < fiCount; ++i) {
        Face& f = gFaces[i];
        stbtt_InitFont(&f.Info, data[i], stbtt_GetFontOffsetForIndex(data[i], 0));
        stbtt_GetFontVMetrics(&f.Info, &f.Ascent, &f.Descent, &f.LineGap);
    }
}

bool Contains(std::string_view name, std::string_view word) {
    if (word.size() > name.size()) return false;
    for (size_t i = 0; i + word.size() <= name.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && std::tolower(static_cast<unsigned char>(name[i + k])) == word[k])
            ++k;
        if (k == word.size()) return true;
    }
    return false;
}

// The narrow faces a form may name are drawn condensed; everything else with the plain face.
FaceIndex FaceFor(const TFont& font) {
    for (std::string_view w : {"condensed", "narrow", "estrangelo", "arial n"})
        if (Contains(font.Name, w)) return fiCondensed;
    return fiSans;
}

constexpr int32_t kMaxPixelHeight = 1000;

struct Scaled {
    const Face* F;
    FaceIndex Index;
    float Scale;
    int32_t Ascent, Descent;
    bool Bold;
};

// Forms store negative heights (character height, i.e. the em); 0 asks for the default. Sizes
// are kept to what a screen can show, so a corrupt form cannot ask for giant glyph bitmaps.
int32_t PixelHeight(const TFont& font) {
    if (font.Height == 0) return -11;
    return std::clamp(font.Height, -kMaxPixelHeight, kMaxPixelHeight);
}

Scaled Scale(const TFont& font) {
    std::call_once(gFacesReady, LoadFaces);
    const FaceIndex i = FaceFor(font);
    const Face& f = gFaces[i];
    const int32_t h = PixelHeight(font);
    const float scale = h < 0 ? stbtt_ScaleForMappingEmToPixels(&f.Info, float(-h))
                              : stbtt_ScaleForPixelHeight(&f.Info, float(h));
    return {&f,
            i,
            scale,
            int32_t(std::lround(f.Ascent * scale)),
            int32_t(std::lround(-f.Descent * scale)),
            (font.Style & fsBold) != 0};
}

// Next code point of UTF-8 text; a malformed byte reads as U+FFFD and is skipped alone.
char32_t NextCodePoint(std::string_view s, size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    const size_t n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (n == 0 || s.size() - i <= n) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = c & (0x3F >> n);
    for (size_t k = 1; k <= n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += n + 1;
    return cp;
}

struct Glyph {
    int X0 = 0, Y0 = 0, W = 0, H = 0;
    std::vector<uint8_t> Alpha;
};

constexpr int kSubpixels = 4;

std::mutex gCacheLock;
std::unordered_map<uint64_t, Glyph> gCache; // entries are never erased, so references stay valid

const Glyph& CachedGlyph(const Scaled& s, int32_t height, char32_t cp, int sub) {
    const uint64_t key = (uint64_t(s.Index) << 60) | (uint64_t(uint32_t(height) & 0xFFFF) << 40) |
                         (uint64_t(sub) << 32) | uint64_t(cp);
    std::lock_guard lock(gCacheLock);
    auto it = gCache.find(key);
    if (it != gCache.end()) return it->second;
    Glyph g;
    const float shift = float(sub) / kSubpixels;
    int x1 = 0, y1 = 0;
    stbtt_GetCodepointBitmapBoxSubpixel(&s.F->Info, int(cp), s.Scale, s.Scale, shift, 0.f, &g.X0,
                                        &g.Y0, &x1, &y1);
    g.W = std::max(0, x1 - g.X0);
    g.H = std::max(0, y1 - g.Y0);
    if (g.W > 0 && g.H > 0) {
        g.Alpha.assign(size_t(g.W) * size_t(g.H), 0);
        stbtt_MakeCodepointBitmapSubpixel(&s.F->Info, g.Alpha.data(), g.W, g.H, g.W, s.Scale,
                                          s.Scale, shift, 0.f, int(cp));
    }
    return gCache.emplace(key, std::move(g)).first->second;
}

// Calls f(code point, pen position) for each character and answers the advance of the whole line.
template <class F> float Layout(const Scaled& s, std::string_view text, F&& f) {
    float pen = 0;
    char32_t prev = 0;
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (prev)
            pen += s.Scale * float(stbtt_GetCodepointKernAdvance(&s.F->Info, int(prev), int(cp)));
        f(cp, pen);
        int advance = 0, bearing = 0;
        stbtt_GetCodepointHMetrics(&s.F->Info, int(cp), &advance, &bearing);
        pen += s.Scale * float(advance);
        prev = cp;
    }
    return pen;
}

inline uint32_t Blend(uint32_t dst, uint32_t src, uint32_t a) {
    const uint32_t na = 255 - a;
    auto ch = [&](int shift) {
        const uint32_t d = (dst >> shift) & 0xFF, s = (src >> shift) & 0xFF;
        return ((s * a + d * na + 127) / 255) << shift;
    };
    return (dst & 0xFF000000u) | ch(16) | ch(8) | ch(0);
}

} // namespace

TFontMetrics FontMetrics(const TFont& font) {
    const Scaled s = Scale(font);
    return {s.Ascent, s.Descent, s.Ascent + s.Descent};
}

TSize TextExtent(const TFont& font, std::string_view text) {
    const Scaled s = Scale(font);
    const float w = Layout(s, text, [](char32_t, float) {});
    const int32_t width = text.empty() ? 0 : int32_t(std::ceil(w)) + (s.Bold ? 1 : 0);
    return {width, s.Ascent + s.Descent};
}

void TCanvas::TextOut(int32_t x, int32_t y, std::string_view text) {
    if (fTarget.IsEmpty() || fClip.IsEmpty() || text.empty()) return;
    const Scaled s = Scale(Font);
    const int32_t height = PixelHeight(Font);
    const uint32_t colour = ColorToOpaquePixel(Font.Color);
    const float left = float(fOrigin.X + x);
    const int32_t baseline = fOrigin.Y + y + s.Ascent;
    Layout(s, text, [&](char32_t cp, float pen) {
        const float at = left + pen;
        const float whole = std::floor(at);
        const int sub = std::min(kSubpixels - 1, int((at - whole) * kSubpixels));
        const Glyph& g = CachedGlyph(s, height, cp, sub);
        for (int pass = 0; pass < (s.Bold ? 2 : 1); ++pass) {
            const TRect box = Bounds(int32_t(whole) + g.X0 + pass, baseline + g.Y0, g.W, g.H);
            const TRect r = IntersectRect(box, fClip);
            for (int32_t py = r.Top; py < r.Bottom; ++py) {
                uint32_t* row = fTarget.Row(py);
                const uint8_t* cov = &g.Alpha[size_t(py - box.Top) * size_t(g.W)];
                for (int32_t px = r.Left; px < r.Right; ++px) {
                    const uint32_t a = cov[px - box.Left];
                    if (a) row[px] = Blend(row[px], colour, a);
                }
            }
        }
    });
}
