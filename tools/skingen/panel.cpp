// The front panel (600 x 371) and the back-side picture (436 x 106).
//
// The panel is brushed aluminium with engraved section frames around the controls' places. Value
// labels print dark text on light readout fields, the silver legends and the tempo on dark
// windows, and the status labels white text in the status window, so every text stays legible;
// nothing but the plain field lies under a label.
#include "artwork.h"

namespace skin {

namespace pal = palette;

namespace {

const Label& label(const char* name) {
    for (const Label& l : kLabels)
        if (std::string_view(l.name) == name) return l;
    throw std::logic_error(std::string("no label ") + name);
}

const Control& control(const char* name) {
    for (const Control& c : kControls)
        if (std::string_view(c.name) == name) return c;
    throw std::logic_error(std::string("no control ") + name);
}

Box boxAround(float x0, float y0, float x1, float y1, int margin = 2) {
    return {int(std::floor(x0)) - margin, int(std::floor(y0)) - margin, int(std::ceil(x1)) + margin,
            int(std::ceil(y1)) + margin};
}

class PanelPainter {
  public:
    PanelPainter(Layer& layer, const Fonts& fonts) : L(layer), f(fonts) {}

    // Horizontal brushing: long streaks along each row, a little row-to-row variation, and light
    // falling from above.
    void brushedMetal(Rgb base, uint64_t seed, float lightTop, float lightBottom) {
        Random rnd(seed);
        const int w = L.width(), h = L.height();
        std::vector<float> streak(size_t(w) + 64);
        for (int y = 0; y < h; ++y) {
            for (float& s : streak)
                s = rnd.next() - 0.5f;
            // Smooth along the row so the grain runs horizontally.
            for (int pass = 0; pass < 3; ++pass)
                for (size_t i = 0; i + 8 < streak.size(); ++i) {
                    float sum = 0;
                    for (size_t k = 0; k < 8; ++k)
                        sum += streak[i + k];
                    streak[i] = sum / 8.f;
                }
            const float row = (rnd.next() - 0.5f) * 0.012f;
            const float light = lightTop + (lightBottom - lightTop) * float(y) / float(h - 1);
            for (int x = 0; x < w; ++x) {
                const float v =
                    row + streak[size_t(x)] * 0.045f + (rnd.next() - 0.5f) * 0.008f + light;
                L.at(x, y) = {base.r + v, base.g + v, base.b + v * 1.05f, 1.f};
            }
        }
    }

    // An engraved rounded frame: a shaded groove with a lit lower edge, leaving a gap in the top
    // edge for the title, which sits in that gap.
    void frame(int x0, int y0, int x1, int y1, const char* title, float titleCx = -1) {
        const float r = 5.f;
        const float cx = titleCx < 0 ? (x0 + x1) / 2.f : titleCx;
        const float titlePx = 8.f, tracking = 1.2f;
        const float tw = f.sansBold.advance(title, titlePx, tracking);
        const float gap0 = cx - tw / 2 - 4, gap1 = cx + tw / 2 + 4;
        auto outline = [&](float x, float y, float dx, float dy) {
            const float d =
                std::abs(sdRoundRect(x - dx, y - dy, x0 + .5f, y0 + .5f, x1 + .5f, y1 + .5f, r)) -
                0.5f;
            return d;
        };
        Mask dark(L.width(), L.height()), light(L.width(), L.height());
        const Box box{x0 - 2, y0 - 2, x1 + 3, y1 + 3};
        dark.addShape(box, [&](float x, float y) { return outline(x, y, 0, 0); });
        light.addShape(box, [&](float x, float y) { return outline(x, y, 1, 1); });
        light.cut(dark);
        Mask gap(L.width(), L.height());
        gap.addShape({int(gap0) - 1, y0 - 3, int(gap1) + 2, y0 + 3},
                     [&](float x, float) { return std::max(gap0 - x, x - gap1); });
        dark.cut(gap);
        light.cut(gap);
        L.paint(dark, pal::panelShade, 0.9f);
        L.paint(light, pal::panelLight, 0.85f);
        engraved(title, f.sansBold, titlePx, cx, y0 + 0.5f + f.sansBold.capHeight(titlePx) / 2,
                 Align::Centre, pal::ink, tracking);
    }

    // Text cut into the metal: dark letters with a lit edge below them.
    void engraved(const char* text, const Face& face, float px, float x, float baseline, Align a,
                  Rgb ink, float tracking = 0.f) {
        Mask m = textMask(L.width(), L.height(), face, text, px, x, baseline, a, tracking);
        L.paint(m.shifted(0, 1), pal::panelLight, 0.65f);
        L.paint(m, ink);
    }

    void caption(const char* text, float cx, float baseline) {
        engraved(text, f.sansBold, 7.f, cx, baseline, Align::Centre, pal::inkSoft, 0.6f);
    }

    void unit(const char* text, float x, float baseline, Align a = Align::Centre) {
        engraved(text, f.condensed, 9.f, x, baseline, a, pal::inkSoft, 0.f);
    }

    // A light readout field under a value label, a little wider than the label so texts that
    // overhang their box still sit on it.
    void field(const Label& l) {
        const float x0 = l.r.x - 3.f, y0 = l.r.y + 0.f, x1 = l.r.right() + 2.f,
                    y1 = l.r.bottom() + 0.f;
        const Box box = boxAround(x0, y0, x1, y1);
        auto sd = [&](float x, float y) { return sdRoundRect(x, y, x0, y0, x1, y1, 2.5f); };
        L.shape(
            box, [&](float x, float y) { return sdRoundRect(x, y, x0, y0 - 1, x1, y1, 2.5f); },
            pal::panelShade, 0.8f);
        L.shape(
            box, [&](float x, float y) { return sdRoundRect(x, y, x0, y0, x1, y1 + 1, 2.5f); },
            pal::panelLight, 0.9f);
        L.shape(box, sd, pal::field);
    }

    // A dark window set into the panel.
    void window(float x0, float y0, float x1, float y1, float r) {
        const Box box = boxAround(x0, y0, x1, y1);
        L.shape(
            box, [&](float x, float y) { return sdRoundRect(x, y, x0, y0, x1, y1 + 1, r); },
            pal::panelLight, 0.9f);
        L.shape(
            box,
            [&](float x, float y) {
                return sdRoundRect(x, y, x0 - .5f, y0 - .5f, x1 + .5f, y1, r + .5f);
            },
            pal::panelShade);
        L.shape(
            box, [&](float x, float y) { return sdRoundRect(x, y, x0, y0, x1, y1, r); },
            [&](int, int y) {
                return mix(rgb(12, 13, 16), pal::display, clamp01((y - y0) / 6.f));
            });
    }

    // The groove's rounded ends beyond a slider, and a scale on both sides of its travel.
    void sliderScale(const Control& c) {
        const bool vertical = c.kind == Kind::VSlider;
        const int length = vertical ? c.r.h : c.r.w;
        const int travel = length + 1 - 27; // the handle runs from one pixel before the start
        const Rgb groove = rgb(24, 26, 29);
        if (vertical) {
            const float gx0 = c.r.x + 6.f, gx1 = c.r.x + 10.f;
            L.shape(
                boxAround(gx0, c.r.y - 3.f, gx1, c.r.bottom() + 3.f),
                [&](float x, float y) {
                    return sdRoundRect(x, y, gx0, c.r.y - 1.f, gx1, c.r.bottom() + 1.f, 2.f);
                },
                groove);
        } else {
            const float gy0 = c.r.y + 6.f, gy1 = c.r.y + 10.f;
            L.shape(
                boxAround(c.r.x - 3.f, gy0, c.r.right() + 3.f, gy1),
                [&](float x, float y) {
                    return sdRoundRect(x, y, c.r.x - 1.f, gy0, c.r.right() + 1.f, gy1, 2.f);
                },
                groove);
        }
        const int ticks = 11;
        for (int i = 0; i < ticks; ++i) {
            const float at = 12.5f + float(travel) * float(i) / float(ticks - 1);
            const bool major = i == 0 || i == ticks / 2 || i == ticks - 1;
            const float len = major ? 3.5f : 2.2f;
            for (int side = 0; side < 2; ++side) {
                if (vertical) {
                    const float y = c.r.y + at;
                    const float xa = side == 0 ? c.r.x + 4.f - len : c.r.x + 12.f;
                    L.shape(
                        boxAround(xa, y - 1, xa + len, y + 1),
                        [&](float x, float yy) {
                            return sdRoundRect(x, yy, xa, y - .5f, xa + len, y + .5f, 0.f);
                        },
                        pal::inkSoft, major ? 0.95f : 0.7f);
                } else {
                    const float x = c.r.x + at;
                    const float ya = side == 0 ? c.r.y + 4.f - len : c.r.y + 12.f;
                    L.shape(
                        boxAround(x - 1, ya, x + 1, ya + len),
                        [&](float xx, float y) {
                            return sdRoundRect(xx, y, x - .5f, ya, x + .5f, ya + len, 0.f);
                        },
                        pal::inkSoft, major ? 0.95f : 0.7f);
                }
            }
        }
    }

    // A slotted screw head sunk into the panel.
    void screw(float cx, float cy) {
        const Box box = boxAround(cx - 5, cy - 5, cx + 5, cy + 5);
        L.shape(
            box, [&](float x, float y) { return sdCircle(x, y, cx, cy + 0.5f, 4.f); },
            rgb(10, 11, 13), 0.8f);
        L.shape(
            box, [&](float x, float y) { return sdCircle(x, y, cx, cy, 3.5f); },
            [&](int, int y) {
                return mix(rgb(190, 194, 200), rgb(96, 100, 107),
                           clamp01((y + 0.5f - cy + 3.5f) / 7.f));
            });
        L.shape(
            box,
            [&](float x, float y) {
                return sdSegment(x, y, cx - 2.6f, cy + 1.5f, cx + 2.6f, cy - 1.5f, 0.55f);
            },
            rgb(40, 42, 46));
    }

    // Light text set into a dark surface.
    void engravedOnDark(const char* text, const Face& face, float px, float x, float baseline,
                        float tracking) {
        Mask m =
            textMask(L.width(), L.height(), face, text, px, x, baseline, Align::Left, tracking);
        L.paint(m.shifted(0, -1), rgb(0, 0, 0), 0.5f);
        L.paint(m, rgb(150, 156, 166));
    }

    Layer& L;
    const Fonts& f;
};

// A quill: a feather vane with notches in it and its shaft running on into a pointed nib.
// (cx, cy) is the middle of the whole length; angle tilts it clockwise from upright. The shaft
// comes back separately so it can be drawn lighter over the vane.
struct Quill {
    Mask body, shaft;
};

Quill quill(int w, int h, float cx, float cy, float length, float angle) {
    const float s = std::sin(angle), c = std::cos(angle);
    // Local coordinates: u along the quill from its tip (-length/2) to the nib (+length/2), v
    // across it.
    auto local = [&](float x, float y, float& u, float& v) {
        const float dx = x - cx, dy = y - cy;
        u = -(dx * s - dy * c);
        v = dx * c + dy * s;
    };
    const float vaneLength = length * 0.74f, vaneWidth = length * 0.17f;
    const float vaneMid = -length / 2 + vaneLength / 2;
    const float r = (vaneLength * vaneLength / 4 + vaneWidth * vaneWidth / 4) / vaneWidth;
    const float off = r - vaneWidth / 2;
    const Box box{int(cx - length / 2 - 12), int(cy - length / 2 - 12), int(cx + length / 2 + 12),
                  int(cy + length / 2 + 12)};
    auto shaftDistance = [&](float u, float v) {
        const float t = clamp01((u + length / 2) / length);
        const float half = 0.35f + 0.9f * std::sin(t * 3.1416f * 0.85f);
        return std::max(std::abs(v + 0.0004f * u * u) - half, std::abs(u) - length / 2);
    };
    Quill q{Mask(w, h), Mask(w, h)};
    q.body.addShape(box, [&](float x, float y) {
        float u = 0, v = 0;
        local(x, y, u, v);
        const float vv = v + 0.0004f * u * u; // a gentle curve along the length
        const float vane =
            std::max(sdCircle(u, vv, vaneMid, -off, r), sdCircle(u, vv, vaneMid, off * 0.9f, r));
        return std::min(vane, shaftDistance(u, v));
    });
    q.shaft.addShape(box, [&](float x, float y) {
        float u = 0, v = 0;
        local(x, y, u, v);
        return shaftDistance(u, v);
    });
    // Notches: barbs parted from the edge toward the shaft, slanting toward the tip.
    Mask cuts(w, h);
    for (auto [at, side] : {std::pair{-0.26f, 1.f}, {-0.02f, 1.f}, {-0.14f, -1.f}, {0.1f, -1.f}}) {
        const float u0 = at * length;
        cuts.addShape(box, [&](float x, float y) {
            float u = 0, v = 0;
            local(x, y, u, v);
            const float vv = v + 0.0004f * u * u;
            return sdSegment(u, vv, u0, side * 2.f, u0 - vaneWidth * 0.5f, side * vaneWidth * 0.7f,
                             0.6f);
        });
    }
    q.body.cut(cuts);
    q.body.cut(q.shaft);
    return q;
}

} // namespace

Picture drawPanel(const Fonts& fonts) {
    Layer L(kPanelW, kPanelH);
    PanelPainter p(L, fonts);
    p.brushedMetal(pal::panel, 7, 0.025f, -0.03f);

    // The panel's own edge: lit top and left, shaded bottom and right.
    L.rect(0, 0, kPanelW, 1, pal::panelLight, 0.9f);
    L.rect(0, 0, 1, kPanelH, pal::panelLight, 0.7f);
    L.rect(0, 368, kPanelW, 1, pal::panelShade, 0.9f);
    L.rect(599, 0, 1, kPanelH, pal::panelShade, 0.8f);

    // Sections, each framed around its controls and labels.
    p.frame(12, 12, 120, 211, "DELAY TIME");
    p.frame(12, 222, 120, 309, "INITIAL DELAY");
    p.frame(126, 12, 228, 229, "FILTER");
    p.frame(126, 236, 228, 309, "TEMPO");
    p.frame(234, 12, 340, 175, "FEEDBACK");
    p.frame(234, 186, 340, 309, "CUT FILTERS");
    p.frame(348, 12, 500, 86, "DUCKER", control("DuckerOnButton").r.cx());
    p.frame(348, 92, 500, 158, "GATE", control("GateOnButton").r.cx());
    p.frame(348, 166, 500, 309, "LEVELS");

    for (const Control& c : kControls)
        if (c.kind == Kind::VSlider || c.kind == Kind::HSlider) p.sliderScale(c);

    // Readout fields under every dark value text; the silver ones sit on dark windows.
    for (const Label& l : kLabels)
        if (l.style == LabelStyle::Value) p.field(l);
    for (const char* name : {"Label9", "Label10"}) {
        const Label& l = label(name);
        p.window(l.r.x - 3.f, l.r.y + 0.f, l.r.right() + 3.f, l.r.bottom() + 0.f, 3.f);
    }
    // Tempo window: the sync tempo above the manual-tempo indicator.
    p.window(133.f, 254.f, 179.f, 298.f, 3.f);
    // Status window for the sample rate, host tempo, host sync and version.
    p.window(513.f, 6.f, 595.f, 52.f, 4.f);

    // Channel captions over the sliders and knobs.
    auto over = [&](const char* name, const char* text, float baseline) {
        p.caption(text, control(name).r.cx(), baseline);
    };
    over("LeftDelayTimeVisibleSlider", "L", 54);
    over("RightDelayTimeVisibleSlider", "R", 54);
    over("LeftFilterFreqSlider", "L", 54);
    over("RightFilterFreqSlider", "R", 54);
    over("LeftFeedbackLevelSlider", "L", 54);
    over("RightFeedbackLevelSlider", "R", 54);
    over("LeftInitialDelayTimeKnob", "L", 240);
    over("RightInitialDelayTimeKnob", "R", 240);
    over("DuckerRangeKnob", "RANGE", 33);
    over("DuckerSpeedKnob", "SPEED", 33);
    over("GateThresholdKnob", "THRESH", 106);
    over("GateSpeedKnob", "SPEED", 106);
    over("LeftDelayLevelSlider", "L", 201);
    over("RightDelayLevelSlider", "R", 201);
    over("DryLevelSlider", "DRY", 201);
    p.caption("RESO", 176.5f, 176);
    p.caption("BPM", 145.f, 250);
    p.caption("HOST", control("TempoSyncButton").r.cx(), 250);

    // Units, level with the value texts (their baseline lies 10 pixels below the label's top).
    auto between = [&](const char* left, const char* right, const char* text) {
        const Label& a = label(left);
        const Label& b = label(right);
        p.unit(text, (a.r.right() + b.r.x) / 2.f, a.r.y + 10.f);
    };
    auto after = [&](const char* name, const char* text) {
        const Label& a = label(name);
        p.unit(text, a.r.right() + 3.f, a.r.y + 10.f, Align::Left);
    };
    between("LeftDelayTimeInMsLabel", "RightDelayTimeInMsLabel", "ms");
    between("LeftInitialDelayTimeInMsLabel", "RightInitialDelayTimeInMsLabel", "ms");
    between("LeftFilterFreqLabel", "RightFilterFreqLabel", "Hz");
    between("LeftFilterResoLabel", "RightFilterResoLabel", "%");
    between("LeftFeedbackLevelLabel", "RightFeedbackLevelLabel", "%");
    between("LeftDelayLevelLabel", "RightDelayLevelLabel", "dB");
    after("DryLevelLabel", "dB");
    after("HiCutLabel", "Hz");
    after("LoCutLabel", "Hz");
    after("DuckerRangeLabel", "%");
    after("DuckerSpeedLabel", "%");
    after("GateThresholdLabel", "dB");
    after("GateSpeedLabel", "%");
    p.engraved("HIGH", fonts.sansBold, 7.f, 336.f, 240.f, Align::Right, pal::inkSoft, 0.6f);
    p.engraved("LOW", fonts.sansBold, 7.f, 336.f, 292.f, Align::Right, pal::inkSoft, 0.6f);

    // The emblem in the free column under the status window: a quill trailed by two fading
    // echoes of itself, cut into the metal.
    for (int echo = 2; echo >= 0; --echo) {
        const float k = float(echo);
        const Quill q =
            quill(L.width(), L.height(), 556.f - 12.f * k, 180.f + 4.f * k, 190.f, 0.3f);
        const float strength = echo == 0 ? 1.f : echo == 1 ? 0.4f : 0.18f;
        Mask all = q.body;
        all.add(q.shaft);
        L.paint(all.shifted(1, 1), pal::panelLight, 0.8f * strength);
        L.paint(q.body, pal::panelShade, 0.75f * strength);
        L.paint(q.shaft, pal::ink, 0.8f * strength);
    }

    // Footer band in dark anodised metal; the logo control takes its clicks on the name.
    for (int y = 315; y < kPanelH; ++y)
        for (int x = 0; x < kPanelW; ++x) {
            const Layer::Px& m = L.at(x, y);
            const float grain = (m.r - pal::panel.r) * 0.5f; // keep a trace of the brushing
            L.at(x, y) = {0.15f + grain, 0.16f + grain, 0.18f + grain, 1.f};
        }
    L.rect(0, 314, kPanelW, 1, pal::panelShade);
    L.rect(0, 315, kPanelW, 1, rgb(90, 95, 104));
    for (float sx : {10.f, 590.f})
        p.screw(sx, 342.f);
    p.engravedOnDark("STEREO  TEMPO-SYNCED  DELAY", fonts.sansBold, 7.f, 24.f, 345.f, 1.4f);
    {
        const Rect& g = kLogo;
        const float px = 24.f;
        Mask name = textMask(L.width(), L.height(), fonts.sansBold, "Quillantrope", px,
                             g.right() - 6.f, g.y + 31.f, Align::Right, 0.2f);
        L.paint(name.blurred(2.f), pal::amber, 0.3f);
        L.paint(name, [&](int, int y) {
            return mix(rgb(255, 216, 152), pal::amber, clamp01((y - (g.y + 13.f)) / 18.f));
        });
    }
    return flatten(L, pal::panel);
}

Picture drawBackSide(const Fonts& fonts) {
    Layer L(kBackW, kBackH);
    L.fill(pal::display);
    for (int y = 0; y < kBackH; ++y)
        for (int x = 0; x < kBackW; ++x)
            L.blend(x, y, rgb(52, 56, 64), 0.6f * (1.f - float(y) / float(kBackH)));
    Mask name = textMask(kBackW, kBackH, fonts.sansBold, "Quillantrope", 34.f, 22.f, 52.f,
                         Align::Left, 0.3f);
    L.paint(name.blurred(3.f), pal::amber, 0.35f);
    L.paint(name, [&](int, int y) {
        return mix(rgb(255, 218, 156), pal::amber, clamp01((y - 22.f) / 30.f));
    });
    Mask tag = textMask(kBackW, kBackH, fonts.sans, "stereo tempo-synced delay", 11.f, 24.f, 78.f,
                        Align::Left, 0.8f);
    L.paint(tag, rgb(196, 201, 210));
    L.rect(24, 88, 300, 1, pal::amber, 0.6f);
    for (int echo = 2; echo >= 0; --echo) {
        const float k = float(echo);
        const Quill q = quill(kBackW, kBackH, 392.f - 12.f * k, 53.f + 3.f * k, 100.f, 0.55f);
        const float strength = echo == 0 ? 1.f : echo == 1 ? 0.4f : 0.18f;
        L.paint(q.body, pal::amber, 0.85f * strength);
        L.paint(q.shaft, rgb(255, 226, 170), strength);
    }
    return flatten(L, pal::display);
}

} // namespace skin
