// The editor's edits on their way to a format: gestures in order, nothing lost when the taker
// falls behind, and the editor's own road to the queue.
#include "effect/aplugin.h"
#include "formats/bridge/editqueue.h"
#include "formats/bridge/pluginbridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using ql::formats::EditEvent;
using ql::formats::EditQueue;
using Kind = ql::formats::EditEvent::Kind;

namespace {
std::vector<EditEvent> drain(EditQueue& q) {
    std::vector<EditEvent> out;
    EditEvent e;
    while (q.next(e)) out.push_back(e);
    return out;
}
// The editor's own road to the queue needs an editor that opens without a display.
#ifdef QL_TEST_NO_EDITOR
#define QL_NEEDS_EDITOR() GTEST_SKIP() << "no headless editor in this build"
#else
#define QL_NEEDS_EDITOR() (void)0
#endif

} // namespace

TEST(EditQueue, EachParameterEditedInTurnGetsAGestureOfItsOwn) {
    EditQueue q;
    q.edit(7, 0.1f);
    q.edit(7, 0.2f);
    q.edit(12, 0.3f);
    q.endGesture();
    q.edit(80, 0.5f); // not a parameter
    const std::vector<EditEvent> expected = {
        {Kind::Begin, 7, 0}, {Kind::Value, 7, 0.1f}, {Kind::Value, 7, 0.2f}, {Kind::End, 7, 0},
        {Kind::Begin, 12, 0}, {Kind::Value, 12, 0.3f}, {Kind::End, 12, 0}};
    EXPECT_EQ(drain(q), expected);
}

TEST(EditQueue, ATakerThatFallsBehindStillHearsTheLastValueInsideBalancedGestures) {
    EditQueue q;
    for (int i = 0; i < 3000; ++i) q.edit(i % 2 == 0 && i < 2000 ? 31 : 34, float(i) / 4096.0f);
    q.edit(2, 0.75f); // the ring is full: kept aside
    q.endGesture();
    const auto events = drain(q);
    int depth = 0;
    float last[81] = {};
    for (const auto& e : events) {
        if (e.kind == Kind::Begin) {
            EXPECT_EQ(depth++, 0) << "gestures never nest";
        }
        if (e.kind == Kind::End) {
            EXPECT_EQ(--depth, 0);
        }
        if (e.kind == Kind::Value) {
            EXPECT_EQ(depth, 1) << "every value inside a gesture";
            last[e.index] = e.value;
        }
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(last[34], 2999.0f / 4096.0f);
    EXPECT_EQ(last[2], 0.75f);
}

TEST(EditQueue, EditsCrossFromTheEditorThreadToTheAudioThreadInOrder) {
    EditQueue q;
    std::atomic<bool> done{false};
    std::vector<EditEvent> got;
    std::thread audio([&] {
        EditEvent e;
        for (;;) {
            const bool finished = done.load(std::memory_order_acquire);
            while (q.next(e)) got.push_back(e);
            if (finished) break;
        }
    });
    for (int i = 1; i <= 20000; ++i) {
        q.edit(i % 3, float(i));
        if (i % 50 == 0) q.endGesture();
    }
    q.endGesture();
    done.store(true, std::memory_order_release);
    audio.join();
    float previous[3] = {};
    float last[3] = {};
    int depth = 0;
    for (const auto& e : got) {
        depth += e.kind == Kind::Begin ? 1 : e.kind == Kind::End ? -1 : 0;
        ASSERT_GE(depth, 0);
        ASSERT_LE(depth, 1);
        if (e.kind != Kind::Value) continue;
        EXPECT_GT(e.value, previous[e.index]) << "values of a parameter keep their order";
        previous[e.index] = last[e.index] = e.value;
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(last[0], 19998.0f);
    EXPECT_EQ(last[1], 19999.0f);
    EXPECT_EQ(last[2], 20000.0f);
}

TEST(EditQueue, TheEditorsAutomationArrivesAsAGestureThatEndsWhenAnIdlePassesWithoutEdits) {
    QL_NEEDS_EDITOR();
    ql::formats::PluginBridge bridge;
    int woken = 0;
    bridge.setEditListener([](void* n) { ++*static_cast<int*>(n); }, &woken);
    ASSERT_TRUE(bridge.openEditor(nullptr)) << "the headless window system takes any parent";
    // What the editor's handlers call during a slider drag.
    bridge.plugin().setParameterAutomated(ql::LeftFeedbackLevel, 0.5f);
    bridge.plugin().setParameterAutomated(ql::LeftFeedbackLevel, 0.55f);
    EXPECT_EQ(woken, 2);
    std::vector<EditEvent> got;
    EditEvent e;
    while (bridge.nextEdit(e)) got.push_back(e);
    ASSERT_EQ(got.size(), 3u) << "the gesture is still open";
    bridge.idleEditor(); // an idle call without edits ends it
    ASSERT_TRUE(bridge.nextEdit(e));
    EXPECT_EQ(e, (EditEvent{Kind::End, ql::LeftFeedbackLevel, 0}));
    EXPECT_FALSE(bridge.nextEdit(e));
    EXPECT_EQ(bridge.parameter(ql::LeftFeedbackLevel), 0.55f);
    bridge.closeEditor();
    EXPECT_FALSE(bridge.editorIsOpen());
}

TEST(EditQueue, TheEditorAutomatesWhileTheAudioThreadProcessesAndTakesTheEdits) {
    QL_NEEDS_EDITOR();
    ql::formats::PluginBridge bridge;
    bridge.setSampleRate(48000.0);
    bridge.start();
    ASSERT_TRUE(bridge.openEditor(nullptr));
    std::atomic<bool> done{false};
    float lastTaken = -1.0f;
    std::thread audio([&] {
        float in[2][128] = {}, out[2][128];
        float* inputs[2] = {in[0], in[1]};
        float* outputs[2] = {out[0], out[1]};
        ql::formats::Transport transport;
        transport.present = transport.hasTempo = true;
        transport.tempo = 120.0;
        EditEvent e;
        for (;;) {
            const bool finished = done.load(std::memory_order_acquire);
            while (bridge.nextEdit(e))
                if (e.kind == Kind::Value) lastTaken = e.value;
            if (finished) break;
            bridge.process(inputs, outputs, 128, transport);
        }
    });
    for (int i = 1; i <= 2000; ++i) {
        bridge.plugin().setParameterAutomated(ql::LeftDelayTime, float(i) / 2000.0f);
        if (i % 10 == 0) bridge.idleEditor();
    }
    done.store(true, std::memory_order_release);
    audio.join();
    EXPECT_EQ(lastTaken, 1.0f) << "the editor's last word reached the format";
    EXPECT_EQ(bridge.parameter(ql::LeftDelayTime), 1.0f);
}
