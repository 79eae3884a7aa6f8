// The headless platform driven by pump calls alone, as the plug-in's headless build runs it for a
// host's idle calls: each pump moves the virtual clock before it paints, and a platform nobody
// observes keeps no blit log.
#include "fixture.h"

namespace {
class PumpDrivenTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        probe = new Probe(form.get(), "P", log, Bounds(10, 10, 20, 20));
        timer = new TTimer(form.get());
        timer->SetInterval(100);
        timer->SetOnTimer([this](TComponent*) {
            ticks.push_back(platform.TickCount());
            probe->Invalidate();
        });
        platform.PumpEvents();
        platform.ClearLog();
        probe->Paints = 0;
    }
    Probe* probe = nullptr; // owned by the form
    TTimer* timer = nullptr;
    std::vector<uint64_t> ticks;
};
} // namespace

TEST_F(PumpDrivenTest, WithoutAdvanceOnlyAdvanceTimeMovesTheClock) {
    for (int i = 0; i < 3; ++i)
        platform.PumpEvents();
    EXPECT_EQ(platform.TickCount(), 0u);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(PumpDrivenTest, EachPumpMovesTheClockAndRunsEveryTickDueOnTheWay) {
    platform.SetPumpAdvance(100);
    for (int i = 0; i < 3; ++i)
        platform.PumpEvents();
    EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 200, 300}));
    platform.SetPumpAdvance(250);
    platform.PumpEvents();
    EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 200, 300, 400, 500}));
    EXPECT_EQ(platform.TickCount(), 550u);
}

TEST_F(PumpDrivenTest, WhatATickInvalidatesIsPaintedInTheSamePump) {
    platform.SetPumpAdvance(100);
    platform.PumpEvents();
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_EQ(probe->Paints, 1);
    EXPECT_EQ(platform.PaintCount(Window()), 1);
    EXPECT_TRUE(platform.PendingInvalid(Window()).IsEmpty());
}

TEST_F(PumpDrivenTest, WithoutTheLogBlitsStillReachTheWindow) {
    platform.SetLogBlits(false);
    form->SetColor(clWhite);
    for (int i = 0; i < 3; ++i) {
        form->Invalidate();
        platform.PumpEvents();
    }
    EXPECT_EQ(platform.PaintCount(Window()), 3);
    EXPECT_TRUE(platform.Blits(Window()).empty());
    EXPECT_EQ(platform.Surface(Window()).At(150, 80), Opaque(clWhite));
}
