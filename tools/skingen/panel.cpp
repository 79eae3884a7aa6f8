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
                    return sdRoundRect(x, y, gx0, c.r.y - 2.f, gx1, c.r.bottom() + 2.f, 2.f);
                },
                groove);
        } else {
            const float gy0 = c.r.y + 6.f, gy1 = c.r.y + 10.f;
            L.shape(
                boxAround(c.r.x - 3.f, gy0, c.r.right() + 3.f, gy1),
                [&](float x, float y) {
                    return sdRoundRect(x, y, c.r.x - 2.f, gy0, c.r.right() + 2.f, gy1, 2.f);
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

    Layer& L;
    const Fonts& f;
};

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

    // Name plate where the logo control takes its clicks.
    const Rect& g = kLogo;
    p.window(g.x + 0.f, g.y + 0.f, g.right() + 0.f, g.bottom() + 0.f, 5.f);
    {
        const float px = 22.f;
        Mask name = textMask(L.width(), L.height(), fonts.sansBold, "Quillantrope", px, g.x + 12.f,
                             g.y + 28.f, Align::Left, 0.2f);
        L.paint(name.blurred(2.f), pal::amber, 0.35f);
        L.paint(name, [&](int, int y) {
            return mix(rgb(255, 214, 150), pal::amber, clamp01((y - (g.y + 12.f)) / 16.f));
        });
        Mask tag = textMask(L.width(), L.height(), fonts.sans, "STEREO TEMPO DELAY", 7.f,
                            g.x + 13.f, g.y + 41.f, Align::Left, 1.6f);
        L.paint(tag, rgb(170, 176, 186));
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
    L.rect(24, 88, 388, 1, pal::amber, 0.6f);
    return flatten(L, pal::display);
}

} // namespace skin
