// Rotated and scaled drawing, and film strips.
#include "dib_test_util.h"

#include <gtest/gtest.h>

namespace {

TEST(DIBTransform, QuarterTurnsAreExact) {
    TMemoryDIB source(3, 3);
    fillCoords(source);
    struct Case {
        int angle;
        int (*sx)(int x, int y);
        int (*sy)(int x, int y);
    };
    // Positive angles turn counter-clockwise on screen: the top-right corner goes top-left.
    const Case cases[] = {
        {90, [](int, int y) { return 2 - y; }, [](int x, int) { return x; }},
        {180, [](int x, int) { return 2 - x; }, [](int, int y) { return 2 - y; }},
        {270, [](int, int y) { return y; }, [](int x, int) { return 2 - x; }},
    };
    for (const Case& c : cases) {
        TMemoryDIB dest(3, 3);
        source.SetAngle(c.angle);
        source.Draw(0, 0, 3, 3, dest, 0, 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(dest.ScanLine(y)[x], coordPixel(c.sx(x, y), c.sy(x, y)))
                    << "angle " << c.angle << " at " << x << "," << y;
    }
}

TEST(DIBTransform, AutoSizeUsesTheRotatedBoundingBox) {
    TMemoryDIB source(4, 2), dest(6, 6);
    fillCoords(source);
    fillPixels(dest, 1);
    source.SetAngle(90);
    source.SetAutoSize(true);
    source.Draw(1, 1, 4, 2, dest, 0, 0);
    // A 2 x 4 picture at (1, 1); everything else untouched.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 4;
            const uint32_t expected = inside ? coordPixel(3 - (y - 1), x - 1) : 1u;
            EXPECT_EQ(dest.ScanLine(y)[x], expected) << x << "," << y;
        }
}

TEST(DIBTransform, ScaleDoublesAndHalvesAboutTheCentre) {
    TMemoryDIB source(2, 2), dest(4, 4);
    fillCoords(source);
    source.SetScale(200);
    source.Draw(0, 0, 4, 4, dest, 0, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dest.ScanLine(y)[x], coordPixel(x / 2, y / 2)) << x << "," << y;

    // Half size, masked: the area outside the shrunk picture is transparent black.
    TMemoryDIB big(4, 4), target(4, 4);
    fillCoords(big);
    fillPixels(target, 1);
    big.SetMasked(true);
    big.SetScale(50);
    big.Draw(0, 0, 4, 4, target, 0, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
            const uint32_t expected = inside ? coordPixel(2 * x - 1, 2 * y - 1) : 1u;
            EXPECT_EQ(target.ScanLine(y)[x], expected) << x << "," << y;
        }
}

TEST(DIBFilmStrip, FrameWidthIsWidthDivFrames) {
    TMemoryDIB strip(1708, 2);
    for (int x = 0; x < 1708; ++x)
        for (int y = 0; y < 2; ++y)
            strip.ScanLine(y)[x] = px(uint8_t(x / 28), uint8_t(x % 28), 0, 255);
    TMemoryDIB dest(30, 2);
    fillPixels(dest, 0);
    strip.DrawFrame(1, 0, dest, 61, 60);
    EXPECT_EQ(dest.ScanLine(0)[0], 0u);
    EXPECT_EQ(dest.ScanLine(0)[1], px(60, 0, 0, 255));
    EXPECT_EQ(dest.ScanLine(1)[28], px(60, 27, 0, 255));
    EXPECT_EQ(dest.ScanLine(1)[29], 0u);
    strip.DrawFrame(0, 0, dest, 0, 0);    // no frames: nothing
    strip.DrawFrame(0, 0, dest, 5000, 0); // frames narrower than a pixel: nothing
    EXPECT_EQ(dest.ScanLine(0)[0], 0u);
}

TEST(DIBFilmStrip, FrameUsesTheStripsKeyAndTransform) {
    // Three frames of 2 x 1 (the seventh column is left over); the key is frame 1's right pixel.
    TMemoryDIB strip(7, 1);
    const uint32_t key = px(9, 9, 9, 0);
    const uint32_t row[7] = {px(1, 0, 0, 5), px(2, 0, 0, 5), px(3, 0, 0, 5), key | 0xFF000000u,
                             px(5, 0, 0, 5), px(6, 0, 0, 5), px(7, 0, 0, 5)};
    for (int x = 0; x < 7; ++x)
        strip.ScanLine(0)[x] = row[x];
    strip.SetTransparentMode(tmFixed);
    strip.SetTransparentColor(PixelToColor(key));
    strip.SetTransparent(true);

    TMemoryDIB dest(2, 1);
    fillPixels(dest, 0xEEEEEEEE);
    strip.DrawFrame(0, 0, dest, 3, 1);
    EXPECT_EQ(dest.ScanLine(0)[0], px(3, 0, 0, 0)); // keyed: fourth byte 0
    EXPECT_EQ(dest.ScanLine(0)[1], 0xEEEEEEEEu);

    fillPixels(dest, 0xEEEEEEEE);
    strip.SetAngle(180); // the frame alone turns
    strip.DrawFrame(0, 0, dest, 3, 1);
    EXPECT_EQ(dest.ScanLine(0)[0], 0xEEEEEEEEu);
    EXPECT_EQ(dest.ScanLine(0)[1], px(3, 0, 0, 0));
}

TEST(DIBFilmStrip, TweenBlendsNeighbouringFrames) {
    TMemoryDIB strip(4, 1);
    const uint8_t values[4] = {10, 100, 200, 50};
    for (int x = 0; x < 4; ++x)
        strip.ScanLine(0)[x] = px(values[x], 0, 0, 0);
    TMemoryDIB dest(1, 1);
    auto tween = [&](int position, int max, bool loop) {
        dest.ScanLine(0)[0] = 0;
        strip.DrawTween(0, 0, loop, position, max, 0, dest, 4);
        return dest.ScanLine(0)[0];
    };
    // f = 1.5: lo frame 1 at opacity 255 - 128 = 127 over hi frame 2:
    // (100 * 127 + 200 * 128 + 255) >> 8 = 150.
    EXPECT_EQ(tween(3, 8, false), px(150, 0, 0, 0));
    EXPECT_EQ(tween(2, 8, false), px(100, 0, 0, 0)); // whole frame
    EXPECT_EQ(tween(8, 8, false), px(50, 0, 0, 0));  // at Max: last frame ...
    EXPECT_EQ(tween(8, 8, true), px(10, 0, 0, 0));   // ... or the first when looping
    EXPECT_EQ(tween(-2, 8, true), px(50, 0, 0, 0));  // below Min wraps to the last when looping
    EXPECT_EQ(tween(5, 0, false), px(10, 0, 0, 0));  // empty range: first frame, no division
}

TEST(DIBFilmStrip, TweenDrawsWithTheStripsOpacity) {
    TMemoryDIB strip(2, 1), dest(1, 1);
    strip.ScanLine(0)[0] = px(200, 0, 0, 0);
    strip.ScanLine(0)[1] = px(200, 0, 0, 0);
    strip.SetOpacity(128);
    dest.ScanLine(0)[0] = px(100, 0, 0, 0);
    strip.DrawTween(0, 0, false, 0, 2, 0, dest, 2);
    EXPECT_EQ(dest.ScanLine(0)[0], px(150, 0, 0, 0));
}

} // namespace
