#include "dib_test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

// --- layout, size, colours

TEST(DIBLayout, RowsAreStoredBottomUpWithoutPadding) {
    TMemoryDIB image(3, 2);
    fillCoords(image);
    const auto* raw = reinterpret_cast<const uint32_t*>(image.Pixels());
    // First stored row is the bottom picture row.
    EXPECT_EQ(raw[0], coordPixel(0, 1));
    EXPECT_EQ(raw[2], coordPixel(2, 1));
    EXPECT_EQ(raw[3], coordPixel(0, 0));
    EXPECT_EQ(image.ScanLine(0), raw + 3);
    EXPECT_EQ(image.Pixels()[0], 0); // blue byte first
    EXPECT_EQ(image.Pixels()[2], 0x77);
}

TEST(DIBLayout, ColoursSwapBytesBothWays) {
    const TColor red = 0x0000FF, teal = 0x00806040; // B 0x80, G 0x60, R 0x40
    EXPECT_EQ(ColorToPixel(red), px(0, 0, 0xFF, 0));
    EXPECT_EQ(ColorToPixel(teal), px(0x80, 0x60, 0x40, 0));
    EXPECT_EQ(PixelToColor(px(0x80, 0x60, 0x40, 0xEE)), teal);
    SetSystemColorResolver([](TColor) -> uint32_t { return 0x00102030; });
    EXPECT_EQ(ColorToPixel(TColor(0x8000000F)), px(0x10, 0x20, 0x30, 0));
    SetSystemColorResolver(nullptr);
}

TEST(DIBSize, ZeroBecomesOneAndSameSizeIsNoOp) {
    TMemoryDIB image(3, 3);
    image.SetSize(0, 5);
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.Height(), 5);
    EXPECT_EQ(image.ClipRect(), (TDIBRect{0, 0, 0, 4}));
    image.ScanLine(2)[0] = 42;
    image.SetSize(1, 5);
    EXPECT_EQ(image.ScanLine(2)[0], 42u);

    TMemoryDIB empty;
    empty.SetSize(0, 0);
    EXPECT_FALSE(empty.HasPixels());
    EXPECT_EQ(empty.Width(), 0);
}

TEST(DIBSize, ImpossibleSizesFailAndLeaveTheImage) {
    TMemoryDIB image(4, 4);
    fillPixels(image, 7);
    EXPECT_THROW(image.SetSize(65535, 65535), EDIBError);
    EXPECT_THROW(image.SetSize(-1, 3), EDIBError);
    EXPECT_THROW(image.SetSize(70000, 1), EDIBError);
    EXPECT_EQ(image.Width(), 4);
    EXPECT_EQ(image.ScanLine(3)[3], 7u);
}

TEST(DIBSettings, AngleMasksAndExclusions) {
    TMemoryDIB image(2, 2);
    image.SetAngle(720);
    EXPECT_EQ(image.Angle(), 0);
    image.SetAngle(400);
    EXPECT_EQ(image.Angle(), 40);
    image.SetAngle(-1); // 65535 as a 16-bit number
    EXPECT_EQ(image.Angle(), 65535 % 360);

    image.SetTransparent(true);
    image.SetMasked(true);
    EXPECT_FALSE(image.Transparent());
    image.SetTransparent(true);
    EXPECT_FALSE(image.Masked());

    image.SetScale(50);
    EXPECT_EQ(image.ScaleX(), 50);
    EXPECT_EQ(image.ScaleY(), 50);
}

TEST(DIBSettings, RowRoutineFollowsTheChoiceTable) {
    TMemoryDIB image(1, 1);
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::Opaque);
    image.SetMasked(true);
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::Masked);
    image.SetOpacity(10);
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::MaskedOpacity);
    image.SetTransparent(true);
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::KeyedOpacity);
    image.SetTransparent(false);
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::Opacity);
    image.SetOpacity(255);
    image.SetTransparent(true);
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::Keyed);
}

TEST(DIBSettings, TransparentColorByMode) {
    TMemoryDIB image(2, 2);
    image.ScanLine(1)[0] = px(0x30, 0x20, 0x10, 0x99); // bottom-left: first stored pixel
    image.SetTransparentColor(0x0000FF);
    EXPECT_EQ(image.TransparentMode(), tmAuto);
    EXPECT_EQ(image.TransparentColor(), 0x302010);
    EXPECT_EQ(image.KeyColour(), px(0, 0, 0xFF, 0)); // keying still uses the held colour
    image.SetTransparentMode(tmFixed);
    EXPECT_EQ(image.TransparentColor(), 0x0000FF);
}

// --- change notification

TEST(DIBChange, CallbackRunsOncePerEffectiveChangeAndWaitsForUpdates) {
    TMemoryDIB image(2, 2);
    int calls = 0;
    image.SetOnChange([&](TAbstractSuperDIB& sender) {
        EXPECT_EQ(&sender, &image);
        ++calls;
    });
    image.SetOpacity(100);
    image.SetOpacity(100);
    EXPECT_EQ(calls, 1);
    image.SetSize(5, 5); // resizing is not a change of its own
    EXPECT_EQ(calls, 1);

    image.BeginUpdate();
    image.BeginUpdate();
    image.SetMasked(true);
    image.SetAngle(10);
    image.EndUpdate();
    EXPECT_EQ(calls, 1);
    // The combiner is re-chosen even while updating.
    EXPECT_EQ(image.RowRoutine(), TDIBRowRoutine::MaskedOpacity);
    image.EndUpdate();
    EXPECT_EQ(calls, 2);

    try {
        image.EndUpdate();
        FAIL() << "EndUpdate without BeginUpdate must throw";
    } catch (const EDIBError& e) {
        EXPECT_STREQ(e.what(), "EndUpdate without BeginUpdate");
    }
    EXPECT_EQ(image.UpdateCount(), 0);
}

// --- combiners: one source pixel over one destination pixel

struct CombinerCase {
    uint32_t src, dst;
    uint8_t opacity;
    bool masked, transparent;
    uint32_t key;
    uint32_t expected;
};

uint32_t combineOne(const CombinerCase& c) {
    TMemoryDIB source(1, 1), dest(1, 1);
    source.ScanLine(0)[0] = c.src;
    dest.ScanLine(0)[0] = c.dst;
    source.SetTransparentMode(tmFixed);
    source.SetTransparentColor(PixelToColor(c.key));
    source.SetOpacity(c.opacity);
    source.SetMasked(c.masked);
    source.SetTransparent(c.transparent);
    source.Draw(0, 0, 1, 1, dest, 0, 0);
    return dest.ScanLine(0)[0];
}

TEST(DIBCombiners, ExactBytes) {
    const CombinerCase cases[] = {
        // opaque: all four bytes copied, alpha lowered too
        {px(1, 2, 3, 4), px(9, 9, 9, 200), 255, false, false, 0, px(1, 2, 3, 4)},
        // opacity 128: (200*128 + 100*127 + 255) >> 8 = 150; alpha is the larger
        {px(200, 0, 255, 50), px(100, 255, 0, 10), 128, false, false, 0, px(150, 127, 128, 50)},
        {px(200, 0, 255, 5), px(100, 255, 0, 60), 128, false, false, 0, px(150, 127, 128, 60)},
        // opacity 0: colour untouched, alpha still raised
        {px(200, 0, 255, 90), px(100, 255, 0, 10), 0, false, false, 0, px(100, 255, 0, 90)},
        // opacity 1
        {px(255, 255, 255, 0), px(0, 0, 0, 0), 1, false, false, 0, px(1, 1, 1, 0)},
        // masked: the source alpha weights each byte
        {px(255, 0, 128, 64), px(0, 255, 128, 10), 255, true, false, 0, px(64, 191, 128, 64)},
        {px(255, 0, 0, 0), px(7, 8, 9, 30), 255, true, false, 0, px(7, 8, 9, 30)},
        {px(255, 1, 2, 255), px(7, 8, 9, 30), 255, true, false, 0, px(255, 1, 2, 255)},
        // masked with opacity: e = (200*128) >> 8 = 100; alpha max with the unscaled source
        {px(255, 0, 0, 200), px(0, 0, 0, 0), 128, true, false, 0, px(100, 0, 0, 200)},
        // keyed: a pixel differing only in alpha still matches the key
        {px(1, 2, 3, 99), px(9, 9, 9, 9), 255, false, true, px(1, 2, 3, 0), px(9, 9, 9, 9)},
        // keyed: others copy colour with a fourth byte of 0
        {px(1, 2, 4, 77), px(9, 9, 9, 9), 255, false, true, px(1, 2, 3, 0), px(1, 2, 4, 0)},
        // keyed with opacity: key skipped; others blend and copy the source alpha as is
        {px(1, 2, 3, 99), px(9, 9, 9, 9), 128, false, true, px(1, 2, 3, 0), px(9, 9, 9, 9)},
        {px(200, 0, 255, 5), px(100, 255, 0, 60), 128, false, true, px(1, 2, 3, 0),
         px(150, 127, 128, 5)},
    };
    for (const CombinerCase& c : cases)
        EXPECT_EQ(combineOne(c), c.expected)
            << std::hex << "src " << c.src << " dst " << c.dst << " opacity " << std::dec
            << int(c.opacity) << " masked " << c.masked << " keyed " << c.transparent;
}

TEST(DIBCombiners, AlphaOnlyAndAlphaAsGrey) {
    TMemoryDIB source(1, 1), dest(1, 1);
    source.ScanLine(0)[0] = px(1, 2, 3, 0xAB);
    source.SetOpacity(10); // ignored by both
    dest.ScanLine(0)[0] = px(9, 8, 7, 6);
    source.DrawAlphaOnly(0, 0, 1, 1, dest, 0, 0);
    EXPECT_EQ(dest.ScanLine(0)[0], px(9, 8, 7, 0xAB));
    source.DrawAlphaAsGrey(0, 0, 1, 1, dest, 0, 0);
    EXPECT_EQ(dest.ScanLine(0)[0], px(0xAB, 0xAB, 0xAB, 0xAB));
    // The image's own combiner is back afterwards.
    EXPECT_EQ(source.RowRoutine(), TDIBRowRoutine::Opacity);
}

TEST(DIBCombiners, UntransformedIsAPlainCopyWhateverTheSettings) {
    TMemoryDIB source(2, 1), dest(2, 1);
    source.ScanLine(0)[0] = px(1, 2, 3, 4);
    source.ScanLine(0)[1] = px(5, 6, 7, 8);
    source.SetTransparentMode(tmFixed);
    source.SetTransparentColor(PixelToColor(px(1, 2, 3)));
    source.SetTransparent(true);
    source.SetOpacity(3);
    source.SetAngle(90);
    source.DrawUntransformed(0, 0, 2, 1, dest, 0, 0);
    EXPECT_EQ(dest.ScanLine(0)[0], px(1, 2, 3, 4));
    EXPECT_EQ(dest.ScanLine(0)[1], px(5, 6, 7, 8));
    EXPECT_EQ(source.Angle(), 90);
}

// --- clipping

TEST(DIBClipping, ClipRectShiftsTheSourceAndRightIsInclusive) {
    TMemoryDIB source(6, 6), dest(10, 10);
    fillCoords(source);
    fillPixels(dest, 1);
    dest.SetClipRect({2, 3, 4, 8});
    source.Draw(0, 0, 6, 6, dest, 0, 0);
    // Columns 2..4 and rows 3..5 written, from source (2..4, 3..5).
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 2 && x <= 4 && y >= 3 && y <= 5;
            EXPECT_EQ(dest.ScanLine(y)[x], inside ? coordPixel(x, y) : 1u) << x << "," << y;
        }
}

TEST(DIBClipping, ClipRectIsNormalisedAndClamped) {
    TMemoryDIB image(5, 4);
    image.SetClipRect({9, 7, -3, 1});
    EXPECT_EQ(image.ClipRect(), (TDIBRect{0, 1, 4, 3}));
}

TEST(DIBClipping, DestinationAndSourceEdges) {
    TMemoryDIB source(4, 4), dest(5, 5);
    fillCoords(source);
    fillPixels(dest, 1);
    source.Draw(3, 3, 4, 4, dest, 1, 1); // only 2x2 fits; source (1..2, 1..2)
    EXPECT_EQ(dest.ScanLine(3)[3], coordPixel(1, 1));
    EXPECT_EQ(dest.ScanLine(4)[4], coordPixel(2, 2));
    EXPECT_EQ(dest.ScanLine(2)[3], 1u);

    fillPixels(dest, 1);
    source.Draw(0, 0, 4, 4, dest, 2, 3); // source runs out after 2 x 1
    EXPECT_EQ(dest.ScanLine(0)[1], coordPixel(3, 3));
    EXPECT_EQ(dest.ScanLine(0)[2], 1u);
    EXPECT_EQ(dest.ScanLine(1)[0], 1u);
}

TEST(DIBClipping, BadRectanglesDrawNothingAndNotifyNobody) {
    TMemoryDIB source(4, 4), dest(4, 4);
    fillCoords(source);
    fillPixels(dest, 1);
    int changes = 0;
    dest.SetOnChange([&](TAbstractSuperDIB&) { ++changes; });
    source.Draw(0, 0, -5, 3, dest, 0, 0);
    source.Draw(0, 0, 0, 0, dest, 0, 0);
    source.Draw(4, 0, 2, 2, dest, 0, 0);
    source.Draw(INT_MAX, INT_MAX, INT_MAX, INT_MAX, dest, 0, 0);
    source.Draw(INT_MIN, INT_MIN, INT_MAX, INT_MAX, dest, INT_MAX, INT_MAX);
    source.Draw(0, 0, 4, 4, dest, 4, 0);
    TMemoryDIB empty;
    empty.Draw(0, 0, 4, 4, dest, 0, 0);
    source.Draw(0, 0, 4, 4, empty, 0, 0);
    EXPECT_EQ(changes, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dest.ScanLine(y)[x], 1u);
}

TEST(DIBClipping, NegativeSourceOffsetStartsWhereTheImageBegins) {
    TMemoryDIB source(2, 2), dest(4, 4);
    fillCoords(source);
    fillPixels(dest, 1);
    source.Draw(0, 0, 3, 3, dest, -1, -1);
    EXPECT_EQ(dest.ScanLine(0)[0], 1u);
    EXPECT_EQ(dest.ScanLine(1)[1], coordPixel(0, 0));
    EXPECT_EQ(dest.ScanLine(2)[2], coordPixel(1, 1));
    EXPECT_EQ(dest.ScanLine(3)[3], 1u);
}

// --- fills

TEST(DIBFill, FillRectClipsToTheImage) {
    TMemoryDIB image(4, 3);
    fillPixels(image, 0xFFFFFFFF);
    image.FillRect(0x0000FF, -2, 1, 4, 10);
    EXPECT_EQ(image.ScanLine(0)[0], 0xFFFFFFFFu);
    EXPECT_EQ(image.ScanLine(1)[0], px(0, 0, 0xFF, 0));
    EXPECT_EQ(image.ScanLine(2)[1], px(0, 0, 0xFF, 0));
    EXPECT_EQ(image.ScanLine(2)[2], 0xFFFFFFFFu);
    image.FillRect(0, 1, 1, 0, 5);
    image.FillRect(0, 10, 10, 5, 5);
    image.FillRect(0, INT_MAX, INT_MAX, INT_MAX, INT_MAX);
    EXPECT_EQ(image.ScanLine(2)[2], 0xFFFFFFFFu);

    image.Fill(0x00FF00);
    image.SetAlpha(200);
    EXPECT_EQ(image.ScanLine(1)[3], px(0, 0xFF, 0, 200));
}

TEST(DIBFill, StretchFromIsNearestNeighbour) {
    TMemoryDIB source(2, 2), dest(4, 3);
    fillCoords(source);
    dest.StretchFrom(source);
    // Stored rows are walked from the bottom: stored rows 0,1,2 sample source stored rows 0,0,1.
    EXPECT_EQ(dest.ScanLine(2)[0], coordPixel(0, 1));
    EXPECT_EQ(dest.ScanLine(2)[3], coordPixel(1, 1));
    EXPECT_EQ(dest.ScanLine(1)[1], coordPixel(0, 1));
    EXPECT_EQ(dest.ScanLine(0)[2], coordPixel(1, 0));
}

// --- views and assignment

TEST(DIBShare, ViewSharesPixelsButNotSettings) {
    TMemoryDIB source(3, 2);
    fillCoords(source);
    source.SetOpacity(100);
    TMemoryDIB view;
    view.ShareFrom(source);
    EXPECT_FALSE(view.OwnsPixels());
    EXPECT_EQ(view.Width(), 3);
    EXPECT_EQ(view.Height(), 2);
    EXPECT_EQ(view.Pixels(), source.Pixels());
    EXPECT_EQ(view.Opacity(), 100);
    view.SetOpacity(20);
    EXPECT_EQ(source.Opacity(), 100);
    view.ScanLine(0)[0] = 5; // drawing into a view changes the source's pixels
    EXPECT_EQ(source.ScanLine(0)[0], 5u);
}

TEST(DIBShare, ViewDrawsWithSourceSettingsUntilItsOwnChange) {
    TMemoryDIB source(1, 1), view, dest(1, 1);
    source.ScanLine(0)[0] = px(200, 200, 200, 0);
    source.SetOpacity(128);
    view.ShareFrom(source);
    dest.ScanLine(0)[0] = 0;
    // The source's opacity changes through its routine settings; the view reads them live.
    source.SetOpacity(0);
    view.Draw(0, 0, 1, 1, dest, 0, 0);
    EXPECT_EQ(dest.ScanLine(0)[0], 0u);
    view.SetAngle(0);
    view.SetMasked(false);
    view.SetOpacity(255); // own change: own settings from now on
    view.Draw(0, 0, 1, 1, dest, 0, 0);
    EXPECT_EQ(dest.ScanLine(0)[0], px(200, 200, 200, 0));
}

TEST(DIBShare, ViewStaysValidWhenTheSourceGoes) {
    TMemoryDIB view;
    {
        auto source = std::make_unique<TMemoryDIB>(2, 2);
        fillCoords(*source);
        view.ShareFrom(*source);
        source->SetSize(50, 50); // source gets new pixels; the view keeps the old ones
        EXPECT_EQ(view.ScanLine(1)[1], coordPixel(1, 1));
    }
    EXPECT_EQ(view.ScanLine(0)[1], coordPixel(1, 0));
    // Resizing a view gives it pixels of its own.
    view.SetSize(3, 3);
    EXPECT_TRUE(view.OwnsPixels());
}

TEST(DIBShare, CopyPropertiesNeverResizesPixels) {
    TMemoryDIB big(8, 8), small(2, 2), view;
    big.SetMasked(true);
    big.SetOpacity(9);
    view.ShareFrom(small);
    big.CopyPropertiesTo(view);
    EXPECT_TRUE(view.Masked());
    EXPECT_EQ(view.Opacity(), 9);
    EXPECT_EQ(view.Width(), 2);
    big.CopyPropertiesTo(small);
    EXPECT_EQ(small.Width(), 2);
}

TEST(DIBAssign, CopiesSizePixelsSettingsAndFileNames) {
    TMemoryDIB source(3, 2), dest(1, 1);
    fillCoords(source);
    source.SetTransparent(true);
    source.SetTransparentMode(tmFixed);
    source.SetTransparentColor(0x123456);
    source.SetImageFilename("a.bmp");
    int changes = 0;
    dest.SetOnChange([&](TAbstractSuperDIB&) { ++changes; });
    dest.Assign(source);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(dest.Width(), 3);
    EXPECT_EQ(dest.ScanLine(1)[2], coordPixel(2, 1));
    EXPECT_NE(dest.Pixels(), source.Pixels());
    EXPECT_TRUE(dest.Transparent());
    EXPECT_EQ(dest.TransparentColor(), 0x123456);
    EXPECT_EQ(dest.ImageFilename(), "a.bmp");

    TMemoryDIB empty;
    dest.Assign(empty);
    EXPECT_FALSE(dest.HasPixels());
}

} // namespace
