// The editor bridge's own logic, with a recording stand-in for the editor window: open counting
// and its floor, the rectangle, what an open does in which order, which values idle hands over
// while open and closed, destruction, and automation from another thread.
#include "effect/aplugin.h"
#include "effect/parameters.h"
#include "shell/APluginEditor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Everything any view did, kept beyond the views' lives.
struct ViewLog {
    std::vector<std::string> calls;            // UI-thread calls, in order
    std::vector<std::pair<int, float>> values; // SetParameterValue from the UI thread
    std::atomic<int> offThreadValues{0};
    int created = 0;
    int destroyed = 0;
    void* lastParent = nullptr;
    TEditorTiming timing;
    std::thread::id uiThread = std::this_thread::get_id();
    std::function<void()> onPump;
};

ViewLog* gLog = nullptr;

class FakeView final : public IEditorView {
  public:
    FakeView() { ++gLog->created; }
    ~FakeView() override {
        alive = 0;
        ++gLog->destroyed;
    }
    int32_t ClientWidth() const override { return 600; }
    int32_t ClientHeight() const override { return 369; }
    void SetBounds(int32_t l, int32_t t, int32_t w, int32_t h) override {
        gLog->calls.push_back("SetBounds " + std::to_string(l) + "," + std::to_string(t) + "," +
                              std::to_string(w) + "," + std::to_string(h));
    }
    void SetParameterValue(int32_t index, float value) override {
        // A write into a destroyed view is the fault the bridge must prevent.
        if (alive.load(std::memory_order_relaxed) != kAlive) std::abort();
        if (std::this_thread::get_id() != gLog->uiThread) {
            gLog->offThreadValues.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        gLog->calls.push_back("SetParameterValue");
        gLog->values.emplace_back(index, value);
    }
    void SetEffect(APlugin*) override { gLog->calls.push_back("SetEffect"); }
    void SetTiming(const TEditorTiming& t) override {
        gLog->calls.push_back("SetTiming");
        gLog->timing = t;
    }
    void Repaint() override { gLog->calls.push_back("Repaint"); }
    void EnableUpdater() override { gLog->calls.push_back("EnableUpdater"); }
    void UpdaterTimer() override { gLog->calls.push_back("UpdaterTimer"); }
    void PumpEvents() override {
        gLog->calls.push_back("PumpEvents");
        if (gLog->onPump) gLog->onPump();
    }

  private:
    static constexpr int kAlive = 0x5155494C;
    std::atomic<int> alive{kAlive};
};

std::unique_ptr<IEditorView> MakeFake(void* parent) {
    gLog->lastParent = parent;
    return std::make_unique<FakeView>();
}
std::unique_ptr<IEditorView> MakeNothing(void*) {
    return nullptr;
}

void* Parent(uintptr_t id) {
    return reinterpret_cast<void*>(id);
}

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gLog = &log;
        Install(MakeFake);
    }
    void TearDown() override {
        delete plugin; // destroys the bridge, and a window it still has
        gLog = nullptr;
    }
    void Install(TEditorViewFactory factory) {
        if (!plugin) plugin = new APlugin(nullptr);
        AEffEditor* old = plugin->getEditor();
        bridge = new APluginEditor(plugin, factory);
        plugin->setEditor(bridge);
        delete old;
    }
    ERect Rect(VstInt32* answer = nullptr) {
        ERect* r = nullptr;
        const VstInt32 a = bridge->getRect(&r);
        if (answer) *answer = a;
        return r ? *r : ERect{-1, -1, -1, -1};
    }
    size_t Count(const std::string& call) const {
        size_t n = 0;
        for (const auto& c : log.calls)
            n += c == call;
        return n;
    }

    ViewLog log;
    APlugin* plugin = nullptr;
    APluginEditor* bridge = nullptr;
};

void ExpectRect(const ERect& r, int top, int left, int bottom, int right) {
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.bottom, bottom);
    EXPECT_EQ(r.right, right);
}

TEST_F(BridgeTest, RectIsEmptyBeforeTheFirstOpenAndKeepsTheLastWindowsSizeAfterClose) {
    VstInt32 answer = 0;
    ExpectRect(Rect(&answer), 0, 0, 0, 0);
    EXPECT_EQ(answer, 1);
    ASSERT_EQ(bridge->open(Parent(7)), 1);
    ExpectRect(Rect(&answer), 0, 0, 369, 600);
    bridge->close();
    ExpectRect(Rect(&answer), 0, 0, 369, 600);
    EXPECT_EQ(answer, 1);
    EXPECT_FALSE(bridge->hasWindow());
}

TEST_F(BridgeTest, OpenCreatesPlacesFeedsAndRefreshesInThatOrder) {
    for (int i = 0; i < ql::kNumParams; ++i)
        plugin->setParameter(i, float(i) / 100.0f);
    ASSERT_EQ(bridge->open(Parent(42)), 1);
    EXPECT_EQ(log.lastParent, Parent(42));
    EXPECT_EQ(bridge->getParentWindow(), Parent(42));
    ASSERT_EQ(log.calls.size(), 1u + 80u + 5u);
    EXPECT_EQ(log.calls.front(), "SetBounds 0,0,600,369");
    ASSERT_EQ(log.values.size(), 80u);
    for (int i = 0; i < 80; ++i) {
        EXPECT_EQ(log.values[size_t(i)].first, i);
        EXPECT_FLOAT_EQ(log.values[size_t(i)].second, float(i) / 100.0f);
    }
    const std::vector<std::string> tail(log.calls.end() - 5, log.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"SetEffect", "SetTiming", "EnableUpdater",
                                              "UpdaterTimer", "Repaint"}));
    // The first refresh shows the effect's own sample rate, the published fields still zero.
    EXPECT_DOUBLE_EQ(log.timing.EffectSampleRate, 44100.0);
    EXPECT_DOUBLE_EQ(log.timing.LastSampleRate, 0.0);
    EXPECT_EQ(log.timing.MsRange, 0);
    EXPECT_FALSE(plugin->isEditorClosed());
}

TEST_F(BridgeTest, OpenCountKeepsTheWindowUntilTheLastCloseAndStopsAtZero) {
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    log.calls.clear();
    ASSERT_EQ(bridge->open(Parent(2)), 1);
    // The second open reuses the window but takes the new parent handle.
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(bridge->getParentWindow(), Parent(2));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"EnableUpdater", "UpdaterTimer", "Repaint"}));
    EXPECT_EQ(bridge->getOpenCount(), 2);

    bridge->close();
    EXPECT_TRUE(bridge->hasWindow());
    EXPECT_FALSE(plugin->isEditorClosed());
    bridge->close();
    EXPECT_FALSE(bridge->hasWindow());
    EXPECT_EQ(log.destroyed, 1);
    EXPECT_TRUE(plugin->isEditorClosed());
    EXPECT_EQ(bridge->getParentWindow(), nullptr);
    bridge->close();
    EXPECT_EQ(bridge->getOpenCount(), 0);

    // The floor holds: one open after extra closes is a full open again.
    ASSERT_EQ(bridge->open(Parent(3)), 1);
    EXPECT_EQ(log.created, 2);
    bridge->close();
    EXPECT_EQ(log.destroyed, 2);
}

TEST_F(BridgeTest, ClosedEditorIsNeverTouchedByParameterProgramOrIdleCalls) {
    // Never opened: updates and idle calls find nothing.
    plugin->setParameter(0, 0.5f);
    bridge->idle();
    EXPECT_TRUE(log.calls.empty());

    ASSERT_EQ(bridge->open(Parent(1)), 1);
    bridge->close();
    const size_t before = log.calls.size();
    plugin->setParameter(3, 0.25f);
    plugin->setProgram(5);
    char name[] = "renamed";
    plugin->setProgramName(name);
    bridge->idle();
    EXPECT_EQ(log.calls.size(), before);
}

TEST_F(BridgeTest, ReopenedWindowStartsFromTheCurrentValues) {
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    bridge->close();
    plugin->setParameter(3, 0.25f);
    plugin->setParameter(79, 0.75f);
    log.values.clear();
    log.calls.clear();
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    ASSERT_EQ(log.values.size(), 80u);
    EXPECT_FLOAT_EQ(log.values[3].second, 0.25f);
    EXPECT_FLOAT_EQ(log.values[79].second, 0.75f);
    // The values are in, and the refresh has moved the controls, before the first paint.
    EXPECT_EQ(log.calls.back(), "Repaint");
    EXPECT_EQ(log.calls[log.calls.size() - 2], "UpdaterTimer");
}

TEST_F(BridgeTest, IdleHandsOverOnlyTheValuesThatChanged) {
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    log.values.clear();
    plugin->setParameter(10, 1.0f);
    plugin->setParameter(10, 0.5f);
    plugin->setParameter(79, 0.25f);
    EXPECT_TRUE(log.values.empty()) << "a parameter change reaches no editor code itself";
    bridge->idle();
    EXPECT_EQ(log.values, (std::vector<std::pair<int, float>>{{10, 0.5f}, {79, 0.25f}}));
    log.values.clear();
    bridge->idle();
    EXPECT_TRUE(log.values.empty());

    plugin->setProgram(5);
    bridge->idle();
    EXPECT_EQ(log.values.size(), 80u);
}

TEST_F(BridgeTest, IdleCopiesTheTimingThenPumps) {
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    // One block without a host: manual tempo, the base class's sample rate.
    float left[16] = {}, right[16] = {};
    float* io[2] = {left, right};
    plugin->processReplacing(io, io, 16);
    log.calls.clear();
    bridge->idle();
    ASSERT_GE(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[log.calls.size() - 2], "SetTiming");
    EXPECT_EQ(log.calls.back(), "PumpEvents");
    EXPECT_FALSE(log.timing.HostCanSync);
    EXPECT_FALSE(log.timing.SyncActive);
    EXPECT_DOUBLE_EQ(log.timing.LastSampleRate, 44100.0);
    EXPECT_FLOAT_EQ(log.timing.SyncTempo, 140.0f);
    EXPECT_FLOAT_EQ(log.timing.HostTempo, 0.0f);
    EXPECT_EQ(log.timing.MsRange, 1714);
    EXPECT_DOUBLE_EQ(log.timing.EffectSampleRate, 44100.0);
}

TEST_F(BridgeTest, FailedOpenAnswersZeroAndDoesNotCount) {
    Install(MakeNothing);
    EXPECT_EQ(bridge->open(Parent(1)), 0);
    EXPECT_EQ(bridge->getOpenCount(), 0);
    EXPECT_FALSE(bridge->hasWindow());
    ExpectRect(Rect(), 0, 0, 0, 0);
    bridge->close();
    bridge->idle();
    plugin->setParameter(1, 1.0f);
    EXPECT_EQ(bridge->getOpenCount(), 0);
}

TEST_F(BridgeTest, DestructionClosesAWindowWhateverTheCount) {
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    delete plugin;
    plugin = nullptr;
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(log.destroyed, 1);
}

TEST_F(BridgeTest, CloseFromInsideThePumpWaitsForThePumpToReturn) {
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    log.onPump = [this] {
        bridge->close(); // a handler's call into the host ends in effEditClose
        EXPECT_EQ(log.destroyed, 0);
        EXPECT_FALSE(bridge->hasWindow());
    };
    bridge->idle();
    log.onPump = nullptr;
    EXPECT_EQ(log.destroyed, 1);
    EXPECT_TRUE(plugin->isEditorClosed());
}

// Another thread automates without pause while the UI thread opens, idles and closes: the window
// is only ever written on the UI thread, and the last value set is what it shows.
TEST_F(BridgeTest, AutomationFromAnotherThreadReachesTheWindowOnlyThroughIdle) {
    std::atomic<bool> stop{false};
    std::atomic<int> sets{0};
    std::thread automation([&] {
        float v = 0.0f;
        while (!stop.load(std::memory_order_relaxed)) {
            plugin->setParameter(31, v);
            sets.fetch_add(1, std::memory_order_relaxed);
            v = v >= 1.0f ? 0.0f : v + 0.125f;
        }
    });
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(bridge->open(Parent(1)), 1);
        const int seen = sets.load();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
        while (sets.load() == seen && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        bridge->idle();
        bridge->close();
    }
    ASSERT_EQ(bridge->open(Parent(1)), 1);
    stop = true;
    automation.join();
    plugin->setParameter(31, 0.375f);
    log.values.clear();
    bridge->idle();
    EXPECT_EQ(log.values, (std::vector<std::pair<int, float>>{{31, 0.375f}}));
    EXPECT_EQ(log.offThreadValues.load(), 0);
    EXPECT_EQ(log.created, 201);
    EXPECT_EQ(log.destroyed, 200);
}

} // namespace
