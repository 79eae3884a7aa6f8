// Input and timers through the X11 backend: real pointer and key events from the server reach the
// right control, a press captures across a drag that leaves the window, a knob-style drag pins the
// hidden cursor, two editors live side by side, and timers tick only from the pump.
#include "x11fixture.h"

#include <X11/keysym.h>

#include <algorithm>

namespace {

using Log = std::vector<std::string>;

class Probe : public TGraphicControl {
  public:
    Probe(TWinControl* parent, std::string name, Log& log, TRect bounds)
        : TGraphicControl(parent), fName(std::move(name)), fLog(log) {
        SetParent(parent);
        SetBoundsRect(bounds);
    }

  protected:
    void MouseDown(TMouseButton, TShiftState s, int32_t x, int32_t y) override {
        Say("down", x, y);
    }
    void MouseMove(TShiftState, int32_t x, int32_t y) override { Say("move", x, y); }
    void MouseUp(TMouseButton, TShiftState, int32_t x, int32_t y) override { Say("up", x, y); }
    void Click() override { fLog.push_back(fName + ":click"); }
    void MouseEnter() override { fLog.push_back(fName + ":enter"); }
    void MouseLeave() override { fLog.push_back(fName + ":leave"); }

  private:
    void Say(const char* what, int32_t x, int32_t y) {
        fLog.push_back(fName + ":" + what + " " + std::to_string(x) + "," + std::to_string(y));
    }
    std::string fName;
    Log& fLog;
};

// Turned by vertical drags with the cursor hidden and pinned where the press was.
class Knob : public TGraphicControl {
  public:
    Knob(TWinControl* parent, TRect bounds) : TGraphicControl(parent) {
        SetParent(parent);
        SetBoundsRect(bounds);
    }
    int Position = 0;
    TPoint Origin;

  protected:
    void MouseDown(TMouseButton, TShiftState, int32_t, int32_t) override {
        fDragging = true;
        Origin = ScreenCursorPos();
        SetScreenCursorVisible(false);
    }
    void MouseMove(TShiftState, int32_t, int32_t) override {
        if (!fDragging) return;
        const int delta = Origin.Y - ScreenCursorPos().Y;
        if (delta == 0) return;
        Position += delta;
        SetScreenCursorPos(Origin);
    }
    void MouseUp(TMouseButton, TShiftState, int32_t, int32_t) override {
        fDragging = false;
        SetScreenCursorPos(Origin);
        SetScreenCursorVisible(true);
    }

  private:
    bool fDragging = false;
};

bool Has(const Log& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

} // namespace

class X11InputTest : public X11Test {
  protected:
    // A host window at the screen's (100, 100) with a 200 x 120 form at (10, 20) inside it.
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped()) return;
        host = NewHost(Bounds(100, 100, 300, 200));
        platform = NewX11Platform();
        ASSERT_TRUE(platform);
        form = std::make_unique<TForm>(nullptr, X11Handle(host), platform.get());
        form->SetBounds(10, 20, 200, 120);
        form->Show();
        ASSERT_TRUE(PumpUntil(*platform, [&] { return PixelAt(host, 12, 22) == Rgb(clBtnFace); }));
    }
    void TearDown() override {
        form.reset();
        platform.reset();
        X11Test::TearDown();
    }
    // Screen position of a form point.
    static TPoint At(int x, int y) { return {110 + x, 120 + y}; }
    void MoveTo(TPoint p) { MovePointer(p.X, p.Y); }

    Window host = 0;
    std::unique_ptr<IPlatform> platform;
    std::unique_ptr<TForm> form;
    Log log;
};

TEST_F(X11InputTest, PressCapturesTheControlAcrossADragOutOfTheWindow) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 30, 30));
    Probe b(form.get(), "B", log, Bounds(60, 10, 30, 30));
    bool formLeft = false;
    form->SetOnMouseLeave([&](TComponent*) { formLeft = true; });

    MoveTo(At(15, 15));
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "A:move 5,5"); }));
    EXPECT_EQ(log.front(), "A:enter");
    Button(1, true);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "A:down 5,5"); }));
    MoveTo(At(65, 15)); // over B: still A's
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "A:move 55,5"); }));
    MoveTo(At(250, -50)); // past the form, the host window, up into the screen
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "A:move 240,-60"); }));
    Button(1, false);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "A:up 240,-60") && formLeft; }));
    for (const std::string& line : log)
        EXPECT_EQ(line.rfind("B:", 0), std::string::npos) << line;
    EXPECT_FALSE(Has(log, "A:click"));
    EXPECT_FALSE(a.MouseCapture());

    // The grab is over: another client can take the pointer now.
    EXPECT_EQ(
        XGrabPointer(dpy, host, False, 0, GrabModeAsync, GrabModeAsync, None, None, CurrentTime),
        GrabSuccess);
    XUngrabPointer(dpy, CurrentTime);

    // Without a press, moves go to whatever lies under the cursor.
    log.clear();
    MoveTo(At(70, 20));
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "B:move 10,10"); }));
    Button(1, true);
    Button(1, false);
    EXPECT_TRUE(PumpUntil(*platform, [&] { return Has(log, "B:click"); }));
}

TEST_F(X11InputTest, PanelWindowGetsItsOwnEventsAndTheFormHearsTheLeave) {
    auto* panel = new TPanel(form.get());
    panel->SetParent(form.get());
    panel->SetBounds(100, 40, 60, 50);
    Probe inPanel(panel, "P", log, Bounds(5, 5, 20, 20));
    Probe onForm(form.get(), "F", log, Bounds(10, 40, 30, 30));
    int formLeaves = 0;
    form->SetOnMouseLeave([&](TComponent*) { ++formLeaves; });

    MoveTo(At(15, 45));
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "F:move 5,5"); }));
    MoveTo(At(110, 50)); // into the panel's window: the form is left
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Has(log, "P:move 5,5"); }));
    EXPECT_TRUE(Has(log, "F:leave"));
    EXPECT_EQ(formLeaves, 1);
    Button(1, true);
    Button(1, false);
    EXPECT_TRUE(PumpUntil(*platform, [&] { return Has(log, "P:click"); }));
}

TEST_F(X11InputTest, KnobDragHidesAndPinsTheCursorOnePixelPerStep) {
    Knob knob(form.get(), Bounds(50, 50, 28, 28));
    const TPoint origin = At(60, 60);
    MoveTo(origin);
    PumpFor(*platform, 20);
    Button(1, true);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return knob.MouseCapture(); }));
    EXPECT_EQ(knob.Origin, origin);

    MovePointerBy(0, -3);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return knob.Position == 3; }));
    EXPECT_TRUE(PumpUntil(*platform, [&] { return Pointer() == origin; }));
    // Far more than the space above the window: the pinned cursor never runs out of screen.
    for (int i = 0; i < 10; ++i) {
        const int target = knob.Position + 40;
        MovePointerBy(0, -40);
        ASSERT_TRUE(PumpUntil(*platform, [&] { return knob.Position == target; })) << i;
        ASSERT_TRUE(PumpUntil(*platform, [&] { return Pointer() == origin; }));
    }
    MovePointerBy(0, 5);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return knob.Position == 398; }));
    Button(1, false);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return !knob.MouseCapture(); }));
    EXPECT_EQ(Pointer(), origin);
    EXPECT_EQ(platform->CursorPos(), origin);
}

TEST_F(X11InputTest, KeysGoToTheFocusedWindowAsVirtualKeysAndCharacters) {
    Log keys;
    form->SetOnKeyDown([&](TComponent*, uint16_t& key, TShiftState s) {
        keys.push_back("down " + std::to_string(key) + ((s & ssShift) ? " shift" : ""));
    });
    form->SetOnKeyUp([&](TComponent*, uint16_t& key, TShiftState) {
        keys.push_back("up " + std::to_string(key));
    });
    form->SetOnKeyPress(
        [&](TComponent*, char32_t& ch) { keys.push_back("char " + std::to_string(uint32_t(ch))); });
    form->SetFocus();
    EXPECT_TRUE(form->Focused());
    PumpFor(*platform, 20);
    MoveTo(At(5, 5));
    Key(XK_a, true);
    Key(XK_a, false);
    Key(XK_Shift_L, true);
    Key(XK_b, true);
    Key(XK_b, false);
    Key(XK_Shift_L, false);
    Key(XK_Left, true);
    Key(XK_Left, false);
    ASSERT_TRUE(PumpUntil(*platform, [&] { return keys.size() >= 10; }));
    EXPECT_EQ(keys, (Log{"down 65", "char 97", "up 65", "down 16", "down 66 shift", "char 66",
                         "up 66", "up 16", "down 37", "up 37"}));
}

TEST_F(X11InputTest, TwoEditorsInTwoHostsAtOnce) {
    const Window host2 = NewHost(Bounds(500, 100, 300, 200));
    auto platform2 = NewX11Platform();
    ASSERT_TRUE(platform2);
    auto form2 = std::make_unique<TForm>(nullptr, X11Handle(host2), platform2.get());
    form2->SetBounds(10, 20, 200, 120);
    form2->SetColor(clGreen);
    form->SetColor(clPurple);
    form2->Show();
    Probe a(form.get(), "A", log, Bounds(10, 10, 30, 30));
    new Probe(form2.get(), "B", log, Bounds(10, 10, 30, 30)); // goes with form2
    std::vector<IPlatform*> both{platform.get(), platform2.get()};
    ASSERT_TRUE(PumpUntil(both, [&] {
        return PixelAt(host, 12, 22) == Rgb(clPurple) && PixelAt(host2, 12, 22) == Rgb(clGreen);
    }));

    MovePointer(500 + 10 + 15, 100 + 20 + 15);
    Button(1, true);
    Button(1, false);
    ASSERT_TRUE(PumpUntil(both, [&] { return Has(log, "B:click"); }));
    EXPECT_FALSE(Has(log, "A:click"));

    // Closing one leaves the other working.
    form2.reset();
    platform2.reset();
    EXPECT_EQ(ChildCount(host2), 0);
    MoveTo(At(15, 15));
    Button(1, true);
    Button(1, false);
    EXPECT_TRUE(PumpUntil(*platform, [&] { return Has(log, "A:click"); }));
    form->SetColor(clTeal);
    EXPECT_TRUE(PumpUntil(*platform, [&] { return PixelAt(host, 12, 22) == Rgb(clTeal); }));
}

TEST_F(X11InputTest, TimersTickOnlyFromThePumpAndCoalesceWhenItIsLate) {
    TTimer timer(form.get());
    int ticks = 0;
    timer.SetInterval(50);
    timer.SetOnTimer([&](TComponent*) { ++ticks; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ticks, 0);
    platform->PumpEvents(); // a host idling this late: one tick, not six
    EXPECT_EQ(ticks, 1);
    platform->PumpEvents();
    EXPECT_EQ(ticks, 1);
    PumpFor(*platform, 400);
    EXPECT_GE(ticks, 5);
    timer.SetEnabled(false);
    const int stopped = ticks;
    PumpFor(*platform, 150);
    EXPECT_EQ(ticks, stopped);
}
