// Mouse routing, capture, clicks and enter/leave on the headless platform.
#include "fixture.h"

using Log = std::vector<std::string>;

TEST_F(FormTest, PressGoesToTopmostVisibleEnabledControlElseBeneath) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 40, 40));
    Probe b(form.get(), "B", log, Bounds(20, 20, 40, 40)); // created later: on top
    int formPresses = 0;
    form->SetOnMouseDown([&](TComponent*, TMouseButton, TShiftState, int32_t x, int32_t y) {
        ++formPresses;
        EXPECT_EQ(x, 30);
        EXPECT_EQ(y, 30);
    });

    platform.Click({30, 30});
    EXPECT_EQ(log, (Log{"B:enter", "B:down 10,10", "B:click", "B:up 10,10"}));

    log.clear();
    b.SetEnabled(false); // passed over: A beneath takes it
    platform.Click({30, 30});
    EXPECT_EQ(log, (Log{"B:leave", "A:enter", "A:down 20,20", "A:click", "A:up 20,20"}));

    log.clear();
    a.SetVisible(false); // neither: the form itself
    platform.Click({30, 30});
    EXPECT_EQ(log, (Log{"A:leave"}));
    EXPECT_EQ(formPresses, 1);
}

TEST_F(FormTest, CaptureKeepsMovesAndReleaseOnPressingControl) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    Probe b(form.get(), "B", log, Bounds(50, 10, 20, 20));
    platform.MouseDown({15, 15});
    EXPECT_EQ(platform.CaptureWindow(), Window());
    EXPECT_TRUE(a.MouseCapture());
    log.clear();
    platform.MouseMove({55, 15});  // over B
    platform.MouseMove({250, 90}); // outside the window
    platform.MouseUp({250, 90});
    EXPECT_EQ(log, (Log{"A:leave", "A:move 45,5", "A:move 240,80", "A:up 240,80"}));
    EXPECT_EQ(platform.CaptureWindow(), nullptr);
    EXPECT_FALSE(a.MouseCapture());
}

TEST_F(FormTest, ClickOnlyWhenPressAndReleaseFallInsideOneControl) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    Probe b(form.get(), "B", log, Bounds(50, 10, 20, 20));
    int clicks = 0;
    a.SetOnClick([&](TComponent* sender) {
        EXPECT_EQ(sender, &a);
        ++clicks;
    });

    platform.MouseDown({15, 15}); // press A, release over B
    platform.MouseUp({55, 15});
    EXPECT_EQ(clicks, 0);

    platform.MouseDown({15, 15}); // leave A and come back before releasing
    platform.MouseMove({100, 50});
    platform.MouseMove({16, 16});
    platform.MouseUp({16, 16});
    EXPECT_EQ(clicks, 1);

    platform.MouseDown({100, 50}); // press on the form, release over A
    platform.MouseUp({15, 15});
    EXPECT_EQ(clicks, 1);

    platform.MouseDown({15, 15}, mbRight); // only the left button clicks
    platform.MouseUp({15, 15}, mbRight);
    EXPECT_EQ(clicks, 1);

    platform.MouseDown({15, 15}); // disabled before the release
    a.SetEnabled(false);
    platform.MouseUp({15, 15});
    EXPECT_EQ(clicks, 1);
    for (const auto& line : log)
        EXPECT_EQ(line.find("B:click"), std::string::npos);
}

TEST_F(FormTest, EnterLeaveSequenceWithAndWithoutCapture) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    Probe b(form.get(), "B", log, Bounds(50, 10, 20, 20));
    auto moves = [&] {
        std::erase_if(log, [](const std::string& s) { return s.find(":move") != s.npos; });
    };

    platform.MouseMove({15, 15});
    platform.MouseMove({55, 15});
    moves();
    EXPECT_EQ(log, (Log{"A:enter", "A:leave", "B:enter"}));

    // During B's capture only B hears: it leaves, comes back, leaves; A hears nothing until
    // the release, when it is the control under the cursor.
    log.clear();
    platform.MouseDown({55, 15});
    platform.MouseMove({15, 15});
    platform.MouseMove({55, 15});
    platform.MouseMove({15, 15});
    platform.MouseUp({15, 15});
    moves();
    EXPECT_EQ(log, (Log{"B:down 5,5", "B:leave", "B:enter", "B:leave", "B:up -35,5", "A:enter"}));

    // Leaving the window leaves the control too.
    log.clear();
    platform.MouseMove({300, 300});
    EXPECT_EQ(log, (Log{"A:leave"}));
}

TEST_F(FormTest, PressOnFormSilencesChildrenUntilRelease) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    platform.MouseDown({100, 50});
    platform.MouseMove({15, 15});
    EXPECT_EQ(log, Log{});
    platform.MouseUp({15, 15});
    EXPECT_EQ(log, (Log{"A:enter"}));
}

TEST_F(FormTest, DoubleClickWithinTimeAndDistance) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    platform.Click({15, 15});
    platform.AdvanceTime(kDoubleClickMs);
    platform.MouseDown({17, 16});
    EXPECT_EQ(log[log.size() - 2], "A:dblclick");
    EXPECT_EQ(log.back(), "A:down 7,6 double");
    platform.MouseUp({17, 16});
    log.clear();
    platform.AdvanceTime(kDoubleClickMs + 1); // a third press starts afresh, and too late anyway
    platform.MouseDown({17, 16});
    EXPECT_EQ(log, (Log{"A:down 7,6"}));
}

TEST_F(FormTest, HidingTheControlUnderTheCursorLeavesIt) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    Probe b(form.get(), "B", log, Bounds(10, 10, 20, 20));
    platform.MouseMove({15, 15});
    b.SetVisible(false);
    platform.MouseMove({16, 15});
    EXPECT_EQ(log, (Log{"B:enter", "B:move 5,5", "B:leave", "A:enter", "A:move 6,5"}));
}

TEST_F(FormTest, CursorShapeFollowsControlUnderMouse) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    a.SetCursor(crSizeNS);
    form->SetCursor(crCross);
    platform.MouseMove({15, 15});
    EXPECT_EQ(platform.WindowCursor(Window()), crSizeNS);
    platform.MouseMove({100, 50});
    EXPECT_EQ(platform.WindowCursor(Window()), crCross);
    a.SetCursor(crDefault); // falls back to the parent's
    platform.MouseMove({15, 15});
    EXPECT_EQ(platform.WindowCursor(Window()), crCross);
}

TEST_F(FormTest, ScreenCursorReadSetHideShow) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    form->SetLeft(7); // the form's window sits at 7, 0 on the headless screen
    platform.MouseMove({20, 15});
    EXPECT_EQ(a.ScreenCursorPos(), (TPoint{20, 15}));
    EXPECT_EQ(a.ScreenToClient({20, 15}), (TPoint{3, 5}));
    EXPECT_EQ(a.ClientToScreen({0, 0}), (TPoint{17, 10}));
    a.SetScreenCursorPos({40, 40});
    EXPECT_EQ(platform.CursorPos(), (TPoint{40, 40}));
    a.SetScreenCursorVisible(false);
    EXPECT_FALSE(platform.CursorVisible());
    a.SetScreenCursorVisible(true);
    EXPECT_TRUE(platform.CursorVisible());
}

TEST_F(FormTest, HandlerMayFreeItsControlOrForm) {
    auto* a = new Probe(form.get(), "A", log, Bounds(10, 10, 20, 20));
    a->SetOnClick([&](TComponent* sender) { delete sender; });
    platform.Click({15, 15});
    EXPECT_EQ(form->ControlCount(), 0);
    EXPECT_EQ(platform.CaptureWindow(), nullptr);

    auto* b = new Probe(form.get(), "B", log, Bounds(10, 10, 20, 20));
    b->SetOnMouseDown(
        [&](TComponent*, TMouseButton, TShiftState, int32_t, int32_t) { form.reset(); });
    platform.MouseDown({15, 15});
    EXPECT_FALSE(form);
    platform.MouseUp({15, 15}); // nobody left to hear it
}

TEST_F(FormTest, ExceptionFromHandlerReachesApplicationAndCaptureEnds) {
    int reported = 0;
    SetApplicationExceptionHandler([&](std::exception_ptr) { ++reported; });
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    a.SetOnClick([](TComponent*) { throw Exception("boom"); });
    platform.Click({15, 15});
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(form->CaptureControl(), nullptr);
    EXPECT_EQ(platform.CaptureWindow(), nullptr);
}

TEST_F(FormTest, DisabledWindowTakesNoInput) {
    Probe a(form.get(), "A", log, Bounds(10, 10, 20, 20));
    form->SetEnabled(false);
    platform.Click({15, 15});
    EXPECT_EQ(log, Log{});
}
