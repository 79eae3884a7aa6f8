// The knob: range rules and change events, frame choice and painting from the strip, the drag
// with the cursor hidden and pinned (and its relative-motion fallback), keys.
#include "container_fixture.h"

#include "dibcontrols/DIBKnobWithReset.h"
#include "dibcontrols/cDIBKnob.h"

#include <memory>

namespace {

// Frame f of the strip holds red = f, green = row, blue = column: a screen pixel names its frame.
void FillStrip(TAbstractSuperDIB& strip, int frames, int frameWidth, int height) {
    strip.SetSize(frames * frameWidth, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < strip.Width(); ++x)
            strip.ScanLine(y)[x] = 0xFF000000u | uint32_t(x / frameWidth) << 16 | uint32_t(y) << 8 |
                                   uint32_t(x % frameWidth);
}

class KnobTest : public ContainerTest {
  protected:
    void SetUp() override {
        ContainerTest::SetUp();
        FillStrip(list.DIBImages().Add().DIB(), 61, 28, 28);
        knob = new TDIBKnobWithReset(container);
        knob->SetLeft(20);
        knob->SetTop(30);
        knob->SetDIBImageList(&list);
        knob->IndexMain().SetDIBIndex(0);
        knob->SetNumGlyphs(61);
        knob->SetMax(400);
        knob->SetOnChange([this](TComponent* sender) {
            EXPECT_EQ(sender, knob);
            ++changes;
        });
    }
    // The frame the screen shows at the knob, checked over the whole face.
    int ShownFrame() {
        const THeadlessImage s = Screen();
        const int frame = int(Rgb(s, 20, 30) >> 16);
        for (int y = 0; y < 28; ++y)
            for (int x = 0; x < 28; ++x)
                if (Rgb(s, 20 + x, 30 + y) !=
                    (uint32_t(frame) << 16 | uint32_t(y) << 8 | uint32_t(x)))
                    return -1;
        return frame;
    }
    TPoint Centre() const { return {20 + 14, 30 + 14}; }

    TDIBImageList list; // TearDown frees the form, and with it the knob, before the list
    TDIBKnobWithReset* knob = nullptr;
    int changes = 0;
};

} // namespace

TEST_F(KnobTest, DefaultsAndAutoSizeFromTheStrip) {
    TDIBKnob plain(container);
    EXPECT_EQ(plain.ClassName(), "TDIBKnob");
    EXPECT_EQ(knob->ClassName(), "TDIBKnobWithReset");
    EXPECT_TRUE(plain.AutoSize());
    EXPECT_EQ(plain.Max(), 100);
    EXPECT_EQ(plain.Min(), 0);
    EXPECT_EQ(plain.Position(), 0);
    EXPECT_EQ(plain.SmallChange(), 1);
    EXPECT_EQ(plain.PageSize(), 5);
    EXPECT_EQ(plain.NumGlyphs(), 1);
    EXPECT_EQ(plain.Orientation(), koVertical);
    EXPECT_EQ(plain.Width(), 32); // no strip: the size stays

    // 1708 x 28 strip, 61 frames.
    EXPECT_EQ(knob->Width(), 28);
    EXPECT_EQ(knob->Height(), 28);
    knob->SetNumGlyphs(2);
    EXPECT_EQ(knob->Width(), 854);
}

TEST_F(KnobTest, PositionIsClampedAndChangeFiresOnlyForANewValue) {
    Screen();
    knob->SetPosition(500);
    EXPECT_EQ(knob->Position(), 400);
    EXPECT_EQ(changes, 1);
    Screen();
    knob->SetPosition(500); // already at Max
    knob->SetPosition(400);
    EXPECT_EQ(changes, 1);
    // ... yet it still asks for a repaint.
    EXPECT_EQ(platform.PendingInvalid(ContainerWindow()), knob->BoundsRect());
    knob->SetPosition(-7);
    EXPECT_EQ(knob->Position(), 0);
    EXPECT_EQ(changes, 2);
}

TEST_F(KnobTest, MinAndMaxKeepEachOtherAndPositionInOrder) {
    knob->SetPosition(300);
    changes = 0;
    knob->SetMax(200);
    EXPECT_EQ(knob->Position(), 200);
    EXPECT_EQ(changes, 1);
    knob->SetMin(50);
    knob->SetMax(50); // Max <= Min lowers Min
    EXPECT_EQ(knob->Min(), 49);
    EXPECT_EQ(knob->Position(), 50);
    knob->SetMin(80); // Min >= Max raises Max
    EXPECT_EQ(knob->Max(), 81);
    EXPECT_EQ(knob->Position(), 80);
    // At the ends of the integer range the partner saturates instead of overflowing.
    knob->SetMax(INT32_MIN);
    EXPECT_EQ(knob->Min(), INT32_MIN);
    EXPECT_EQ(knob->Position(), INT32_MIN);
    knob->SetMin(INT32_MAX);
    EXPECT_EQ(knob->Max(), INT32_MAX);
    ShownFrame(); // paints without dividing by zero
}

TEST_F(KnobTest, FrameFollowsPositionOverTheRange) {
    // (Position - Min) * 61 div 401: 0..6 show frame 0, 7..13 frame 1, 400 frame 60.
    const std::pair<int, int> cases[] = {{0, 0},  {6, 0},    {7, 1},   {13, 1},
                                         {14, 2}, {200, 30}, {400, 60}};
    for (auto [position, frame] : cases) {
        knob->SetPosition(position);
        EXPECT_EQ(ShownFrame(), frame) << "position " << position;
    }
    knob->SetMin(-100); // the offset from Min counts: -100..400 spread over 61 frames
    knob->SetPosition(0);
    EXPECT_EQ(ShownFrame(), 100 * 61 / 501);
}

TEST_F(KnobTest, TweensShowTheLastFrameAtMaxOrTheFirstWhenLooping) {
    knob->SetDrawTweens(true);
    knob->SetPosition(400);
    EXPECT_EQ(ShownFrame(), 60);
    knob->SetLoopLastFrame(true);
    EXPECT_EQ(ShownFrame(), 0);
    knob->SetPosition(0);
    EXPECT_EQ(ShownFrame(), 0);
}

TEST_F(KnobTest, NoStripDrawsNothingButStillTurns) {
    knob->IndexMain().SetDIBIndex(-1);
    knob->SetAutoSize(false);
    const THeadlessImage s = Screen();
    EXPECT_EQ(Rgb(s, 34, 44), Px(clBlack));
    platform.MouseDown(Centre());
    platform.MouseMove({Centre().X, Centre().Y - 2});
    platform.MouseUp({Centre().X, Centre().Y - 2});
    EXPECT_EQ(knob->Position(), 2);
}

TEST_F(KnobTest, DragUpHidesAndPinsTheCursorAndStopsAtMax) {
    platform.MouseDown(Centre());
    EXPECT_TRUE(knob->Dragging());
    EXPECT_FALSE(platform.CursorVisible());
    platform.MouseMove({Centre().X + 9, Centre().Y - 3}); // sideways motion does not count
    EXPECT_EQ(knob->Position(), 3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(platform.CursorPos(), Centre());           // pinned back at the origin
    platform.MouseMove({Centre().X, Centre().Y - 1000}); // far outside the window
    EXPECT_EQ(knob->Position(), 400);
    EXPECT_EQ(platform.CursorPos(), Centre());
    platform.MouseMove({Centre().X, Centre().Y + 5});
    EXPECT_EQ(knob->Position(), 395);
    const int pins = platform.SetCursorPosCount();
    platform.MouseUp({Centre().X + 40, Centre().Y + 40});
    EXPECT_FALSE(knob->Dragging());
    EXPECT_TRUE(platform.CursorVisible());
    EXPECT_EQ(platform.CursorPos(), Centre()); // shown again where the drag began
    EXPECT_EQ(platform.SetCursorPosCount(), pins + 1);
    EXPECT_EQ(ShownFrame(), 395 * 61 / 401);
}

TEST_F(KnobTest, SmallChangeScalesEachPixelAndHorizontalRunsLeftToRight) {
    knob->SetSmallChange(7);
    knob->SetPosition(100);
    platform.MouseDown(Centre());
    platform.MouseMove({Centre().X, Centre().Y - 2});
    EXPECT_EQ(knob->Position(), 114);
    platform.MouseUp(Centre());

    knob->SetOrientation(koHorizontal);
    knob->SetSmallChange(1);
    platform.MouseDown(Centre());
    platform.MouseMove({Centre().X - 4, Centre().Y - 30}); // left decreases; vertical ignored
    EXPECT_EQ(knob->Position(), 110);
    platform.MouseMove({Centre().X + 10, Centre().Y});
    EXPECT_EQ(knob->Position(), 120);
    platform.MouseUp(Centre());
}

TEST_F(KnobTest, OtherButtonsNeitherStartNorEndADrag) {
    platform.MouseDown(Centre(), mbRight);
    EXPECT_FALSE(knob->Dragging());
    EXPECT_TRUE(platform.CursorVisible());
    platform.MouseMove({Centre().X, Centre().Y - 5});
    EXPECT_EQ(knob->Position(), 0);
    platform.MouseUp({Centre().X, Centre().Y - 5}, mbRight);

    platform.MouseDown(Centre());
    platform.MouseDown(Centre(), mbRight);
    platform.MouseUp(Centre(), mbRight);
    EXPECT_TRUE(knob->Dragging());
    platform.MouseUp(Centre());
    EXPECT_FALSE(knob->Dragging());
}

TEST_F(KnobTest, DisablingOrFreeingDuringADragGivesTheCursorBack) {
    platform.MouseDown(Centre());
    EXPECT_FALSE(platform.CursorVisible());
    knob->SetEnabled(false);
    EXPECT_FALSE(knob->Dragging());
    EXPECT_TRUE(platform.CursorVisible());
    platform.MouseUp(Centre());

    knob->SetEnabled(true);
    platform.MouseDown(Centre());
    EXPECT_FALSE(platform.CursorVisible());
    delete knob;
    EXPECT_TRUE(platform.CursorVisible());
    platform.MouseUp(Centre());
}

TEST_F(KnobTest, KeysStepWhileTheKnobHasDIBFocus) {
    knob->SetPosition(100);
    platform.KeyDown(vkUp); // no DIB focus yet: nothing
    EXPECT_EQ(knob->Position(), 100);
    knob->SetDIBTabOrder(0);
    knob->SetDIBFocus();
    knob->SetSmallChange(2);
    knob->SetPageSize(20);
    const std::pair<uint16_t, int> keys[] = {{vkUp, 102},   {vkRight, 104}, {vkDown, 102},
                                             {vkLeft, 100}, {vkPrior, 120}, {vkNext, 100},
                                             {vkHome, 100}, {'A', 100}};
    for (auto [key, expected] : keys) {
        platform.KeyDown(key);
        EXPECT_EQ(knob->Position(), expected) << "key " << key;
    }
    // The key handler may swallow a key.
    knob->SetOnKeyDown([](TComponent*, uint16_t& key, TShiftState) { key = 0; });
    platform.KeyDown(vkPrior);
    EXPECT_EQ(knob->Position(), 100);
}

TEST_F(KnobTest, PublishedPropertiesBySetter) {
    auto set = [&](const char* name, TDIBPropertyValue v) {
        auto p = knob->FindProperty(name);
        ASSERT_TRUE(p && p->Set) << name;
        p->Set(*knob, v);
    };
    set("Orientation", TDIBIdentifier{"koHorizontal"});
    EXPECT_EQ(knob->Orientation(), koHorizontal);
    set("Orientation", int64_t(0));
    EXPECT_EQ(knob->Orientation(), koVertical);
    EXPECT_THROW(set("Orientation", TDIBIdentifier{"koDiagonal"}), Exception);
    set("SmallChange", int64_t(100000)); // the increment type's range is 1..32767
    EXPECT_EQ(knob->SmallChange(), 32767);
    set("PageSize", int64_t(0));
    EXPECT_EQ(knob->PageSize(), 1);
    set("Position", int64_t(1) << 40);
    EXPECT_EQ(knob->Position(), 400);
}

// A platform that cannot move the cursor: the drag falls back to relative motion.
namespace {
class NoWarpPlatform final : public IPlatform {
  public:
    explicit NoWarpPlatform(THeadlessPlatform& h) : fH(h) {}
    std::unique_ptr<IPlatformWindow> NewWindow(TNativeHandle parent, const TRect& bounds,
                                               bool visible, IWindowSink& sink) override {
        return fH.NewWindow(parent, bounds, visible, sink);
    }
    TPoint CursorPos() const override { return fH.CursorPos(); }
    void SetCursorPos(TPoint) override { ++Warps; }
    void SetCursorVisible(bool visible) override { fH.SetCursorVisible(visible); }
    TTimerId StartTimer(uint32_t ms, std::function<void()> tick) override {
        return fH.StartTimer(ms, std::move(tick));
    }
    void StopTimer(TTimerId id) override { fH.StopTimer(id); }
    uint64_t TickCount() const override { return fH.TickCount(); }
    void PumpEvents() override { fH.PumpEvents(); }
    int Warps = 0;

  private:
    THeadlessPlatform& fH;
};
} // namespace

TEST(KnobRelativeMotion, OnePixelIsOneSmallChangeWhenTheCursorCannotBePinned) {
    THeadlessPlatform headless;
    NoWarpPlatform noWarp(headless);
    TForm form(nullptr, nullptr, &noWarp);
    form.SetBounds(0, 0, 100, 100);
    form.Show();
    auto* container = new TDIBContainer(&form);
    container->SetParent(&form);
    container->SetBounds(0, 0, 100, 100);
    auto* knob = new TDIBKnob(container);
    knob->SetBounds(10, 10, 28, 28);
    knob->SetPosition(50);
    noWarp.PumpEvents();

    headless.MouseDown({20, 20});
    headless.MouseMove({20, 17});
    EXPECT_EQ(knob->Position(), 53);
    headless.MouseMove({20, 15}); // the cursor stayed at 17: two more pixels, not five
    EXPECT_EQ(knob->Position(), 55);
    headless.MouseMove({20, 15});
    EXPECT_EQ(knob->Position(), 55);
    headless.MouseMove({20, 25});
    EXPECT_EQ(knob->Position(), 45);
    headless.MouseUp({20, 25});
    EXPECT_GT(noWarp.Warps, 0);
    EXPECT_TRUE(headless.CursorVisible());
}
