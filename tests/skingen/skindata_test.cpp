// The generated artwork as the editor will load it: every picture decodes with the pixel-image
// library at its stored size, keyed pictures are keyed where the panel must show and nowhere else,
// knob frames and button faces are distinct, and the panel leaves the labels' places plain.
#include "dibcontrols/cDIB.h"
#include "dibcontrols/cDIBPicture.h"
#include "editor/skindata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>

namespace {

struct Stored {
    const char* name;
    int w, h;
    bool keyed;
    uint32_t colour; // 0xRRGGBB: the key, or for tmAuto pictures their bottom-left pixel
    bool autoMode;
};

constexpr Stored kPictures[] = {
    {"slider hori", 27, 16, false, 0x313131, true},
    {"slider verti", 16, 27, false, 0x313131, true},
    {"trackbar_hori", 3, 16, true, 0xFFFFFF, false},
    {"trackbar verti", 16, 3, true, 0xFFFFFF, true},
    {"sync button", 60, 20, false, 0xB4B6BA, true},
    {"NO SYNC image", 65, 7, false, 0x8D8D97, true},
    {"knob_tiny_2", 1708, 28, true, 0x808180, false},
    {"MANUAL image", 38, 21, false, 0xBC3235, true},
    {"knob_tiny_3", 1708, 28, true, 0x808180, false},
    {"small on button", 42, 16, false, 0xB4B6BA, true},
    {"link button", 60, 20, false, 0xB4B6BA, true},
    {"on button", 60, 20, false, 0xB4B6BA, true},
    {"fit button", 42, 16, false, 0xB4B6BA, true},
};

std::unique_ptr<TMemoryDIB> Load(const char* name) {
    const SkinBlob* blob = findSkinBlob(name);
    if (!blob) throw std::runtime_error(std::string("no blob ") + name);
    auto dib = std::make_unique<TMemoryDIB>();
    dib->LoadFromStream({blob->data, blob->size});
    return dib;
}

uint32_t Rgb(const TAbstractSuperDIB& dib, int x, int y) {
    return dib.PixelAt(x, y) & 0xFFFFFF;
}

TDIBPicture Bitmap(const char* name) {
    const SkinBlob* blob = findSkinBlob(name);
    if (!blob) throw std::runtime_error(std::string("no blob ") + name);
    return DecodeBMP({blob->data, blob->size}, name);
}

// 0xRRGGBB of a decoded bitmap pixel, picture row y from the top.
uint32_t Rgb(const TDIBPicture& p, int x, int y) {
    const uint8_t* px = &p.Pixels[(size_t(p.Height - 1 - y) * size_t(p.Width) + size_t(x)) * 4];
    return uint32_t(px[0]) | uint32_t(px[1]) << 8 | uint32_t(px[2]) << 16;
}

double Luma(uint32_t c) {
    return 0.299 * ((c >> 16) & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * (c & 0xFF);
}

TEST(SkinData, EveryPictureDecodesAtItsStoredSize) {
    for (const Stored& s : kPictures) {
        SCOPED_TRACE(s.name);
        const SkinBlob* blob = findSkinBlob(s.name);
        ASSERT_NE(blob, nullptr);
        EXPECT_EQ(blob->size, 4u + size_t(s.w) * size_t(s.h) * 4u); // plain form, no envelope
        const auto dib = Load(s.name);
        EXPECT_EQ(dib->Width(), s.w);
        EXPECT_EQ(dib->Height(), s.h);
    }
}

TEST(SkinData, LookupKnowsExactlyTheStoredNames) {
    std::set<std::string> names;
    for (const SkinBlob& b : skinBlobs())
        names.insert(b.name);
    EXPECT_EQ(names.size(), 15u);
    EXPECT_EQ(names.count("bg"), 1u);
    EXPECT_EQ(names.count("BackSideImage"), 1u);
    EXPECT_EQ(findSkinBlob("knob_tiny"), nullptr);
    EXPECT_EQ(findSkinBlob("Slider Hori"), nullptr);
    EXPECT_EQ(findSkinBlob(nullptr), nullptr);
}

// A tmAuto picture reports its bottom-left pixel as its transparent colour; the stored settings
// name a colour, and both must agree after loading.
TEST(SkinData, AutoModePicturesReportTheirStoredTransparentColour) {
    for (const Stored& s : kPictures) {
        if (!s.autoMode) continue;
        SCOPED_TRACE(s.name);
        const auto dib = Load(s.name);
        dib->SetTransparentMode(tmAuto);
        const uint32_t c = s.colour;
        const TColor expected = TColor((c >> 16) | (c & 0xFF00) | ((c & 0xFF) << 16));
        EXPECT_EQ(dib->TransparentColor(), expected);
    }
}

TEST(SkinData, KnobStripsAreKeyedAroundEachKnobOnly) {
    for (const char* name : {"knob_tiny_2", "knob_tiny_3"}) {
        SCOPED_TRACE(name);
        const auto loaded = Load(name);
        const TMemoryDIB& strip = *loaded;
        for (int f = 0; f < 61; ++f) {
            SCOPED_TRACE(f);
            const int x0 = f * 28;
            for (auto [x, y] : {std::pair{0, 0}, {27, 0}, {0, 27}, {27, 27}, {1, 1}, {26, 26}})
                EXPECT_EQ(Rgb(strip, x0 + x, y), 0x808180u) << x << "," << y;
            for (int y = 6; y < 22; ++y)
                for (int x = 6; x < 22; ++x)
                    ASSERT_NE(Rgb(strip, x0 + x, y), 0x808180u) << x << "," << y;
        }
    }
}

TEST(SkinData, KnobFramesShowTheirPosition) {
    for (const char* name : {"knob_tiny_2", "knob_tiny_3"}) {
        SCOPED_TRACE(name);
        const auto loaded = Load(name);
        const TMemoryDIB& strip = *loaded;
        auto frame = [&](int f) {
            std::vector<uint32_t> px;
            for (int y = 0; y < 28; ++y)
                for (int x = 0; x < 28; ++x)
                    px.push_back(Rgb(strip, f * 28 + x, y));
            return px;
        };
        std::set<std::vector<uint32_t>> distinct;
        for (int f = 0; f < 61; ++f)
            distinct.insert(frame(f));
        EXPECT_EQ(distinct.size(), 61u);
        // The pointer sweeps from the lower left to the lower right: the first frame's lower left
        // quarter and the last frame's lower right quarter differ most from their mirror images.
        const auto first = frame(0), last = frame(60);
        auto mirroredDifference = [](const std::vector<uint32_t>& px) {
            double d = 0;
            for (int y = 14; y < 28; ++y)
                for (int x = 0; x < 14; ++x)
                    d += Luma(px[size_t(y * 28 + x)]) - Luma(px[size_t(y * 28 + 27 - x)]);
            return d;
        };
        EXPECT_NE(mirroredDifference(first), 0.0);
        EXPECT_NEAR(mirroredDifference(first), -mirroredDifference(last),
                    std::abs(mirroredDifference(first)) * 0.35);
    }
}

TEST(SkinData, TracksKeyTheirSidesAndKeepAGroove) {
    const auto verticalDib = Load("trackbar verti"), horizontalDib = Load("trackbar_hori");
    const TMemoryDIB &vertical = *verticalDib, &horizontal = *horizontalDib;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Rgb(vertical, 0, i), 0xFFFFFFu);
        EXPECT_EQ(Rgb(vertical, 15, i), 0xFFFFFFu);
        EXPECT_EQ(Rgb(horizontal, i, 0), 0xFFFFFFu);
        EXPECT_EQ(Rgb(horizontal, i, 15), 0xFFFFFFu);
        for (int k = 5; k <= 10; ++k) {
            EXPECT_NE(Rgb(vertical, k, i), 0xFFFFFFu) << k;
            EXPECT_NE(Rgb(horizontal, i, k), 0xFFFFFFu) << k;
        }
        // Stretching along the slider repeats rows (or columns), so they must all be alike.
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(Rgb(vertical, k, i), Rgb(vertical, k, 0));
            EXPECT_EQ(Rgb(horizontal, i, k), Rgb(horizontal, 0, k));
        }
    }
}

TEST(SkinData, KeyedDrawingShowsTheBackdropOnlyWhereKeyed) {
    const auto loaded = Load("knob_tiny_2");
    TMemoryDIB& strip = *loaded;
    strip.SetTransparentMode(tmFixed);
    strip.SetTransparentColor(0x808180);
    strip.SetTransparent(true);
    TMemoryDIB dest(28, 28);
    dest.Fill(0x123456);
    strip.DrawFrame(0, 0, dest, 61, 30);
    EXPECT_EQ(Rgb(dest, 0, 0), 0x563412u); // the fill colour, as pixel bytes
    EXPECT_NE(Rgb(dest, 14, 14), 0x563412u);
}

TEST(SkinData, ButtonFacesDiffer) {
    for (const char* name :
         {"sync button", "small on button", "link button", "on button", "fit button"}) {
        SCOPED_TRACE(name);
        const auto loaded = Load(name);
        const TMemoryDIB& dib = *loaded;
        const int fw = dib.Width() / 2;
        int different = 0;
        for (int y = 0; y < dib.Height(); ++y)
            for (int x = 0; x < fw; ++x)
                different += Rgb(dib, x, y) != Rgb(dib, x + fw, y);
        // More than a few pixels: the lit face must read as lit at a glance.
        EXPECT_GT(different, fw * dib.Height() / 8);
    }
}

TEST(SkinData, StoredBitmapsAre24BitAtTheirSizes) {
    const TDIBPicture panel = Bitmap("bg");
    EXPECT_EQ(panel.Width, 600);
    EXPECT_EQ(panel.Height, 371);
    EXPECT_EQ(panel.BitsPerPixel, 24);
    const TDIBPicture back = Bitmap("BackSideImage");
    EXPECT_EQ(back.Width, 436);
    EXPECT_EQ(back.Height, 106);
    EXPECT_EQ(back.BitsPerPixel, 24);
}

// Where a label prints, the panel must be plain and of a tone its text stands out from.
TEST(SkinData, PanelLeavesLabelPlacesPlainAndLegible) {
    struct Place {
        const char* name;
        int x, y, w, h;
        uint32_t text;
    };
    constexpr uint32_t dark = 0x3F3F3F, silver = 0xC0C0C0, white = 0xFFFFFF;
    constexpr Place places[] = {
        {"VersionLabel", 520, 39, 23, 10, white},
        {"kHzLabel", 520, 11, 43, 10, white},
        {"BPMLabel", 520, 20, 25, 10, white},
        {"HostCanSyncLabel", 520, 28, 59, 10, white},
        {"LeftDelayTimeInMsLabel", 26, 190, 24, 14, dark},
        {"RightDelayTimeInMsLabel", 87, 190, 24, 14, dark},
        {"RightFeedbackLevelLabel", 308, 155, 18, 14, dark},
        {"LeftFeedbackLevelLabel", 247, 155, 18, 14, dark},
        {"RightDelayLevelLabel", 408, 290, 25, 14, dark},
        {"LeftDelayLevelLabel", 360, 290, 25, 14, dark},
        {"DryLevelLabel", 458, 290, 25, 14, dark},
        {"LeftInitialDelayTimeInMsLabel", 26, 290, 24, 14, dark},
        {"RightInitialDelayTimeInMsLabel", 87, 290, 24, 14, dark},
        {"LeftFilterFreqLabel", 134, 155, 26, 14, dark},
        {"RightFilterFreqLabel", 195, 155, 26, 14, dark},
        {"LeftFilterResoLabel", 134, 208, 25, 14, dark},
        {"RightFilterResoLabel", 195, 208, 25, 14, dark},
        {"HiCutLabel", 244, 230, 26, 14, dark},
        {"LoCutLabel", 244, 282, 26, 14, dark},
        {"DuckerRangeLabel", 363, 66, 25, 14, dark},
        {"DuckerSpeedLabel", 451, 66, 18, 14, dark},
        {"GateThresholdLabel", 363, 139, 25, 14, dark},
        {"GateSpeedLabel", 451, 139, 18, 14, dark},
        {"LeftDelayTimeRhythmicLabel", 35, 173, 15, 14, dark},
        {"RightDelayTimeRhythmicLabel", 96, 173, 15, 14, dark},
        {"LeftInitialDelayTimeRhythmicLabel", 35, 273, 15, 14, dark},
        {"RightInitialDelayTimeRhythmicLabel", 96, 273, 15, 14, dark},
        {"Label9", 58, 273, 18, 14, silver},
        {"Label10", 58, 173, 18, 14, silver},
        {"BpmSyncLabel", 140, 257, 33, 14, silver},
    };
    const TDIBPicture panel = Bitmap("bg");
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        double lo = 255, hi = 0, sum = 0;
        // The text's own cell: a pixel in from each side, where glyphs draw.
        for (int y = p.y + 1; y < p.y + p.h - 1; ++y)
            for (int x = p.x + 1; x < p.x + p.w - 1; ++x) {
                const double l = Luma(Rgb(panel, x, y));
                lo = std::min(lo, l);
                hi = std::max(hi, l);
                sum += l;
            }
        const double mean = sum / double((p.w - 2) * (p.h - 2));
        EXPECT_LT(hi - lo, 16.0);
        EXPECT_GT(std::abs(Luma(p.text) - mean), 110.0);
    }
}

} // namespace
