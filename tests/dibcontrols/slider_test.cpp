// The slider: layout and travel, position <-> offset, painting of track, overlay, caps and thumb,
// thumb drags, track presses with auto-repeat walking to the cursor, caps, keys, change events.
#include "container_fixture.h"

#include "dibcontrols/cDIBSlider.h"

namespace {

constexpr uint32_t kTrack = 0xFF203040u, kThumb = 0xFFC08040u, kOverlay = 0xFF10E010u,
                   kCap = 0xFF0000F0u;

int AddImage(TDIBImageList& list, int w, int h, uint32_t colour) {
    TDIBImagesItem& item = list.DIBImages().Add();
    item.DIB().SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            item.DIB().ScanLine(y)[x] = colour;
    return item.Index();
}

// What the thumb looks like over the track at the given opacity, by the image drawing itself.
uint32_t Blended(uint32_t over, uint32_t under, uint8_t opacity) {
    TMemoryDIB src(1, 1), dst(1, 1);
    src.ScanLine(0)[0] = over;
    dst.ScanLine(0)[0] = under;
    src.SetOpacity(opacity);
    src.Draw(0, 0, 1, 1, dst, 0, 0);
    return dst.ScanLine(0)[0] & 0xFFFFFFu;
}

class SliderTest : public ContainerTest {
  protected:
    void SetUp() override {
        ContainerTest::SetUp();
        vTrack = AddImage(list, 16, 3, kTrack);
        vThumb = AddImage(list, 16, 27, kThumb);
        hTrack = AddImage(list, 3, 16, kTrack);
        hThumb = AddImage(list, 27, 16, kThumb);
        overlay = AddImage(list, 3, 16, kOverlay);
        cap = AddImage(list, 4, 16, kCap);
        narrowThumb = AddImage(list, 8, 27, kThumb);
    }
    // A vertical editor slider: 16 x 95 at (50, 2), Max 10000.
    TDIBSlider* Vertical(int height = 95, int max = 10000) {
        auto* s = new TDIBSlider(container);
        s->SetDIBImageList(&list);
        s->SetSliderType(stVertical);
        s->SetBounds(50, 2, 16, height);
        s->IndexMain().SetDIBIndex(vTrack);
        s->IndexPointer().SetDIBIndex(vThumb);
        s->SetMax(max);
        s->SetOnChange([this](TComponent*) { ++changes; });
        return s;
    }
    TDIBSlider* Horizontal() {
        auto* s = new TDIBSlider(container);
        s->SetDIBImageList(&list);
        s->SetBounds(10, 40, 76, 16);
        s->IndexMain().SetDIBIndex(hTrack);
        s->IndexPointer().SetDIBIndex(hThumb);
        s->SetMax(1000);
        return s;
    }
    // Screen rows (at column x) showing the thumb colour.
    std::pair<int, int> ThumbRows(const THeadlessImage& s, int x) {
        int first = -1, last = -1;
        for (int y = 0; y < 100; ++y)
            if (Rgb(s, x, y) == (kThumb & 0xFFFFFFu)) {
                if (first < 0) first = y;
                last = y;
            }
        return {first, last};
    }

    TDIBImageList list; // TearDown frees the form, and with it the sliders, before the list
    int vTrack = 0, vThumb = 0, hTrack = 0, hThumb = 0, overlay = 0, cap = 0, narrowThumb = 0;
    int changes = 0;
};

} // namespace

TEST_F(SliderTest, Defaults) {
    TDIBSlider s(container);
    EXPECT_EQ(s.ClassName(), "TDIBSlider");
    EXPECT_TRUE(s.AutoSize());
    EXPECT_TRUE(s.AutoRepeat());
    EXPECT_EQ(s.AutoRepeatInterval(), 250u);
    EXPECT_EQ(s.Max(), 100);
    EXPECT_EQ(s.LargeChange(), 5);
    EXPECT_EQ(s.SmallChange(), 1);
    EXPECT_EQ(s.PageSize(), 5);
    EXPECT_EQ(s.PointerOpacityLow(), 196);
    EXPECT_EQ(s.PointerOpacityHigh(), 255);
    EXPECT_EQ(s.OverlayOpacity(), 64);
    EXPECT_EQ(s.SliderType(), stHorizontal);
    EXPECT_TRUE(s.StretchBackground());
    EXPECT_EQ(s.ThumbRect(), (TDIBRect{-1, -1, -1, -1}));
    EXPECT_EQ(s.Width(), 32);
    EXPECT_EQ(s.Height(), 32);
}

TEST_F(SliderTest, StoredPropertiesAreReadByNameOrNumberAndBadOnesRaiseItsError) {
    TDIBSlider s(container);
    auto set = [&](const char* name, TDIBPropertyValue v) {
        auto p = s.FindProperty(name);
        ASSERT_TRUE(p && p->Set) << name;
        p->Set(s, v);
    };
    set("SliderType", TDIBIdentifier{"stVertical"});
    EXPECT_EQ(s.SliderType(), stVertical);
    set("SliderType", int64_t(stHorizontal));
    EXPECT_EQ(s.SliderType(), stHorizontal);
    auto message = [&](TDIBPropertyValue v) -> std::string {
        try {
            set("SliderType", v);
        } catch (const EDIBControlError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(message(TDIBIdentifier{"stDiagonal"}), "Invalid property value: stDiagonal");
    EXPECT_EQ(message(int64_t(2)), "Invalid property value.");
    EXPECT_EQ(s.SliderType(), stHorizontal) << "a refused value changes nothing";
    set("Max", int64_t(1) << 40); // clamped into the 32-bit range, not wrapped
    EXPECT_EQ(s.Max(), 2147483647);
    set("OverlayOpacity", int64_t(300));
    EXPECT_EQ(s.OverlayOpacity(), 255);
}

TEST_F(SliderTest, EditorGeometryGivesTheTravelAndTrackBeyondBothEnds) {
    TDIBSlider* v = Vertical();
    EXPECT_EQ(v->TrackRect(), (TDIBRect{0, -1, 15, 95})); // one pixel beyond each end
    EXPECT_EQ(v->Travel(), 70);
    EXPECT_EQ(v->ThumbRect(), (TDIBRect{0, -1, 15, 25}));
    v->SetPosition(10000);
    EXPECT_EQ(v->ThumbRect().Top, 69);
    EXPECT_EQ(Vertical(113)->Travel(), 88);
    TDIBSlider* h = Horizontal();
    EXPECT_EQ(h->Travel(), 51);
    EXPECT_EQ(h->TrackRect(), (TDIBRect{-1, 0, 76, 15}));
}

TEST_F(SliderTest, PositionPlacesTheThumbOnScreen) {
    TDIBSlider* v = Vertical();
    v->SetPointerOpacityLow(255);
    v->SetPosition(5000);
    EXPECT_EQ(v->ThumbOffset(), 35);
    THeadlessImage s = Screen();
    // Thumb rows 34..60 of the control; the stretched track shows above and below.
    EXPECT_EQ(ThumbRows(s, 57), std::make_pair(2 + 34, 2 + 60));
    EXPECT_EQ(Rgb(s, 50, 2 + 33), kTrack & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 65, 2 + 61), kTrack & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 65, 2 + 94), kTrack & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 66, 50), Px(clBlack));

    v->SetPosition(20000); // beyond Max: stored as Max, thumb at the end of its travel
    EXPECT_EQ(v->Position(), 10000);
    s = Screen();
    EXPECT_EQ(ThumbRows(s, 57), std::make_pair(2 + 69, 2 + 94));
}

TEST_F(SliderTest, ThumbIsDrawnAtPointerOpacityLowAndHighWhileDragging) {
    TDIBSlider* v = Vertical();
    THeadlessImage s = Screen();
    const uint32_t low = Blended(kThumb, kTrack, 196);
    EXPECT_EQ(Rgb(s, 57, 2 + 10), low);
    platform.MouseDown({57, 2 + 10});
    EXPECT_TRUE(v->Dragging());
    s = Screen();
    EXPECT_EQ(Rgb(s, 57, 2 + 10), kThumb & 0xFFFFFFu);
    platform.MouseUp({57, 2 + 10});
    s = Screen();
    EXPECT_EQ(Rgb(s, 57, 2 + 10), low);
    // Only the list's view changed: the stored thumb keeps its opacity.
    EXPECT_EQ(list.DIBImages()[vThumb].StoredDIB().Opacity(), 255);
}

TEST_F(SliderTest, OnePixelDragsStepBy142Or143AndTheThumbFollowsThePixel) {
    TDIBSlider* v = Vertical();
    v->SetPosition(5000);
    changes = 0;
    const int grabY = 2 + 34 + 5; // thumb top is at control row 34
    platform.MouseDown({57, grabY});
    platform.MouseMove({57, grabY}); // a drag that has not moved changes nothing
    EXPECT_EQ(changes, 0);
    int last = v->Position();
    for (int px = 1; px <= 10; ++px) {
        platform.MouseMove({40, grabY + px}); // across the axis does not matter
        const int step = v->Position() - last;
        EXPECT_TRUE(step == 142 || step == 143) << "pixel " << px << " step " << step;
        EXPECT_EQ(v->ThumbOffset(), 35 + px);
        EXPECT_EQ(v->Position(), (35 + px) * 10000 / 70);
        last = v->Position();
    }
    EXPECT_EQ(changes, 10);
    platform.MouseMove({57, 200}); // past the end: clamped
    EXPECT_EQ(v->Position(), 10000);
    EXPECT_EQ(v->ThumbOffset(), 70);
    platform.MouseMove({57, grabY + 1}); // back
    platform.MouseUp({57, grabY + 1});
    // Kept where the mouse left it (offset 36), not snapped to ToOffset(5142) = 35.
    EXPECT_EQ(v->Position(), 5142);
    EXPECT_EQ(v->ThumbOffset(), 36);

    changes = 0;
    platform.MouseDown({57, grabY + 3});
    platform.MouseMove({57, grabY + 9});
    platform.MouseMove({57, grabY + 3});
    platform.MouseUp({57, grabY + 3});
    EXPECT_EQ(changes, 2); // there and back; nothing more for the release where it began
    EXPECT_EQ(v->Position(), 5142);
}

TEST_F(SliderTest, TrackPressStepsByLargeChangeAndAutoRepeatWalksIntoADrag) {
    TDIBSlider* v = Vertical(95, 100);
    // Thumb rows -1..25, centre 12; the press is 40 pixels below it: min(57, 5) = 5.
    const TPoint press{57, 2 + 52};
    platform.MouseDown(press);
    EXPECT_EQ(v->Position(), 5);
    EXPECT_FALSE(v->Dragging());
    for (int expected = 10; expected <= 40; expected += 5) {
        platform.AdvanceTime(250);
        EXPECT_EQ(v->Position(), expected);
        EXPECT_FALSE(v->Dragging());
    }
    // Position 40: thumb rows 27..53 now reach the cursor, and the next repeat grabs the thumb.
    EXPECT_EQ(v->ThumbRect().Top, 27);
    platform.AdvanceTime(250);
    EXPECT_EQ(v->Position(), 40);
    EXPECT_TRUE(v->Dragging());
    platform.AdvanceTime(1000);
    EXPECT_FALSE(v->AutoRepeatRunning());
    EXPECT_EQ(v->Position(), 40);
    platform.MouseMove({press.X, press.Y + 1}); // now a drag: offset 29
    EXPECT_EQ(v->Position(), 29 * 100 / 70);
    platform.MouseUp({press.X, press.Y + 1});

    // Upward presses step back, and a step never overshoots the cursor.
    v->SetPosition(50);
    v->SetLargeChange(30);
    platform.MouseDown({57, 2 + 30}); // thumb rows 34..60, centre 47: d = -17 -> 24
    platform.MouseUp({57, 2 + 30});
    EXPECT_EQ(v->Position(), 26);
}

TEST_F(SliderTest, LeftPressLevelWithTheThumbStartsADragEvenBesideIt) {
    TDIBSlider* v = Vertical(95, 100);
    v->IndexPointer().SetDIBIndex(narrowThumb); // columns 4..11
    EXPECT_EQ(v->ThumbRect().Left, 4);
    platform.MouseDown({50 + 1, 2 + 5});
    EXPECT_TRUE(v->Dragging());
    platform.MouseUp({50 + 1, 2 + 5});
    // A right press beside it has no auto-repeat running: it steps instead.
    platform.MouseDown({50 + 1, 2 + 5}, mbRight);
    EXPECT_FALSE(v->Dragging());
    platform.MouseUp({50 + 1, 2 + 5}, mbRight);
}

TEST_F(SliderTest, TransparentSliderStillDragsAndSteps) {
    TDIBSlider* visible = Vertical();
    visible->SetEnabled(false);
    TDIBSlider* v = Vertical();
    v->SetOpacity(0);
    visible->SetPointerOpacityLow(255);
    v->SetPointerOpacityLow(255);
    visible->SetPosition(10000);
    THeadlessImage s = Screen();
    EXPECT_EQ(ThumbRows(s, 57), std::make_pair(2 + 69, 2 + 94)); // only the one beneath shows
    platform.MouseDown({57, 2 + 5});
    platform.MouseMove({57, 2 + 12});
    platform.MouseUp({57, 2 + 12});
    EXPECT_EQ(v->Position(), 7 * 10000 / 70);
    EXPECT_EQ(visible->Position(), 10000);
    platform.Click({57, 2 + 80});
    EXPECT_EQ(v->Position(), 1000 + 5);
}

TEST_F(SliderTest, CapsAreLaidOutAndPressedForSmallSteps) {
    TDIBSlider* h = Horizontal();
    h->SetPointerOpacityLow(255);
    h->IndexEnd1().SetDIBIndex(cap);
    h->IndexEnd2().SetDIBIndex(cap);
    EXPECT_EQ(h->StartCapRect(), (TDIBRect{0, 0, 3, 15}));
    EXPECT_EQ(h->EndCapRect(), (TDIBRect{71, 0, 74, 15})); // one pixel short of the edge
    EXPECT_EQ(h->TrackRect(), (TDIBRect{3, 0, 71, 15}));
    EXPECT_EQ(h->Travel(), 42);
    h->SetPosition(500);
    const THeadlessImage s = Screen();
    EXPECT_EQ(Rgb(s, 10 + 0, 45), kCap & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 3, 45), kCap & 0xFFFFFFu); // the cap lies over the track's first column
    EXPECT_EQ(Rgb(s, 10 + 4, 45), kTrack & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 74, 45), kCap & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 75, 45), Px(clBlack));
    EXPECT_EQ(Rgb(s, 10 + 3 + 21, 45), kThumb & 0xFFFFFFu);

    platform.Click({10 + 1, 45});
    EXPECT_EQ(h->Position(), 499);
    platform.Click({10 + 72, 45});
    platform.Click({10 + 72, 45});
    EXPECT_EQ(h->Position(), 501);
    platform.Click({10 + 3, 45}); // the Right column counts as outside the cap: a track press
    EXPECT_EQ(h->Position(), 496);
}

TEST_F(SliderTest, OverlayFillsTheTrackUpToTheThumbInsideItsBorder) {
    TDIBSlider* h = Horizontal();
    h->SetMax(100);
    h->IndexOverlay().SetDIBIndex(overlay);
    h->SetOverlayOpacity(255);
    h->SetPointerOpacityLow(255);
    h->SetOverlayBorderX(2);
    EXPECT_EQ(h->OverlayRect(), (TDIBRect{1, 0, 74, 15}));
    h->SetPosition(50); // offset 25: overlay columns 1..23, thumb from 24
    THeadlessImage s = Screen();
    EXPECT_EQ(Rgb(s, 10 + 0, 48), kTrack & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 1, 40), kOverlay & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 23, 55), kOverlay & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 24, 48), kThumb & 0xFFFFFFu);
    h->SetPosition(0); // nothing filled
    s = Screen();
    EXPECT_EQ(Rgb(s, 10 + 1, 48), kThumb & 0xFFFFFFu);
    EXPECT_EQ(Rgb(s, 10 + 30, 48), kTrack & 0xFFFFFFu);

    h->SetOverlayOpacity(64);
    h->SetPosition(100);
    s = Screen();
    EXPECT_EQ(Rgb(s, 10 + 10, 48), Blended(kOverlay, kTrack, 64));
}

TEST_F(SliderTest, TiledTrackRepeatsTheImageFromOnePixelAboveTheTop) {
    const int striped = list.DIBImages().Count();
    TMemoryDIB& dib = list.DIBImages().Add().DIB();
    dib.SetSize(16, 3);
    const uint32_t rows[3] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 16; ++x)
            dib.ScanLine(y)[x] = rows[y];
    TDIBSlider* v = Vertical();
    v->IndexPointer().SetDIBIndex(-1);
    v->IndexMain().SetDIBIndex(striped);
    v->SetStretchBackground(false);
    const THeadlessImage s = Screen();
    for (int y = 0; y < 95; ++y)
        ASSERT_EQ(Rgb(s, 55, 2 + y), rows[(y + 1) % 3] & 0xFFFFFFu) << "row " << y;
    EXPECT_EQ(Rgb(s, 55, 2 + 95), Px(clBlack)); // clipped to the control
}

TEST_F(SliderTest, SizeIsRaisedToTheMinimumAndAutoSizeFitsTheImagesAcross) {
    TDIBSlider* h = Horizontal();
    EXPECT_EQ(h->Width(), 76);
    EXPECT_EQ(h->Height(), 16);
    h->SetBounds(10, 40, 1, 1);
    EXPECT_EQ(h->Width(), 2 + 3); // 2 + the track's length
    EXPECT_EQ(h->Height(), 2);
    h->IndexEnd1().SetDIBIndex(cap);
    EXPECT_EQ(h->Height(), 16); // AutoSize: the tallest of caps and track
    EXPECT_EQ(h->Width(), 2 + 3 + 4);

    TDIBSlider manual(container);
    manual.SetAutoSize(false);
    manual.SetDIBImageList(&list);
    manual.SetBounds(0, 0, 50, 40);
    manual.IndexMain().SetDIBIndex(hTrack);
    EXPECT_EQ(manual.Height(), 40);
}

TEST_F(SliderTest, KeysFollowTheAxisWithDIBFocus) {
    TDIBSlider* v = Vertical(95, 100);
    v->SetPosition(50);
    v->SetDIBTabOrder(0);
    v->SetDIBFocus();
    const std::pair<uint16_t, int> keys[] = {{vkDown, 51},  {vkUp, 50},   {vkLeft, 50},
                                             {vkRight, 50}, {vkNext, 55}, {vkPrior, 50}};
    for (auto [key, expected] : keys) {
        platform.KeyDown(key);
        EXPECT_EQ(v->Position(), expected) << "key " << key;
    }
    v->SetSliderType(stHorizontal);
    platform.KeyDown(vkRight);
    platform.KeyDown(vkRight);
    platform.KeyDown(vkLeft);
    platform.KeyDown(vkDown);
    EXPECT_EQ(v->Position(), 51);
}

TEST_F(SliderTest, ChangeFiresOncePerEffectiveChange) {
    TDIBSlider* v = Vertical(95, 100);
    v->SetPosition(30);
    v->SetPosition(30);
    v->SetPosition(100);
    v->SetPosition(150);
    EXPECT_EQ(changes, 2);
    v->SetMax(50); // Position follows Max down
    EXPECT_EQ(v->Position(), 50);
    EXPECT_EQ(changes, 3);
    v->SetMin(60); // Min >= Max raises Max
    EXPECT_EQ(v->Max(), 61);
    EXPECT_EQ(v->Position(), 60);
    EXPECT_EQ(changes, 4);
    // A handler that sets Position again is told once more, not forever.
    v->SetOnChange([&](TComponent*) {
        ++changes;
        v->SetPosition(61);
    });
    v->SetPosition(60);
    v->SetMin(0);
    v->SetPosition(0);
    EXPECT_EQ(v->Position(), 61);
    EXPECT_EQ(changes, 6);
}

TEST_F(SliderTest, RangeChangesMoveTheThumbAndOtherMinsMapPixelsBack) {
    TDIBSlider* v = Vertical(95, 100);
    v->SetPosition(50);
    EXPECT_EQ(v->ThumbOffset(), 35);
    v->SetMax(200);
    EXPECT_EQ(v->ThumbOffset(), 17);
    v->SetMin(100);
    v->SetPosition(150);
    EXPECT_EQ(v->ThumbOffset(), 35);
    EXPECT_EQ(v->ToPosition(35), 150);
    EXPECT_EQ(v->ToPosition(0), 100);
    EXPECT_EQ(v->ToPosition(70), 200);
    // Drag one pixel from offset 35: 100 + 36 * 100 div 70.
    platform.MouseDown({57, 2 + 34 + 3});
    platform.MouseMove({57, 2 + 34 + 4});
    platform.MouseUp({57, 2 + 34 + 4});
    EXPECT_EQ(v->Position(), 151);
}

TEST_F(SliderTest, NoThumbIgnoresPressesAndAThumbLongerThanTheTrackNeverDivides) {
    TDIBSlider* v = Vertical(95, 100);
    v->IndexPointer().SetDIBIndex(-1);
    platform.Click({57, 60});
    EXPECT_EQ(v->Position(), 0);
    v->IndexPointer().SetDIBIndex(vThumb);
    v->SetAutoSize(false);
    v->SetBounds(50, 2, 16, 10); // track 12 rows, thumb 27: no travel
    EXPECT_EQ(v->Travel(), 0);
    v->SetPosition(70);
    EXPECT_EQ(v->ThumbOffset(), 0);
    platform.MouseDown({57, 2 + 3});
    platform.MouseMove({57, 2 + 8});
    platform.MouseUp({57, 2 + 8});
    EXPECT_EQ(v->Position(), 70);
    Screen();
}

TEST_F(SliderTest, LoadingPlacesTheThumbOnceAllPropertiesAreIn) {
    form->SetLoading(true);
    auto* v = new TDIBSlider(form.get());
    v->SetOnChange([this](TComponent*) { ++changes; });
    // Stored order of the form description: bounds, images, type, range, position.
    v->SetBounds(50, 2, 16, 95);
    v->SetDIBImageList(&list);
    v->IndexMain().SetDIBIndex(vTrack);
    v->IndexPointer().SetDIBIndex(vThumb);
    v->FindProperty("SliderType")->Set(*v, TDIBIdentifier{"stVertical"});
    v->FindProperty("Max")->Set(*v, int64_t(1000));
    v->FindProperty("Position")->Set(*v, int64_t(1000));
    v->Loaded();
    form->SetLoading(false);
    EXPECT_EQ(v->Width(), 16);
    EXPECT_EQ(v->Height(), 95);
    EXPECT_EQ(v->ThumbRect().Top, 69);
    const int before = changes;
    v->SetPosition(1000); // the loaded value counts as notified
    EXPECT_EQ(changes, before);
}
