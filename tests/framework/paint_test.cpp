// Invalidation, painting with an update rectangle, labels and picture controls.
#include "fixture.h"

namespace {
// Pixels in r that differ from background, and their mean x.
struct Ink {
    int Count = 0;
    double MeanX = 0;
};
Ink InkIn(const THeadlessImage& img, const TRect& r, uint32_t background) {
    Ink ink;
    double sum = 0;
    for (int32_t y = r.Top; y < r.Bottom; ++y)
        for (int32_t x = r.Left; x < r.Right; ++x)
            if (img.At(x, y) != background) {
                ++ink.Count;
                sum += x;
            }
    if (ink.Count) ink.MeanX = sum / ink.Count;
    return ink;
}

TBitmap Filled(int32_t w, int32_t h, uint32_t pixel) {
    TBitmap b(w, h);
    for (int32_t y = 0; y < h; ++y)
        std::fill_n(b.ScanLine(y), w, pixel);
    return b;
}
} // namespace

TEST_F(FormTest, UIThreadInvalidationReachesWindowAtOnce) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    platform.PumpEvents();
    a.Invalidate();
    EXPECT_EQ(platform.PendingInvalid(Window()), Bounds(10, 10, 20, 20));
}

TEST_F(FormTest, PaintComposesOnlyControlsMeetingUpdateRectangleWithOneBlit) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    Probe b(form.get(), "B", log, Bounds(60, 10, 20, 20));
    platform.PumpEvents();
    platform.ClearLog();
    a.Paints = b.Paints = 0;
    form->InvalidateRect({25, 25, 40, 40});
    platform.PumpEvents();
    EXPECT_EQ(a.Paints, 1);
    EXPECT_EQ(b.Paints, 0);
    EXPECT_EQ(platform.Blits(Window()), (std::vector<TRect>{{25, 25, 40, 40}}));
}

TEST_F(FormTest, WindowedChildrenPaintThemselvesAndComposeOnScreen) {
    auto* back = new TPanel(form.get());
    back->SetParent(form.get());
    back->SetBounds(0, 0, 100, 50);
    back->SetColor(clRed);
    auto* front = new TPanel(form.get()); // later: on top
    front->SetParent(form.get());
    front->SetBounds(50, 25, 100, 50);
    front->SetColor(clBlue);
    EXPECT_TRUE(front->HandleAllocated());
    const THeadlessImage s = Screen();
    EXPECT_EQ(s.At(10, 10), Opaque(clRed));
    EXPECT_EQ(s.At(60, 30), Opaque(clBlue));
    EXPECT_EQ(s.At(160, 80), Opaque(clBlack));

    // A click on the front panel reaches it, not the form beneath.
    int frontPresses = 0;
    front->SetOnMouseDown([&](TComponent*, TMouseButton, TShiftState, int32_t x, int32_t y) {
        ++frontPresses;
        EXPECT_EQ((TPoint{x, y}), (TPoint{10, 5}));
    });
    platform.Click({60, 30});
    EXPECT_EQ(frontPresses, 1);

    front->SetVisible(false);
    EXPECT_EQ(Screen().At(60, 30), Opaque(clRed));
}

TEST_F(FormTest, LabelDrawsTextWithinItsBounds) {
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetFont({"Verdana", -11, clWhite, 0});
    l->SetCaption("Host Sync: NO");
    l->SetBounds(20, 30, l->Width(), l->Height());
    EXPECT_GT(l->Width(), 40); // measured by AutoSize
    EXPECT_GE(l->Height(), 11);
    const THeadlessImage s = Screen();
    EXPECT_GT(InkIn(s, l->BoundsRect(), Opaque(clBlack)).Count, 40);
    EXPECT_EQ(InkIn(s, {0, 0, 200, 30}, Opaque(clBlack)).Count, 0);
    EXPECT_EQ(InkIn(s, {0, l->BoundsRect().Bottom, 200, 100}, Opaque(clBlack)).Count, 0);
    EXPECT_EQ(InkIn(s, {l->BoundsRect().Right, 0, 200, 100}, Opaque(clBlack)).Count, 0);
}

TEST_F(FormTest, LabelAlignmentPlacesTextLeftCentreRight) {
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetAutoSize(false);
    l->SetBounds(10, 10, 150, 16);
    l->SetFont({"Estrangelo Edessa", -11, clWhite, 0});
    l->SetCaption("9999");
    double mean[3];
    int count[3];
    const TAlignment order[3] = {taLeftJustify, taCenter, taRightJustify};
    for (int i = 0; i < 3; ++i) {
        l->SetAlignment(order[i]);
        const Ink ink = InkIn(Screen(), l->BoundsRect(), Opaque(clBlack));
        mean[i] = ink.MeanX;
        count[i] = ink.Count;
    }
    EXPECT_GT(count[0], 10);
    EXPECT_NEAR(count[1], count[0], count[0] / 5);
    EXPECT_LT(mean[0], 50);
    EXPECT_NEAR(mean[1], 85, 8);
    EXPECT_GT(mean[2], 120);
}

TEST_F(FormTest, AutoSizedRightJustifiedLabelKeepsRightEdge) {
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetAlignment(taRightJustify);
    l->SetCaption("9");
    l->SetLeft(100 - l->Width());
    l->SetCaption("99999");
    EXPECT_EQ(l->BoundsRect().Right, 100);
    EXPECT_LT(l->Left(), 90);
}

TEST_F(FormTest, TransparentLabelLeavesUnderlyingPixels) {
    auto* img = new TImage(form.get());
    img->SetParent(form.get());
    img->SetBounds(0, 0, 200, 100);
    const uint32_t red = 0xFFFF0000;
    img->SetPicture(Filled(200, 100, red));
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetFont({"Verdana", -8, clWhite, 0});
    l->SetCaption("I I");
    l->SetBounds(20, 20, l->Width(), l->Height());
    l->SetColor(clBlue);

    THeadlessImage s = Screen(); // opaque: the label's own colour under the text
    EXPECT_GT(InkIn(s, l->BoundsRect(), Opaque(clBlue)).Count, 0);
    EXPECT_EQ(s.At(20, 20), Opaque(clBlue));

    l->SetTransparent(true);
    s = Screen();
    EXPECT_EQ(s.At(20, 20), red);
    const Ink notRed = InkIn(s, l->BoundsRect(), red);
    EXPECT_GT(notRed.Count, 4); // the letters
    EXPECT_EQ(InkIn(s, l->BoundsRect(), Opaque(clBlue)).Count,
              l->Width() * l->Height()); // no blue left
}

TEST_F(FormTest, DisabledLabelDrawsGreyText) {
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetFont({"Verdana", -11, clWhite, 0});
    l->SetCaption("MMMM");
    const THeadlessImage before = Screen();
    l->SetEnabled(false);
    const THeadlessImage after = Screen();
    int whiteBefore = 0, whiteAfter = 0;
    for (int32_t y = 0; y < l->Height(); ++y)
        for (int32_t x = 0; x < l->Width(); ++x) {
            whiteBefore += before.At(x, y) == Opaque(clWhite);
            whiteAfter += after.At(x, y) == Opaque(clWhite);
        }
    EXPECT_GT(whiteBefore, 0);
    EXPECT_EQ(whiteAfter, 0);
}

TEST_F(FormTest, LabelCaptionIsMeasuredAtOnceAndPaintedByPump) {
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetFont({"Verdana", -11, clWhite, 0});
    l->SetCaption("0");
    platform.PumpEvents();
    const int32_t narrow = l->Width();
    l->SetCaption("100000000");
    EXPECT_EQ(l->Caption(), "100000000");
    const THeadlessImage s = Screen();
    EXPECT_GT(l->Width(), narrow * 5);
    const Ink ink = InkIn(s, l->BoundsRect(), Opaque(clBlack));
    EXPECT_GT(ink.MeanX, l->Width() / 3);
}

TEST_F(FormTest, LabelAcceleratorMarksAndLineBreaks) {
    auto* a = new TLabel(form.get());
    a->SetParent(form.get());
    a->SetCaption("A&&B");
    auto* b = new TLabel(form.get());
    b->SetParent(form.get());
    b->SetCaption("A&B");
    b->SetShowAccelChar(false);
    EXPECT_EQ(a->Width(), b->Width()); // both show "A&B"

    auto* two = new TLabel(form.get());
    two->SetParent(form.get());
    two->SetCaption("one\r\ntwo");
    EXPECT_EQ(two->Height(), 2 * FontMetrics(two->Font()).Height);
}

TEST_F(FormTest, PictureDrawsUnstretchedFromTopLeftAndClips) {
    TBitmap pic(4, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            pic.ScanLine(y)[x] = 0xFF000000u | uint32_t(y * 16 + x + 1);
    auto* img = new TImage(form.get());
    img->SetParent(form.get());
    img->SetBounds(10, 20, 3, 5); // narrower and taller than the picture
    img->SetPicture(pic);
    const THeadlessImage s = Screen();
    EXPECT_EQ(s.At(10, 20), pic.ScanLine(0)[0]);
    EXPECT_EQ(s.At(12, 22), pic.ScanLine(2)[2]);
    EXPECT_EQ(s.At(13, 20), Opaque(clBlack)); // column 3 is cut off
    EXPECT_EQ(s.At(10, 23), Opaque(clBlack)); // below the picture the form shows

    img->SetLeft(-2); // partly outside the form: the visible part stays in place
    const THeadlessImage moved = Screen();
    EXPECT_EQ(moved.At(0, 20), pic.ScanLine(0)[2]);

    img->SetAutoSize(true);
    EXPECT_EQ(img->Width(), 4);
    EXPECT_EQ(img->Height(), 3);
}

TEST_F(FormTest, PaintCanvasIsClippedToControlAndUpdate) {
    struct Spill : TGraphicControl {
        using TGraphicControl::TGraphicControl;
        void Paint(TCanvas& c) override { c.FillRect({-100, -100, 1000, 1000}, clWhite); }
    };
    auto* s = new Spill(form.get());
    s->SetParent(form.get());
    s->SetBounds(150, 80, 100, 100); // runs off the form
    const THeadlessImage img = Screen();
    EXPECT_EQ(InkIn(img, {0, 0, 200, 100}, Opaque(clBlack)).Count, 50 * 20);
}

TEST_F(FormTest, RepaintDrawsAtOnceWithoutPump) {
    auto* panel = new TPanel(form.get());
    panel->SetParent(form.get());
    panel->SetBounds(0, 0, 50, 50);
    panel->SetColor(clRed);
    form->SetColor(clBlue);
    form->Repaint();
    EXPECT_EQ(platform.Screenshot(Window()).At(100, 60), Opaque(clBlue));
    EXPECT_EQ(platform.Screenshot(Window()).At(10, 10), Opaque(clRed));
}

TEST_F(FormTest, CorruptSizesAreBoundedNotTrusted) {
    auto* l = new TLabel(form.get());
    l->SetParent(form.get());
    l->SetCaption("W");
    l->SetFont({"Verdana", -2000000000, clWhite, 0}); // would ask for a giant glyph
    EXPECT_LE(l->Height(), 1300);
    l->SetBounds(0, 0, -5, 1 << 30);
    EXPECT_EQ(l->Width(), 0);
    EXPECT_EQ(l->Height(), kMaxControlSize);
}
