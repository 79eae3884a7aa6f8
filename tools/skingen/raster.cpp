#include "raster.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

namespace skin {

float sdCircle(float x, float y, float cx, float cy, float r) {
    return std::hypot(x - cx, y - cy) - r;
}

float sdRoundRect(float x, float y, float x0, float y0, float x1, float y1, float r) {
    const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const float hx = (x1 - x0) / 2 - r, hy = (y1 - y0) / 2 - r;
    const float qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
    const float outside = std::hypot(std::max(qx, 0.f), std::max(qy, 0.f));
    return outside + std::min(std::max(qx, qy), 0.f) - r;
}

float sdSegment(float x, float y, float ax, float ay, float bx, float by, float hw) {
    const float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    const float len2 = dx * dx + dy * dy;
    const float t = len2 > 0 ? clamp01((px * dx + py * dy) / len2) : 0.f;
    return std::hypot(px - dx * t, py - dy * t) - hw;
}

// --- Mask

void Mask::addShape(Box box, const std::function<float(float, float)>& sd) {
    const int x0 = std::max(box.x0, 0), y0 = std::max(box.y0, 0);
    const int x1 = std::min(box.x1, w_), y1 = std::min(box.y1, h_);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const float c = coverage(sd(x + 0.5f, y + 0.5f));
            float& v = at(x, y);
            v = std::max(v, c);
        }
}

void Mask::add(const Mask& other, int dx, int dy) {
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x)
            at(x, y) = std::max(at(x, y), other.get(x - dx, y - dy));
}

void Mask::cut(const Mask& other, int dx, int dy) {
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x)
            at(x, y) *= 1.f - other.get(x - dx, y - dy);
}

void Mask::intersect(const Mask& other) {
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x)
            at(x, y) *= other.get(x, y);
}

Mask Mask::shifted(int dx, int dy) const {
    Mask m(w_, h_);
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x)
            m.at(x, y) = get(x - dx, y - dy);
    return m;
}

void Mask::sharpen(float lo, float hi) {
    for (float& v : v_)
        v = smoothstep(lo, hi, v);
}

Mask Mask::blurred(float radius) const {
    // Three passes of a box of width ~ sqrt(12 r^2 / 3 + 1) approximate a Gaussian of sigma r.
    const int r = std::max(1, int(std::lround(std::sqrt(4.f * radius * radius + 1.f) / 2.f)));
    Mask a = *this, b(w_, h_);
    auto pass = [&](Mask& src, Mask& dst, bool horizontal) {
        const int n = horizontal ? w_ : h_, lines = horizontal ? h_ : w_;
        for (int l = 0; l < lines; ++l) {
            auto get = [&](int i) {
                return i < 0 || i >= n ? 0.f : horizontal ? src.at(i, l) : src.at(l, i);
            };
            float sum = 0;
            for (int i = -r; i <= r; ++i)
                sum += get(i);
            for (int i = 0; i < n; ++i) {
                (horizontal ? dst.at(i, l) : dst.at(l, i)) = sum / float(2 * r + 1);
                sum += get(i + r + 1) - get(i - r);
            }
        }
    };
    for (int k = 0; k < 3; ++k) {
        pass(a, b, true);
        pass(b, a, false);
    }
    return a;
}

// --- Layer

void Layer::fill(Rgb c) {
    for (Px& p : px_)
        p = {c.r, c.g, c.b, 1.f};
}

void Layer::blend(int x, int y, Rgb c, float cov) {
    if (x < 0 || y < 0 || x >= w_ || y >= h_ || cov <= 0) return;
    Px& p = at(x, y);
    const float k = 1.f - cov;
    p.r = c.r * cov + p.r * k;
    p.g = c.g * cov + p.g * k;
    p.b = c.b * cov + p.b * k;
    p.a = cov + p.a * k;
}

void Layer::paint(const Mask& m, const std::function<Rgb(int, int)>& colour, float opacity, int dx,
                  int dy) {
    for (int y = 0; y < m.height(); ++y)
        for (int x = 0; x < m.width(); ++x) {
            const float c = m.at(x, y) * opacity;
            if (c > 0) blend(x + dx, y + dy, colour(x + dx, y + dy), c);
        }
}

void Layer::paint(const Mask& m, Rgb colour, float opacity, int dx, int dy) {
    paint(
        m, [&](int, int) { return colour; }, opacity, dx, dy);
}

void Layer::shape(Box box, const std::function<float(float, float)>& sd,
                  const std::function<Rgb(int, int)>& colour, float opacity) {
    const int x0 = std::max(box.x0, 0), y0 = std::max(box.y0, 0);
    const int x1 = std::min(box.x1, w_), y1 = std::min(box.y1, h_);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const float c = coverage(sd(x + 0.5f, y + 0.5f)) * opacity;
            if (c > 0) blend(x, y, colour(x, y), c);
        }
}

void Layer::shape(Box box, const std::function<float(float, float)>& sd, Rgb colour,
                  float opacity) {
    shape(
        box, sd, [&](int, int) { return colour; }, opacity);
}

void Layer::rect(int x, int y, int w, int h, Rgb colour, float opacity) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            blend(i, j, colour, opacity);
}

void Layer::over(const Layer& src, int dx, int dy, float opacity) {
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x) {
            const int tx = x + dx, ty = y + dy;
            if (tx < 0 || ty < 0 || tx >= w_ || ty >= h_) continue;
            const Px& s = src.at(x, y);
            Px& d = at(tx, ty);
            const float k = 1.f - s.a * opacity;
            d.r = s.r * opacity + d.r * k;
            d.g = s.g * opacity + d.g * k;
            d.b = s.b * opacity + d.b * k;
            d.a = s.a * opacity + d.a * k;
        }
}

Rgb Layer::colourOver(int x, int y, Rgb backdrop) const {
    const Px& p = at(x, y);
    const float k = 1.f - p.a;
    return {p.r + backdrop.r * k, p.g + backdrop.g * k, p.b + backdrop.b * k};
}

// --- text

struct Face::Impl {
    std::vector<unsigned char> data;
    stbtt_fontinfo info{};
    int ascent = 0, descent = 0, gap = 0;
};

Face::Face(const std::string& path) : impl_(std::make_unique<Impl>()) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read font " + path);
    impl_->data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (impl_->data.empty() || !stbtt_InitFont(&impl_->info, impl_->data.data(),
                                               stbtt_GetFontOffsetForIndex(impl_->data.data(), 0)))
        throw std::runtime_error("not a usable TrueType font: " + path);
    stbtt_GetFontVMetrics(&impl_->info, &impl_->ascent, &impl_->descent, &impl_->gap);
}

Face::~Face() = default;

namespace {

template <class F>
float layout(const stbtt_fontinfo& info, std::string_view text, float scale, float tracking,
             F&& f) {
    float pen = 0;
    int prev = 0;
    for (unsigned char ch : text) { // the artwork's texts are ASCII
        const int cp = ch;
        if (prev) pen += scale * float(stbtt_GetCodepointKernAdvance(&info, prev, cp));
        f(cp, pen);
        int adv = 0, lsb = 0;
        stbtt_GetCodepointHMetrics(&info, cp, &adv, &lsb);
        pen += scale * float(adv) + tracking;
        prev = cp;
    }
    return text.empty() ? 0.f : pen - tracking;
}

} // namespace

float Face::advance(std::string_view text, float px, float tracking) const {
    const float s = stbtt_ScaleForMappingEmToPixels(&impl_->info, px);
    return layout(impl_->info, text, s, tracking, [](int, float) {});
}

float Face::ascent(float px) const {
    return float(impl_->ascent) * stbtt_ScaleForMappingEmToPixels(&impl_->info, px);
}

float Face::capHeight(float px) const {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetCodepointBox(&impl_->info, 'H', &x0, &y0, &x1, &y1);
    return float(y1) * stbtt_ScaleForMappingEmToPixels(&impl_->info, px);
}

void Face::draw(Mask& m, std::string_view text, float px, float x, float y, float tracking) const {
    const float s = stbtt_ScaleForMappingEmToPixels(&impl_->info, px);
    const float fy = std::floor(y);
    layout(impl_->info, text, s, tracking, [&](int cp, float pen) {
        const float at = x + pen, ix = std::floor(at);
        int bx0 = 0, by0 = 0, bx1 = 0, by1 = 0;
        stbtt_GetCodepointBitmapBoxSubpixel(&impl_->info, cp, s, s, at - ix, y - fy, &bx0, &by0,
                                            &bx1, &by1);
        const int gw = bx1 - bx0, gh = by1 - by0;
        if (gw <= 0 || gh <= 0) return;
        std::vector<unsigned char> bits(size_t(gw) * size_t(gh));
        stbtt_MakeCodepointBitmapSubpixel(&impl_->info, bits.data(), gw, gh, gw, s, s, at - ix,
                                          y - fy, cp);
        for (int j = 0; j < gh; ++j)
            for (int i = 0; i < gw; ++i) {
                const int tx = int(ix) + bx0 + i, ty = int(fy) + by0 + j;
                if (tx < 0 || ty < 0 || tx >= m.width() || ty >= m.height()) continue;
                const float c = bits[size_t(j) * size_t(gw) + size_t(i)] / 255.f;
                float& v = m.at(tx, ty);
                v = std::min(1.f, v + c); // overlapping glyph edges add up
            }
    });
}

Mask textMask(int w, int h, const Face& face, std::string_view text, float px, float x, float y,
              Align align, float tracking) {
    Mask m(w, h);
    const float width = face.advance(text, px, tracking);
    const float left = align == Align::Left     ? x
                       : align == Align::Centre ? x - width / 2
                                                : x - width;
    face.draw(m, text, px, left, y, tracking);
    return m;
}

} // namespace skin
