// A small anti-aliased rasteriser for the skin artwork: premultiplied float layers, coverage
// masks from signed distance functions, blurs for shadows and glows, and text from DejaVu faces.
// Everything is deterministic so every build draws the same bytes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

struct Rgb {
    float r = 0, g = 0, b = 0;
};

constexpr Rgb rgb(int r, int g, int b) {
    return {r / 255.f, g / 255.f, b / 255.f};
}
inline Rgb mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
inline Rgb scale(Rgb a, float k) {
    return {a.r * k, a.g * k, a.b * k};
}
inline float clamp01(float v) {
    return std::clamp(v, 0.f, 1.f);
}
inline float smoothstep(float e0, float e1, float x) {
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// --- signed distances in pixels (negative inside), evaluated at pixel centres
float sdCircle(float x, float y, float cx, float cy, float r);
// Rounded rectangle with corners (x0, y0) and (x1, y1) in continuous coordinates.
float sdRoundRect(float x, float y, float x0, float y0, float x1, float y1, float r);
// A stroke of half width hw around the segment a-b, round ends.
float sdSegment(float x, float y, float ax, float ay, float bx, float by, float hw);
// Coverage of a pixel from the distance at its centre.
inline float coverage(float d) {
    return clamp01(0.5f - d);
}

// A rectangle of pixels [x0, x1) x [y0, y1).
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Per-pixel coverage, 0..1.
class Mask {
  public:
    Mask(int w, int h) : w_(w), h_(h), v_(size_t(w) * size_t(h), 0.f) {}
    int width() const { return w_; }
    int height() const { return h_; }
    float& at(int x, int y) { return v_[size_t(y) * size_t(w_) + size_t(x)]; }
    float at(int x, int y) const { return v_[size_t(y) * size_t(w_) + size_t(x)]; }
    float get(int x, int y) const { return x < 0 || y < 0 || x >= w_ || y >= h_ ? 0.f : at(x, y); }

    // Adds a shape (union by maximum) given by its signed distance, evaluated inside box.
    void addShape(Box box, const std::function<float(float, float)>& sd);
    void add(const Mask& other, int dx = 0, int dy = 0);
    // Removes what other covers (this * (1 - other)).
    void cut(const Mask& other, int dx = 0, int dy = 0);
    // Keeps only what other covers too.
    void intersect(const Mask& other);
    // Three box blurs, close to a Gaussian of the given radius.
    Mask blurred(float radius) const;
    Mask shifted(int dx, int dy) const;
    // Steeper edges for very small text: coverage below lo vanishes, above hi becomes full.
    void sharpen(float lo, float hi);

  private:
    int w_, h_;
    std::vector<float> v_;
};

// Premultiplied RGBA in floats, (0, 0) at the top-left.
class Layer {
  public:
    struct Px {
        float r = 0, g = 0, b = 0, a = 0;
    };
    Layer(int w, int h) : w_(w), h_(h), px_(size_t(w) * size_t(h)) {}
    int width() const { return w_; }
    int height() const { return h_; }
    Px& at(int x, int y) { return px_[size_t(y) * size_t(w_) + size_t(x)]; }
    const Px& at(int x, int y) const { return px_[size_t(y) * size_t(w_) + size_t(x)]; }

    void fill(Rgb c);
    // Colour c with the given coverage over the pixel.
    void blend(int x, int y, Rgb c, float cov);
    // Paints where the mask covers, with a colour that may vary per pixel.
    void paint(const Mask& m, const std::function<Rgb(int, int)>& colour, float opacity = 1.f,
               int dx = 0, int dy = 0);
    void paint(const Mask& m, Rgb colour, float opacity = 1.f, int dx = 0, int dy = 0);
    // Convenience: one shape in one colour function.
    void shape(Box box, const std::function<float(float, float)>& sd,
               const std::function<Rgb(int, int)>& colour, float opacity = 1.f);
    void shape(Box box, const std::function<float(float, float)>& sd, Rgb colour,
               float opacity = 1.f);
    void rect(int x, int y, int w, int h, Rgb colour, float opacity = 1.f);
    // Another layer over this one at (dx, dy).
    void over(const Layer& src, int dx, int dy, float opacity = 1.f);
    // The colour of a pixel over an opaque backdrop.
    Rgb colourOver(int x, int y, Rgb backdrop) const;

  private:
    int w_, h_;
    std::vector<Px> px_;
};

// A line of text laid out in one face: coverage with sub-pixel pen positions.
class Face {
  public:
    // Throws std::runtime_error naming the file if it cannot be read.
    explicit Face(const std::string& path);
    ~Face();
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    // px is the em size in pixels; tracking is extra space after each character.
    float advance(std::string_view text, float px, float tracking = 0.f) const;
    float ascent(float px) const;
    float capHeight(float px) const;
    // Adds the text's coverage to m with the pen starting at x on baseline y.
    void draw(Mask& m, std::string_view text, float px, float x, float y,
              float tracking = 0.f) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

enum class Align { Left, Centre, Right };

// Text mask helper: draws text anchored at x (by align) with its baseline at y.
Mask textMask(int w, int h, const Face& face, std::string_view text, float px, float x, float y,
              Align align = Align::Left, float tracking = 0.f);

// Deterministic noise for textures.
class Random {
  public:
    explicit Random(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    // Uniform in [0, 1).
    float next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return float(s_ >> 40) / float(1ull << 24);
    }

  private:
    uint64_t s_;
};

} // namespace skin
