// The editor through the plug-in's record, as a host drives it: the rectangle, open counting,
// closed editors left alone, reopening, refused parents, repeated and simultaneous editors, a host
// without a display, and every thread a host runs at once while the editor is open.
#include "pluginhost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef QL_TEST_X11
#include "xdisplay.h"
#endif

// These tests drive the editor through X11 (and its absence, no display); a Windows process always
// has its window station, so on Windows the file has nothing to check.
#ifndef _WIN32

namespace {

using namespace qltest;
using Clock = std::chrono::steady_clock;

constexpr int kDryLevel = 0;

// A host whose callback may be called from any of its threads at once.
std::mutex gAutomatedMutex;
std::vector<std::pair<VstInt32, float>> gAutomated;
VstTimeInfo gTime = [] {
    VstTimeInfo t{};
    t.sampleRate = 44100.0;
    t.tempo = 120.0;
    t.flags = kVstTempoValid;
    return t;
}();

VstIntPtr QL_VSTCALL editorHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                                float opt) {
    switch (opcode) {
    case audioMasterAutomate: {
        std::lock_guard<std::mutex> lock(gAutomatedMutex);
        gAutomated.emplace_back(index, opt);
        return 0;
    }
    case audioMasterVersion:
        return 2400;
    case audioMasterGetTime:
        return reinterpret_cast<VstIntPtr>(&gTime);
    default:
        return 0;
    }
}

AEffect* newEffect() {
    PluginLibrary& library = PluginLibrary::get();
    return library.main ? library.main(editorHost) : nullptr;
}

ERect rectOf(AEffect* e, VstIntPtr* answer = nullptr) {
    ERect* rect = nullptr;
    const VstIntPtr a = dispatch(e, effEditGetRect, 0, 0, &rect);
    if (answer) *answer = a;
    return rect ? *rect : ERect{-1, -1, -1, -1};
}

void expectRect(const ERect& r, int top, int left, int bottom, int right) {
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.bottom, bottom);
    EXPECT_EQ(r.right, right);
}

void processBlock(AEffect* e) {
    static thread_local float left[256], right[256];
    float* io[2] = {left, right};
    e->processReplacing(e, io, io, 256);
}

// The library in a host that reaches no X display: everything but the editor works, and the
// editor refuses to open instead of taking the host down.
TEST(HostEditorWithoutDisplay, EditorRefusesToOpenAndTheEffectStillWorks) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    AEffect* e = newEffect();
    ASSERT_NE(e, nullptr) << PluginLibrary::get().error;
    EXPECT_TRUE(e->flags & effFlagsHasEditor);
    VstIntPtr answer = 0;
    expectRect(rectOf(e, &answer), 0, 0, 0, 0);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(dispatch(e, effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t(0x200001))), 0);
    dispatch(e, effEditIdle);
    dispatch(e, effEditClose);
    expectRect(rectOf(e), 0, 0, 0, 0);
    e->setParameter(e, kDryLevel, 0.25f);
    EXPECT_FLOAT_EQ(e->getParameter(e, kDryLevel), 0.25f);
    dispatch(e, effMainsChanged, 0, 1);
    processBlock(e);
    EXPECT_EQ(dispatch(e, effClose), 1);
    if (display) setenv("DISPLAY", saved.c_str(), 1);
}

#ifdef QL_TEST_X11

void* handleOf(Window w) {
    return reinterpret_cast<void*>(uintptr_t(w));
}

constexpr int kWidth = 600, kHeight = 369;
// Places on the panel: the slider and value label of DryLevel, and plain areas of the artwork.
struct Area {
    int x, y, w, h;
};
constexpr Area kDrySlider{462, 205, 16, 83};
constexpr Area kDryLabel{458, 290, 25, 14};

// The panel, recognised by its parts: the light body, the dark bottom bar, the dark tempo
// display and the dark status display.
::testing::AssertionResult showsPanel(const Picture& p) {
    if (p.width != kWidth || p.height != kHeight)
        return ::testing::AssertionFailure() << "picture is " << p.width << " x " << p.height;
    struct Probe {
        const char* what;
        int x, y;
        bool (Rgb::*test)() const;
    };
    const Probe probes[] = {{"panel body", 230, 300, &Rgb::lightGrey},
                            {"panel body", 560, 120, &Rgb::lightGrey},
                            {"bottom bar", 100, 345, &Rgb::dark},
                            {"tempo display", 150, 270, &Rgb::dark},
                            {"status display", 560, 20, &Rgb::dark}};
    for (const Probe& probe : probes) {
        const Rgb c = p.at(probe.x, probe.y);
        if (!(c.*probe.test)())
            return ::testing::AssertionFailure()
                   << probe.what << " at " << probe.x << "," << probe.y << " is rgb(" << c.r << ","
                   << c.g << "," << c.b << ")";
    }
    return ::testing::AssertionSuccess();
}

class HostEditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(PluginLibrary::get().main) << PluginLibrary::get().error;
        for (int attempt = 0; attempt < 4 && !dpy; ++attempt) {
            if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            dpy = XOpenDisplay(nullptr);
        }
        if (!dpy) GTEST_SKIP() << "no X display reachable (scripts/test runs these under Xvfb)";
    }
    void TearDown() override {
        for (AEffect* e : effects)
            dispatch(e, effClose);
        if (!dpy) return;
        for (Window w : windows)
            XDestroyWindow(dpy, w);
        XCloseDisplay(dpy);
    }

    // A mapped top-level window standing for a host's editor frame.
    Window hostWindow(int x = 0, int y = 0) {
        const int screen = DefaultScreen(dpy);
        const Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), x, y, kWidth, kHeight, 0,
                                             0, BlackPixel(dpy, screen));
        XMapRaised(dpy, w);
        XSync(dpy, False);
        windows.push_back(w);
        return w;
    }
    AEffect* effect() {
        AEffect* e = newEffect();
        if (e) effects.push_back(e);
        return e;
    }
    void closeEffect(AEffect* e) {
        std::erase(effects, e);
        dispatch(e, effClose);
    }
    // The host's idle calls, about every 10 ms.
    void idleFor(std::vector<AEffect*> editors, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            for (AEffect* e : editors)
                dispatch(e, effEditIdle);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    Picture picture(Window w) { return grab(dpy, w, kWidth, kHeight); }

    XServerLock lock;
    Display* dpy = nullptr;
    std::vector<Window> windows;
    std::vector<AEffect*> effects;
};

TEST_F(HostEditorTest, RectIsEmptyBeforeTheFirstOpenThenTheWindowsSizeForGood) {
    AEffect* e = effect();
    const Window w = hostWindow();
    VstIntPtr answer = 0;
    expectRect(rectOf(e, &answer), 0, 0, 0, 0);
    EXPECT_EQ(answer, 1);
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    expectRect(rectOf(e, &answer), 0, 0, 369, 600);
    EXPECT_EQ(answer, 1);
    dispatch(e, effEditClose);
    expectRect(rectOf(e, &answer), 0, 0, 369, 600);
    EXPECT_EQ(answer, 1);
}

TEST_F(HostEditorTest, TwoOpensAndOneCloseKeepTheWindow) {
    AEffect* e = effect();
    const Window w = hostWindow();
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    EXPECT_EQ(childCount(dpy, w), 1) << "a second open makes no second window";
    dispatch(e, effEditClose);
    idleFor({e}, 150);
    EXPECT_EQ(childCount(dpy, w), 1);
    EXPECT_TRUE(showsPanel(picture(w)));
    dispatch(e, effEditClose);
    EXPECT_EQ(childCount(dpy, w), 0) << "the last close destroys the window at once";
    dispatch(e, effEditClose);
    dispatch(e, effEditIdle);
    EXPECT_EQ(childCount(dpy, w), 0);
}

TEST_F(HostEditorTest, ClosedEditorIsLeftAloneByParametersAndPrograms) {
    AEffect* e = effect();
    const Window w = hostWindow();
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    idleFor({e}, 50);
    dispatch(e, effEditClose);
    e->setParameter(e, kDryLevel, 0.3f);
    dispatch(e, effSetProgram, 0, 7);
    char name[kVstMaxProgNameLen + 1] = "closed";
    dispatch(e, effSetProgramName, 0, 0, name);
    dispatch(e, effEditIdle);
    EXPECT_EQ(childCount(dpy, w), 0);
    EXPECT_EQ(dispatch(e, effGetProgram), 7);
}

TEST_F(HostEditorTest, ReopenedEditorShowsCurrentValuesInItsFirstPicture) {
    AEffect* e = effect();
    const Window w = hostWindow();
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    idleFor({e}, 300);
    const Picture before = picture(w);
    ASSERT_TRUE(showsPanel(before));
    dispatch(e, effEditClose);

    const float old = e->getParameter(e, kDryLevel);
    e->setParameter(e, kDryLevel, old > 0.5f ? 0.1f : 0.9f);
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    // No idle call yet: this is what the open itself painted.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Picture first = picture(w);
    idleFor({e}, 300);
    const Picture settled = picture(w);

    const Area s = kDrySlider, l = kDryLabel;
    EXPECT_FALSE(first.sameArea(before, s.x, s.y, s.w, s.h)) << "the slider did not move";
    EXPECT_TRUE(first.sameArea(settled, s.x, s.y, s.w, s.h))
        << "the first picture shows another slider position than the refreshed one";
    EXPECT_TRUE(first.sameArea(settled, l.x, l.y, l.w, l.h));
}

TEST_F(HostEditorTest, ParentThatDoesNotExistIsRefusedAndTheHostLives) {
    AEffect* e = effect();
    EXPECT_EQ(dispatch(e, effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t(0x3FFFFF7))), 0);
    dispatch(e, effEditIdle);
    dispatch(e, effEditClose);
    expectRect(rectOf(e), 0, 0, 0, 0);
    // The next open with a real parent works.
    const Window w = hostWindow();
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    idleFor({e}, 200);
    EXPECT_TRUE(showsPanel(picture(w)));
    dispatch(e, effEditClose);
}

TEST_F(HostEditorTest, OpenCloseAndReopenThreeTimes) {
    AEffect* e = effect();
    const Window w = hostWindow();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
        idleFor({e}, 200);
        EXPECT_EQ(childCount(dpy, w), 1);
        EXPECT_TRUE(showsPanel(picture(w)));
        dispatch(e, effEditClose);
        EXPECT_EQ(childCount(dpy, w), 0);
        e->setParameter(e, kDryLevel, 0.2f * float(round + 1));
    }
}

TEST_F(HostEditorTest, EditorsOfTwoInstancesOpenAtOnce) {
    AEffect* a = effect();
    AEffect* b = effect();
    const Window wa = hostWindow(0, 0);
    const Window wb = hostWindow(0, kHeight + 20);
    a->setParameter(a, kDryLevel, 0.1f);
    b->setParameter(b, kDryLevel, 0.9f);
    ASSERT_EQ(dispatch(a, effEditOpen, 0, 0, handleOf(wa)), 1);
    ASSERT_EQ(dispatch(b, effEditOpen, 0, 0, handleOf(wb)), 1);
    idleFor({a, b}, 300);
    const Picture pa = picture(wa), pb = picture(wb);
    EXPECT_TRUE(showsPanel(pa));
    EXPECT_TRUE(showsPanel(pb));
    const Area s = kDrySlider;
    EXPECT_FALSE(pa.sameArea(pb, s.x, s.y, s.w, s.h)) << "each editor shows its own effect";
    // Closing one leaves the other running.
    dispatch(a, effEditClose);
    b->setParameter(b, kDryLevel, 0.5f);
    idleFor({a, b}, 300);
    EXPECT_EQ(childCount(dpy, wa), 0);
    EXPECT_FALSE(picture(wb).sameArea(pb, s.x, s.y, s.w, s.h)) << "the open editor stopped";
    dispatch(b, effEditClose);
}

// Every thread a host runs, at once: automation and program changes on one, audio on another,
// and the editor's idle calls, closes and reopens on the user-interface thread. Meant for the
// thread-sanitizer build; in others it still catches crashes and a stuck editor.
TEST_F(HostEditorTest, AutomationProgramsAudioAndTheEditorAtOnce) {
    AEffect* e = effect();
    const Window w = hostWindow();
    dispatch(e, effMainsChanged, 0, 1);
    ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0}, changes{0};
    std::thread audio([&] {
        while (!stop.load()) {
            processBlock(e);
            blocks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::thread automation([&] {
        int n = 0;
        while (!stop.load()) {
            e->setParameter(e, n % 80, float(n % 11) / 10.0f);
            if (n % 64 == 0) dispatch(e, effSetProgram, 0, (n / 64) % 40);
            changes.fetch_add(1);
            ++n;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int round = 0; round < 3; ++round) {
        idleFor({e}, 400);
        dispatch(e, effEditClose);
        ASSERT_EQ(dispatch(e, effEditOpen, 0, 0, handleOf(w)), 1);
    }
    idleFor({e}, 200);
    stop = true;
    audio.join();
    automation.join();
    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(changes.load(), 0);
    idleFor({e}, 200);
    EXPECT_TRUE(showsPanel(picture(w)));
    dispatch(e, effEditClose);
    dispatch(e, effMainsChanged, 0, 0);
}

#endif // QL_TEST_X11

} // namespace

#endif // _WIN32
