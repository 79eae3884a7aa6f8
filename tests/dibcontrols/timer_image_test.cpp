// The timer component and the static image control.
#include "container_fixture.h"

#include "dibcontrols/cDIBImage.h"
#include "dibcontrols/cDIBTimer.h"

// --- timer

TEST_F(ContainerTest, TimerStartsDisabledAndRunsOnlyWithIntervalAndHandler) {
    TDIBTimer timer(form.get());
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    int ticks = 0;
    timer.SetInterval(0);
    timer.SetEnabled(true);
    timer.SetOnTimer([&](TComponent* sender) {
        EXPECT_EQ(sender, &timer);
        ++ticks;
    });
    platform.AdvanceTime(5000);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(platform.TimerCount(), 0u);

    timer.SetOnTimer(nullptr);
    timer.SetInterval(100);
    platform.AdvanceTime(5000);
    EXPECT_EQ(platform.TimerCount(), 0u);

    timer.SetOnTimer([&](TComponent*) { ++ticks; });
    platform.AdvanceTime(350);
    EXPECT_EQ(ticks, 3);
    timer.SetEnabled(false);
    platform.AdvanceTime(1000);
    EXPECT_EQ(ticks, 3);
}

TEST_F(ContainerTest, TimerReArmingRestartsThePeriod) {
    TDIBTimer timer(form.get());
    std::vector<uint64_t> at;
    timer.SetInterval(100);
    timer.SetOnTimer([&](TComponent*) { at.push_back(platform.TickCount()); });
    timer.SetEnabled(true);
    platform.AdvanceTime(60);
    timer.SetInterval(200); // from now: next at 260, not 100 or 200
    platform.AdvanceTime(300);
    timer.SetInterval(200); // the same value: no restart
    platform.AdvanceTime(100);
    timer.SetOnTimer([&](TComponent*) { at.push_back(platform.TickCount()); }); // always re-arms
    platform.AdvanceTime(250);
    EXPECT_EQ(at, (std::vector<uint64_t>{260, 460, 660}));
}

TEST_F(ContainerTest, TimerRefusedByThePlatformAndFailingHandlers) {
    TDIBTimer timer(form.get());
    timer.SetOnTimer([](TComponent*) { throw std::runtime_error("boom"); });
    platform.SetTimerLimit(0);
    try {
        timer.SetEnabled(true);
        FAIL();
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Not enough timers available");
    }
    EXPECT_FALSE(timer.Enabled());

    platform.SetTimerLimit(SIZE_MAX);
    int handled = 0;
    SetApplicationExceptionHandler([&](std::exception_ptr) { ++handled; });
    timer.SetInterval(10);
    timer.SetEnabled(true);
    platform.AdvanceTime(30); // the timer keeps running after a failing tick
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(handled, 3);
    {
        TDIBTimer gone(form.get());
        gone.SetOnTimer([](TComponent*) {});
        gone.SetEnabled(true);
        EXPECT_EQ(platform.TimerCount(), 2u);
    }
    EXPECT_EQ(platform.TimerCount(), 1u);
}

// --- image

namespace {
// An image list with one w x h image of one colour.
void AddImage(TDIBImageList& list, int w, int h, TColor colour) {
    TMemoryDIB& dib = list.DIBImages().Add().DIB();
    dib.SetSize(w, h);
    dib.Fill(colour);
}
} // namespace

TEST_F(ContainerTest, ImageAutoSizeIsTheBoundingBoxRoundedUpToEvenSides) {
    TDIBImageList list;
    AddImage(list, 38, 21, clRed);
    TDIBImage image(container);
    image.SetDIBImageList(&list);
    image.IndexMain().SetDIBIndex(0);
    EXPECT_EQ(image.Width(), 32); // AutoSize starts off
    image.SetAutoSize(true);
    EXPECT_EQ(image.Width(), 38);
    EXPECT_EQ(image.Height(), 22);
    image.SetAngle(90);
    EXPECT_EQ(image.Width(), 22);
    EXPECT_EQ(image.Height(), 38);
    image.SetAngle(450); // reduced modulo 360
    EXPECT_EQ(image.Angle(), 90);
    image.SetAngle(0);
    image.SetScale(50);
    EXPECT_EQ(image.Width(), 20); // 19 rounded up
    EXPECT_EQ(image.Height(), 12);
    // A changed image resizes the control.
    list.DIBImages()[0].DIB().SetSize(10, 10);
    list.DIBImages()[0].DIB().Changed();
    EXPECT_EQ(image.Width(), 6);
    EXPECT_EQ(image.Height(), 6);
}

TEST_F(ContainerTest, ImageStretchScalesInWholePercents) {
    TDIBImageList list;
    AddImage(list, 30, 20, clRed);
    TDIBImage image(container);
    image.SetDIBImageList(&list);
    image.IndexMain().SetDIBIndex(0);
    image.SetAutoSize(true);
    image.SetBounds(0, 0, 100, 50);
    image.SetStretch(true);
    EXPECT_FALSE(image.AutoSize()); // stretch switches auto size off
    const THeadlessImage s = Screen();
    EXPECT_EQ(list.View().ScaleX(), 333.0L);
    EXPECT_EQ(list.View().ScaleY(), 250.0L);
    EXPECT_EQ(Rgb(s, 0, 0), Px(clRed));
    EXPECT_EQ(Rgb(s, 98, 48), Px(clRed));
    EXPECT_EQ(Rgb(s, 100, 10), Px(clBlack));
    // The stored image keeps its own settings.
    EXPECT_EQ(list.DIBImages()[0].StoredDIB().ScaleX(), 100.0L);

    image.SetScale(100); // switches stretch off: drawn at its own size again
    EXPECT_FALSE(image.Stretch());
    const THeadlessImage t = Screen();
    EXPECT_EQ(Rgb(t, 29, 19), Px(clRed));
    EXPECT_EQ(Rgb(t, 30, 19), Px(clBlack));
    EXPECT_EQ(Rgb(t, 29, 20), Px(clBlack));
}

TEST_F(ContainerTest, ImageCentredUnlessAutoSized) {
    TDIBImageList list;
    AddImage(list, 10, 6, clRed);
    TDIBImage image(container);
    image.SetDIBImageList(&list);
    image.IndexMain().SetDIBIndex(0);
    image.SetBounds(0, 0, 40, 20);
    image.SetCenter(true);
    const THeadlessImage s = Screen();
    // (40 div 2 - 10 div 2, 20 div 2 - 6 div 2) = (15, 7).
    EXPECT_EQ(Rgb(s, 15, 7), Px(clRed));
    EXPECT_EQ(Rgb(s, 24, 12), Px(clRed));
    EXPECT_EQ(Rgb(s, 14, 7), Px(clBlack));
    EXPECT_EQ(Rgb(s, 25, 12), Px(clBlack));
}

TEST_F(ContainerTest, ImageWithoutAnImageDrawsNothingButClicks) {
    TDIBImage image(container);
    image.SetBounds(10, 10, 30, 30);
    int clicks = 0;
    image.SetOnClick([&](TComponent*) { ++clicks; });
    EXPECT_EQ(Rgb(Screen(), 20, 20), Px(clBlack));
    platform.Click({20, 20});
    EXPECT_EQ(clicks, 1);
    TDIBImageList list;
    image.SetDIBImageList(&list);
    image.IndexMain().SetDIBIndex(3); // outside the list: still nothing
    EXPECT_EQ(Rgb(Screen(), 20, 20), Px(clBlack));
}
