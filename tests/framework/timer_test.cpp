// Periodic timers on the headless platform's virtual clock.
#include "fixture.h"

namespace {
class TimerTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        timer = new TTimer(form.get());
        timer->SetInterval(100);
    }
    void Count() {
        timer->SetOnTimer([this](TComponent* sender) {
            EXPECT_EQ(sender, timer);
            ticks.push_back(platform.TickCount());
        });
    }
    TTimer* timer = nullptr;
    std::vector<uint64_t> ticks;
};
} // namespace

TEST_F(TimerTest, TicksEveryIntervalOfVirtualTime) {
    Count();
    platform.AdvanceTime(99);
    EXPECT_TRUE(ticks.empty());
    platform.AdvanceTime(251);
    EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 200, 300}));
}

TEST_F(TimerTest, NeverTicksWithoutHandlerIntervalOrEnabled) {
    platform.AdvanceTime(1000); // no OnTimer
    EXPECT_EQ(platform.TimerCount(), 0u);
    Count();
    timer->SetInterval(0);
    platform.AdvanceTime(1000);
    timer->SetInterval(100);
    timer->SetEnabled(false);
    platform.AdvanceTime(1000);
    EXPECT_TRUE(ticks.empty());
    EXPECT_EQ(platform.TimerCount(), 0u);
}

TEST_F(TimerTest, ChangingIntervalOrEnabledRestartsThePeriod) {
    Count();
    platform.AdvanceTime(150); // tick at 100
    timer->SetInterval(200);   // next at 350, not 200 or 300
    platform.AdvanceTime(250);
    timer->SetEnabled(false);
    timer->SetEnabled(true); // at 400: next at 600
    platform.AdvanceTime(250);
    EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 350, 600}));
}

TEST_F(TimerTest, RefusedTimerRaisesAndStaysDisabled) {
    platform.SetTimerLimit(0);
    try {
        Count();
        FAIL() << "no error";
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Not enough timers available");
    }
    EXPECT_FALSE(timer->Enabled());
    EXPECT_FALSE(timer->Running());
}

TEST_F(TimerTest, FailingHandlerIsReportedAndTimerKeepsRunning) {
    int reported = 0, calls = 0;
    SetApplicationExceptionHandler([&](std::exception_ptr) { ++reported; });
    timer->SetOnTimer([&](TComponent*) {
        ++calls;
        throw Exception("tick");
    });
    platform.AdvanceTime(300);
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(reported, 3);
}

TEST_F(TimerTest, HandlerMayFreeItsTimerAndFreeingStopsIt) {
    int calls = 0;
    timer->SetOnTimer([&](TComponent* sender) {
        ++calls;
        delete sender;
    });
    platform.AdvanceTime(500);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(platform.TimerCount(), 0u);
    EXPECT_EQ(form->ComponentCount(), 0);
}

TEST_F(TimerTest, OwnerlessTimerUsesDefaultPlatform) {
    SetDefaultPlatform(&platform);
    {
        TTimer t(nullptr);
        int calls = 0;
        t.SetInterval(10);
        t.SetOnTimer([&](TComponent*) { ++calls; });
        platform.AdvanceTime(30);
        EXPECT_EQ(calls, 3);
    }
    SetDefaultPlatform(nullptr);
    EXPECT_EQ(platform.TimerCount(), 0u); // freeing stopped it
}
