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
    while (q.next(e))
        out.push_back(e);
    return out;
}

// Checks what every host relies on: per parameter, begins and ends alternate, every value lies
// inside its parameter's gesture, and its values keep their order (they rise in these tests).
// Answers the last value of each parameter.
std::vector<float> checkGestures(const std::vector<EditEvent>& events) {
    std::vector<bool> open(ql::kNumParams, false);
    std::vector<float> last(ql::kNumParams, -1.0f);
    for (const auto& e : events) {
        const auto i = static_cast<size_t>(e.index);
        switch (e.kind) {
        case Kind::Begin:
            EXPECT_FALSE(open[i]) << "a parameter's gestures never nest";
            open[i] = true;
            break;
        case Kind::End:
            EXPECT_TRUE(open[i]);
            open[i] = false;
            break;
        case Kind::Value:
            EXPECT_TRUE(open[i]) << "every value inside its gesture";
            EXPECT_GT(e.value, last[i]) << "values keep their order";
            last[i] = e.value;
            break;
        }
    }
    for (bool o : open)
        EXPECT_FALSE(o) << "every gesture ended";
    return last;
}

// The editor's own road to the queue needs an editor that opens without a display.
#ifdef QL_TEST_NO_EDITOR
#define QL_NEEDS_EDITOR() GTEST_SKIP() << "no headless editor in this build"
#else
#define QL_NEEDS_EDITOR() (void)0
#endif

} // namespace

TEST(EditQueue, GesturesOfParametersEditedTogetherOverlapAndEndTogether) {
    EditQueue q;
    q.edit(31, 0.1f); // a linked pair moves both at every step
    q.edit(34, 0.1f);
    q.edit(31, 0.2f);
    q.edit(34, 0.2f);
    q.endGesture();
    q.edit(80, 0.5f); // not a parameter
    const std::vector<EditEvent> expected = {{Kind::Begin, 31, 0},    {Kind::Value, 31, 0.1f},
                                             {Kind::Begin, 34, 0},    {Kind::Value, 34, 0.1f},
                                             {Kind::Value, 31, 0.2f}, {Kind::Value, 34, 0.2f},
                                             {Kind::End, 31, 0},      {Kind::End, 34, 0}};
    EXPECT_EQ(drain(q), expected);
}

TEST(EditQueue, ATakerThatFallsBehindStillHearsTheLastValueInsideBalancedGestures) {
    EditQueue q;
    for (int i = 1; i <= 3000; ++i) {
        q.edit(i < 2000 ? 31 : 34, float(i));
        if (i % 100 == 0) q.endGesture();
    }
    q.edit(2, 0.75f); // the ring is full: kept aside
    q.endGesture();
    const auto last = checkGestures(drain(q));
    EXPECT_EQ(last[31], 1999.0f);
    EXPECT_EQ(last[34], 3000.0f);
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
            while (q.next(e))
                got.push_back(e);
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
    const auto last = checkGestures(got);
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
    while (bridge.nextEdit(e))
        got.push_back(e);
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
