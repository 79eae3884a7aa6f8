// The image-list pictures: knob strips, slider tracks and handles, button faces, indicators.
#include "artwork.h"

#include <numbers>
#include <stdexcept>

namespace skin {

namespace pal = palette;

uint32_t toPixel(Rgb c) {
    auto b = [](float v) { return uint32_t(std::lround(clamp01(v) * 255.f)); };
    return 0xFF000000u | (b(c.r) << 16) | (b(c.g) << 8) | b(c.b);
}

Picture flatten(const Layer& layer, Rgb backdrop) {
    Picture p{layer.width(), layer.height(), {}};
    p.px.resize(size_t(p.w) * size_t(p.h));
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            p.at(x, y) = toPixel(layer.colourOver(x, y, backdrop));
    return p;
}

namespace {

uint32_t keyPixel(const ImageSpec& s) {
    return 0xFF000000u | (uint32_t(s.keyR) << 16) | (uint32_t(s.keyG) << 8) | s.keyB;
}

// Keyed drawing copies a pixel or skips it, so partly covered edge pixels are blended toward the
// panel that will show around the control, and only empty pixels get the key. A body pixel that
// happens to equal the key is moved off it by one step.
Picture keyed(const Layer& layer, const ImageSpec& image, Rgb surround) {
    const uint32_t key = keyPixel(image);
    Picture p = flatten(layer, surround);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            uint32_t& v = p.at(x, y);
            if (layer.at(x, y).a < 0.03f)
                v = key;
            else if (v == key)
                v ^= 0x00000100u; // green off by one
        }
    return p;
}

// tmAuto images report their bottom-left pixel as their transparent colour; the stored settings
// name a colour, so that pixel must be exactly it.
void checkAutoCorner(const Picture& p, const ImageSpec& image) {
    if (!image.fixedMode && p.at(0, p.h - 1) != keyPixel(image))
        throw std::logic_error(std::string("bottom-left pixel of \"") + image.name +
                               "\" is not its transparent colour");
}

// Clockwise angle from twelve o'clock, in radians.
float angleOf(float dx, float dy) {
    return std::atan2(dx, -dy);
}

// A band of half width hw around the circle of radius r between angles a0 and a1 (a0 <= a1,
// clockwise from twelve o'clock), with round ends.
float sdArc(float x, float y, float cx, float cy, float r, float hw, float a0, float a1) {
    const float dx = x - cx, dy = y - cy;
    const float a = angleOf(dx, dy);
    if (a >= a0 && a <= a1) return std::abs(std::hypot(dx, dy) - r) - hw;
    const float e0 = std::hypot(x - (cx + r * std::sin(a0)), y - (cy - r * std::cos(a0)));
    const float e1 = std::hypot(x - (cx + r * std::sin(a1)), y - (cy - r * std::cos(a1)));
    return std::min(e0, e1) - hw;
}

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kSweep = 150.f * kPi / 180.f; // each side of twelve o'clock: a 300 degree arc

// --- knobs

// One 28 x 28 knob at (ox, 0) with its value ring lit up to t (0..1).
void drawKnob(Layer& L, int ox, float t, bool silver) {
    const float cx = ox + 14.f, cy = 14.f;
    const Box cell{ox, 0, ox + 28, 28};
    const float a0 = -kSweep, a = -kSweep + 2 * kSweep * t;

    // Value ring: a dim groove over the whole travel, lit from the minimum to the value.
    L.shape(
        cell, [&](float x, float y) { return sdArc(x, y, cx, cy, 12.2f, 1.15f, a0, kSweep); },
        rgb(132, 137, 146));
    if (t > 0)
        L.shape(
            cell, [&](float x, float y) { return sdArc(x, y, cx, cy, 12.2f, 1.2f, a0, a); },
            pal::amber);

    // Cast shadow, then the body: a bevelled rim around a slightly dished cap.
    Mask body(L.width(), L.height());
    body.addShape(cell, [&](float x, float y) { return sdCircle(x, y, cx, cy, 9.4f); });
    L.paint(body.blurred(1.1f).shifted(0, 1), rgb(20, 22, 26), 0.55f);
    const Rgb hi = silver ? rgb(236, 238, 241) : rgb(128, 133, 142);
    const Rgb lo = silver ? rgb(128, 132, 139) : rgb(30, 32, 36);
    L.paint(body,
            [&](int, int y) { return mix(hi, lo, clamp01((y + 0.5f - (cy - 9.4f)) / 18.8f)); });
    const Rgb capHi = silver ? rgb(214, 217, 222) : rgb(84, 88, 96);
    const Rgb capLo = silver ? rgb(170, 174, 181) : rgb(46, 48, 54);
    L.shape(
        cell, [&](float x, float y) { return sdCircle(x, y, cx, cy, 7.7f); },
        [&](int, int y) { return mix(capLo, capHi, clamp01((y + 0.5f - (cy - 7.7f)) / 15.4f)); });
    // A soft sheen on the upper left of the cap.
    Mask sheen(L.width(), L.height());
    sheen.addShape(cell,
                   [&](float x, float y) { return sdCircle(x, y, cx - 2.2f, cy - 3.f, 3.2f); });
    Mask cap(L.width(), L.height());
    cap.addShape(cell, [&](float x, float y) { return sdCircle(x, y, cx, cy, 7.2f); });
    sheen = sheen.blurred(1.6f);
    sheen.intersect(cap);
    L.paint(sheen, rgb(255, 255, 255), silver ? 0.35f : 0.18f);

    // Pointer from near the centre out to the rim.
    const float s = std::sin(a), c = -std::cos(a);
    const Rgb pointer = silver ? rgb(34, 36, 40) : rgb(244, 245, 247);
    L.shape(
        cell,
        [&](float x, float y) {
            return sdSegment(x, y, cx + s * 2.6f, cy + c * 2.6f, cx + s * 8.3f, cy + c * 8.3f,
                             0.85f);
        },
        pointer);
}

Picture knobStrip(const ImageSpec& image, bool silver) {
    Layer L(image.w, image.h);
    for (int i = 0; i < kKnobFrames; ++i) {
        // Each frame on its own small layer: the masks stay frame-sized.
        Layer frame(28, 28);
        drawKnob(frame, 0, float(i) / (kKnobFrames - 1), silver);
        L.over(frame, i * 28, 0);
    }
    return keyed(L, image, pal::panel);
}

// --- slider tracks and handles (the vertical form; horizontal ones are transposed)

Picture transpose(const Picture& p) {
    Picture t{p.h, p.w, std::vector<uint32_t>(p.px.size())};
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            t.at(y, x) = p.at(x, y);
    return t;
}

// A 16-pixel-wide cross-section of the groove; every row the same, since the slider stretches
// the track along its length.
Picture verticalTrack(int length, const ImageSpec& image) {
    Layer L(16, length);
    for (int y = 0; y < length; ++y) {
        L.blend(5, y, rgb(96, 100, 107), 1.f);
        L.blend(6, y, rgb(16, 17, 20), 1.f);
        L.blend(7, y, rgb(26, 28, 31), 1.f);
        L.blend(8, y, rgb(32, 34, 38), 1.f);
        L.blend(9, y, rgb(44, 46, 51), 1.f);
        L.blend(10, y, rgb(216, 219, 223), 1.f);
    }
    return keyed(L, image, pal::panel);
}

// A fader cap 16 x 27: dark outline, bevelled body, grip ridges and a bright centre line.
Picture verticalHandle() {
    constexpr int w = 16, h = 27;
    Layer L(w, h);
    L.fill(rgb(49, 49, 49));
    const Rgb top = rgb(118, 123, 131), bottom = rgb(66, 69, 76);
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            // Lit from above: the upper half slopes toward the light.
            const float v = float(y - 1) / float(h - 3);
            const float bevel = y < h / 2 ? 0.f : 0.12f;
            L.blend(x, y, mix(top, bottom, clamp01(v * 0.8f + bevel)), 1.f);
        }
    for (int x = 1; x < w - 1; ++x) {
        L.blend(x, 1, rgb(170, 175, 183), 1.f);
        L.blend(x, h - 2, rgb(44, 46, 51), 1.f);
    }
    for (int y = 1; y < h - 1; ++y) {
        L.blend(1, y, rgb(140, 145, 153), 0.6f);
        L.blend(w - 2, y, rgb(40, 42, 47), 0.6f);
    }
    for (int ridge : {4, 7, 10, 16, 19, 22}) {
        for (int x = 3; x < w - 3; ++x) {
            L.blend(x, ridge, rgb(40, 42, 47), 0.85f);
            L.blend(x, ridge + 1, rgb(150, 155, 163), 0.55f);
        }
    }
    for (int x = 2; x < w - 2; ++x)
        L.blend(x, 13, rgb(250, 250, 250), 1.f);
    return flatten(L, rgb(49, 49, 49));
}

// --- button faces: off face on the left, lit face on the right

using Legend = std::function<Mask(int w, int h, float cx, float cy)>;

void drawFace(Layer& L, int ox, int w, int h, bool on, const Legend& legend, Rgb lit, bool led) {
    const Box box{ox, 0, ox + w, h};
    L.rect(ox, 0, w, h, rgb(180, 182, 186));
    // The opening in the panel, then the cap sitting in it.
    L.shape(
        box,
        [&](float x, float y) {
            return sdRoundRect(x, y, ox + 1.f, 1.f, ox + w - 1.f, h - 1.f, 2.6f);
        },
        pal::well);
    const float x0 = ox + 2.f, y0 = 2.f, x1 = ox + w - 2.f, y1 = h - 2.f;
    auto capShape = [&](float x, float y) { return sdRoundRect(x, y, x0, y0, x1, y1, 1.8f); };
    const Rgb top = on ? rgb(62, 65, 71) : pal::capTop;
    const Rgb bottom = on ? rgb(78, 82, 89) : pal::capBottom;
    L.shape(box, capShape,
            [&](int, int y) { return mix(top, bottom, clamp01((y + 0.5f - y0) / (y1 - y0))); });
    if (!on) {
        // Top edge catches the light; a pressed cap sits too deep for that.
        Mask edge(L.width(), L.height());
        edge.addShape(box, capShape);
        const Mask below = edge;
        edge.cut(below, 0, 1);
        L.paint(edge, rgb(178, 183, 191), 0.7f);
    }
    const float cy = h / 2.f + (on ? 0.5f : 0.f);
    Mask m = legend(L.width(), L.height(), ox + w / 2.f + (led ? 3.5f : 0.f), cy);
    Mask lamp(L.width(), L.height());
    if (led)
        lamp.addShape(box, [&](float x, float y) { return sdCircle(x, y, ox + 8.f, cy, 2.3f); });
    Mask cap(L.width(), L.height());
    cap.addShape(box, capShape);
    if (on) {
        Mask lights = m;
        lights.add(lamp);
        Mask glow = lights.blurred(1.4f);
        glow.intersect(cap);
        L.paint(glow, lit, 0.9f);
        L.paint(m, mix(lit, rgb(255, 255, 255), 0.35f));
        L.paint(lamp, mix(lit, rgb(255, 255, 255), 0.6f));
    } else {
        L.paint(m, rgb(196, 201, 208));
        // An unlit lamp: dark glass with a glint.
        L.paint(lamp, mix(lit, rgb(30, 32, 36), 0.78f));
        L.blend(ox + 7, int(cy) - 1, rgb(200, 210, 200), 0.35f);
    }
}

Picture buttonImage(const ImageSpec& image, const Legend& legend, Rgb lit, bool led = false) {
    Layer L(image.w, image.h);
    const int fw = image.w / 2;
    drawFace(L, 0, fw, image.h, false, legend, lit, led);
    drawFace(L, fw, fw, image.h, true, legend, lit, led);
    return flatten(L, rgb(180, 182, 186));
}

Legend textLegend(const Face& face, const char* text, float px, float tracking) {
    return [&face, text, px, tracking](int w, int h, float cx, float cy) {
        return textMask(w, h, face, text, px, cx, cy + face.capHeight(px) / 2, Align::Centre,
                        tracking);
    };
}

// Two interlocked chain links.
Legend chainLegend() {
    return [](int w, int h, float cx, float cy) {
        const float hw = 0.8f, rx = 5.2f, ry = 2.9f, off = 3.3f;
        auto link = [&](float x, float y, float lx) {
            return std::abs(sdRoundRect(x, y, lx - rx, cy - ry, lx + rx, cy + ry, ry)) - hw;
        };
        const Box box{int(cx) - 12, int(cy) - 6, int(cx) + 12, int(cy) + 6};
        Mask left(w, h), right(w, h);
        left.addShape(box, [&](float x, float y) { return link(x, y, cx - off); });
        right.addShape(box, [&](float x, float y) { return link(x, y, cx + off); });
        // The right link passes over the left one at the top and under it at the bottom.
        Mask m = left;
        Mask gap(w, h);
        gap.addShape({int(cx) - 2, int(cy) - 6, int(cx) + 2, int(cy)}, [&](float x, float y) {
            return std::max(link(x, y, cx + off) - 1.1f, y - cy);
        });
        m.cut(gap);
        Mask rightCut = right;
        Mask gap2(w, h);
        gap2.addShape({int(cx) - 2, int(cy), int(cx) + 2, int(cy) + 6}, [&](float x, float y) {
            return std::max(link(x, y, cx - off) - 1.1f, cy - y);
        });
        rightCut.cut(gap2);
        m.add(rightCut);
        return m;
    };
}

// Small indicator pictures.
// A red lamp with its legend, lit while the tempo is the manual one. Its rim is the colour the
// picture reports as transparent.
Picture manualImage(const ImageSpec& image, const Fonts& f) {
    Layer L(image.w, image.h);
    L.fill(rgb(188, 50, 53));
    for (int y = 1; y < image.h - 1; ++y)
        for (int x = 1; x < image.w - 1; ++x)
            L.blend(x, y, mix(rgb(236, 86, 76), rgb(150, 30, 34), float(y) / float(image.h - 1)),
                    1.f);
    for (int x = 1; x < image.w - 1; ++x)
        L.blend(x, 1, rgb(255, 170, 160), 0.6f);
    const float px = 8.f;
    Mask m = textMask(image.w, image.h, f.condensedBold, "MANUAL", px, image.w / 2.f,
                      std::round(image.h / 2.f + f.condensedBold.capHeight(px) / 2), Align::Centre,
                      0.4f);
    L.paint(m.shifted(0, 1), rgb(90, 10, 14), 0.7f);
    L.paint(m, rgb(255, 244, 238));
    return flatten(L, rgb(188, 50, 53));
}

Picture noSyncImage(const ImageSpec& image, const Fonts& f) {
    Layer L(image.w, image.h);
    L.fill(rgb(141, 141, 151));
    // Caps exactly five pixels high, standing on the last row but one: crisp at this size.
    const float px = 5.f / f.sansBold.capHeight(1.f);
    Mask m = textMask(image.w, image.h, f.sansBold, "NO SYNC", px, std::round(image.w / 2.f), 6.f,
                      Align::Centre, 1.f);
    m.sharpen(0.2f, 0.8f);
    L.paint(m, rgb(28, 28, 36));
    return flatten(L, rgb(141, 141, 151));
}

} // namespace

Picture drawImage(int index, const Fonts& f) {
    const ImageSpec& image = kImages[index];
    Picture p;
    switch (index) {
    case kSliderVerti:
        p = verticalHandle();
        break;
    case kSliderHori:
        p = transpose(verticalHandle());
        break;
    case kTrackVerti:
        p = verticalTrack(3, image);
        break;
    case kTrackHori:
        p = transpose(verticalTrack(3, image));
        break;
    case kKnob2:
        p = knobStrip(image, false);
        break;
    case kKnob3:
        p = knobStrip(image, true);
        break;
    case kSyncButton:
        p = buttonImage(image, textLegend(f.condensedBold, "SYNC", 8.f, 0.5f), pal::amber);
        break;
    case kSmallOnButton:
        p = buttonImage(image, textLegend(f.sansBold, "ON", 7.f, 0.3f), pal::green);
        break;
    case kOnButton:
        p = buttonImage(image, textLegend(f.sansBold, "ON", 8.f, 0.4f), pal::green, true);
        break;
    case kLinkButton:
        p = buttonImage(image, chainLegend(), pal::amber);
        break;
    case kFitButton:
        p = buttonImage(image, textLegend(f.sansBold, "FIT", 7.f, 0.4f), pal::amber);
        break;
    case kManualImage:
        p = manualImage(image, f);
        break;
    case kNoSyncImage:
        p = noSyncImage(image, f);
        break;
    default:
        throw std::logic_error("no such image");
    }
    if (p.w != image.w || p.h != image.h)
        throw std::logic_error(std::string("wrong size for \"") + image.name + "\"");
    checkAutoCorner(p, image);
    return p;
}

Fonts::Fonts(const std::string& dir)
    : sans(dir + "/DejaVuSans.ttf"), sansBold(dir + "/DejaVuSans-Bold.ttf"),
      condensed(dir + "/DejaVuSansCondensed.ttf"),
      condensedBold(dir + "/DejaVuSansCondensed-Bold.ttf") {}

} // namespace skin
