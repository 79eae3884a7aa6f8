// The VST3 view in a host's X window: it runs on the host's run loop, draws the editor, sends its
// edits as gestures, keeps an edit against the host's older values, and goes away safely.
#if defined(QL_TEST_X11)
// GoogleTest before Xlib, whose macros (None) it would not survive.
#include <gtest/gtest.h>

#include "vst3host.h"
#include "xdisplay.h"

#include "effect/parameters.h"

#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#if defined(QL_TEST_PNG)
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#endif

using namespace vst3host;

namespace {

// The host's run loop: what the view registered, driven by the test.
struct RunLoop : Object<RunLoop, v3_run_loop_cpp> {
    std::vector<v3_timer_handler**> timers;
    std::vector<std::pair<v3_event_handler**, int>> fds;
    RunLoop() { vtable = &kVtable; }
    static bool accepts(const v3_tuid iid) {
        return sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_run_loop_iid);
    }
    static v3_result V3_API addFd(void* self, v3_event_handler** h, int fd) {
        of(self)->fds.emplace_back(h, fd);
        return V3_OK;
    }
    static v3_result V3_API removeFd(void* self, v3_event_handler** h) {
        auto& f = of(self)->fds;
        std::erase_if(f, [h](auto& e) { return e.first == h; });
        return V3_OK;
    }
    static v3_result V3_API addTimer(void* self, v3_timer_handler** h, uint64_t) {
        of(self)->timers.push_back(h);
        return V3_OK;
    }
    static v3_result V3_API removeTimer(void* self, v3_timer_handler** h) {
        std::erase(of(self)->timers, h);
        return V3_OK;
    }
    static constexpr v3_run_loop_cpp kVtable = {{&query, &ref, &unref},
                                                {&addFd, &removeFd, &addTimer, &removeTimer}};
    void run(int rounds) {
        for (int i = 0; i < rounds; ++i) {
            for (auto& [h, fd] : std::vector(fds))
                v3_cpp_obj(h)->on_fd_is_set(h, fd);
            for (auto* t : std::vector(timers))
                v3_cpp_obj(t)->on_timer(t);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

// The frame gives the run loop, as hosts do on Linux.
struct Frame : Object<Frame, v3_plugin_frame_cpp> {
    RunLoop* loop;
    explicit Frame(RunLoop* l) : loop(l) { vtable = &kVtable; }
    static bool accepts(const v3_tuid iid) {
        return sameTuid(iid, v3_funknown_iid) || sameTuid(iid, v3_plugin_frame_iid);
    }
    static v3_result V3_API frameQuery(void* self, const v3_tuid iid, void** obj) {
        if (sameTuid(iid, v3_run_loop_iid)) {
            *obj = of(self)->loop;
            return V3_OK;
        }
        return query(self, iid, obj);
    }
    static v3_result V3_API resize(void*, v3_plugin_view**, v3_view_rect*) { return V3_FALSE; }
    static constexpr v3_plugin_frame_cpp kVtable = {{&frameQuery, &ref, &unref}, {&resize}};
};

const char* modulePath() {
    const char* env = std::getenv("QL_VST3_PLUGIN");
    return env ? env : QL_VST3_PLUGIN_PATH;
}

v3_class_info classInfo(v3_plugin_factory** f) {
    v3_class_info info{};
    v3_cpp_obj(f)->get_class_info(f, 0, &info);
    return info;
}

} // namespace

TEST(Vst3Editor, RunsInTheHostsWindowAndGoesAwaySafely) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    qltest::XServerLock lock;
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    const Window parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 600, 369, 0, 0, 0);
    XMapWindow(dpy, parent);
    XSync(dpy, False);

    Module module(modulePath());
    ASSERT_NE(module.factory, nullptr);
    auto inst = std::make_unique<Instance>(module.factory, classInfo(module.factory).class_id);
    ASSERT_TRUE(inst->valid() && inst->setup(48000.0, 512));
    Handler handler;
    inst->ctrl()->set_component_handler(inst->controller, handler.as<v3_component_handler>());

    v3_plugin_view** view = inst->ctrl()->create_view(inst->controller, "editor");
    ASSERT_NE(view, nullptr);
    v3_plugin_view* v = v3_cpp_obj(view);
    EXPECT_EQ(v->is_platform_type_supported(view, "X11EmbedWindowID"), V3_OK);
    EXPECT_EQ(v->is_platform_type_supported(view, "HWND"), V3_FALSE);
    v3_view_rect rect{};
    ASSERT_EQ(v->get_size(view, &rect), V3_OK);
    EXPECT_EQ(rect.right - rect.left, 600);
    EXPECT_EQ(rect.bottom - rect.top, 369);
    EXPECT_EQ(v->can_resize(view), V3_FALSE);

    RunLoop loop;
    Frame frame(&loop);
    v->set_frame(view, frame.as<v3_plugin_frame>());
    EXPECT_EQ(v->removed(view), V3_FALSE) << "not attached yet";
    EXPECT_NE(v->attached(view, reinterpret_cast<void*>(parent), "HWND"), V3_OK);
    ASSERT_EQ(v->attached(view, reinterpret_cast<void*>(parent), "X11EmbedWindowID"), V3_OK);
    EXPECT_EQ(loop.timers.size(), 1u) << "the view idles on the host's run loop";
    EXPECT_EQ(loop.fds.size(), 1u) << "and watches its X connection there";
    EXPECT_EQ(qltest::childCount(dpy, parent), 1);

    // One editor per effect: a second view stays empty.
    v3_plugin_view** second = inst->ctrl()->create_view(inst->controller, "editor");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(
        v3_cpp_obj(second)->attached(second, reinterpret_cast<void*>(parent), "X11EmbedWindowID"),
        V3_FALSE);

    loop.run(30);
    const qltest::Picture picture = qltest::grab(dpy, parent, 600, 369);
    ASSERT_EQ(picture.width, 600);
    EXPECT_TRUE(picture.at(230, 300).lightGrey()) << "panel body";
    EXPECT_TRUE(picture.at(100, 345).dark()) << "bottom bar";
    EXPECT_TRUE(picture.at(262, 36).green()) << "left feedback on button, lit";
#if defined(QL_TEST_PNG)
    if (const char* path = std::getenv("QL_VST3_SCREENSHOT")) {
        std::vector<unsigned char> rgb;
        for (const qltest::Rgb& c : picture.pixels)
            rgb.insert(rgb.end(), {(unsigned char)c.r, (unsigned char)c.g, (unsigned char)c.b});
        stbi_write_png(path, 600, 369, 3, rgb.data(), 600 * 3);
    }
#endif

    // A click on the left feedback switch: a gesture for the host, the effect switched off.
    handler.events.clear();
    XWarpPointer(dpy, None, parent, 0, 0, 0, 0, 262, 36);
    XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
    XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
    XFlush(dpy);
    loop.run(20);
    std::string kinds;
    for (const auto& e : handler.events)
        if (e.id == ql::LeftFeedbackOn && e.kind != 'r') kinds += e.kind;
    EXPECT_EQ(kinds, "bpe") << "begin, perform and end of the switch";
    ASSERT_EQ(inst->value(ql::LeftFeedbackOn), 0.0);

    // The host's queues may still hold the value from before the edit: it must not undo it.
    float silence[512] = {}, l[512], r[512];
    float* in[2] = {silence, silence};
    float* out[2] = {l, r};
    Changes older;
    older.set(ql::LeftFeedbackOn, 1.0);
    inst->process(in, out, 512, nullptr, &older);
    EXPECT_EQ(inst->value(ql::LeftFeedbackOn), 0.0) << "an older value undid the edit";
    // Once the host has sent the edit back, its own values count again.
    Changes echo, automation;
    echo.set(ql::LeftFeedbackOn, 0.0);
    automation.set(ql::LeftFeedbackOn, 1.0);
    inst->process(in, out, 512, nullptr, &echo);
    inst->process(in, out, 512, nullptr, &automation);
    EXPECT_EQ(inst->value(ql::LeftFeedbackOn), 1.0);

    EXPECT_EQ(v->removed(view), V3_OK);
    EXPECT_TRUE(loop.timers.empty() && loop.fds.empty());
    EXPECT_EQ(v->removed(view), V3_FALSE);
    XSync(dpy, False);
    EXPECT_EQ(qltest::childCount(dpy, parent), 0);

    // Attached again, then let go of without removed(): the editor closes with the view.
    ASSERT_EQ(v->attached(view, reinterpret_cast<void*>(parent), "X11EmbedWindowID"), V3_OK);
    loop.run(3);
    v3_cpp_obj_unref(view);
    EXPECT_TRUE(loop.timers.empty());
    EXPECT_EQ(
        v3_cpp_obj(second)->attached(second, reinterpret_cast<void*>(parent), "X11EmbedWindowID"),
        V3_OK)
        << "the editor is free again";
    // The effect goes first, with the view still attached: the view keeps it alive.
    inst.reset();
    loop.run(3);
    v3_cpp_obj_unref(second);
    EXPECT_TRUE(loop.timers.empty());

    XDestroyWindow(dpy, parent);
    XCloseDisplay(dpy);
}
#elif defined(_WIN32)
// The view in a host's Win32 window: it idles on a timer of its own (Windows hosts have no run
// loop to offer) and leaves the host's window as it found it.
#include <gtest/gtest.h>

#include "vst3host.h"

using namespace vst3host;

TEST(Vst3Editor, RunsInTheHostsWindowAndGoesAwaySafely) {
    Module module(QL_VST3_PLUGIN_PATH);
    ASSERT_NE(module.factory, nullptr);
    v3_class_info info{};
    v3_cpp_obj(module.factory)->get_class_info(module.factory, 0, &info);
    auto inst = std::make_unique<Instance>(module.factory, info.class_id);
    ASSERT_TRUE(inst->valid() && inst->setup(48000.0, 512));
    HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640,
                                  420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    auto pump = [](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(10);
        }
    };
    v3_plugin_view** view = inst->ctrl()->create_view(inst->controller, "editor");
    ASSERT_NE(view, nullptr);
    v3_plugin_view* v = v3_cpp_obj(view);
    EXPECT_EQ(v->is_platform_type_supported(view, "HWND"), V3_OK);
    EXPECT_EQ(v->is_platform_type_supported(view, "X11EmbedWindowID"), V3_FALSE);
    ASSERT_EQ(v->attached(view, parent, "HWND"), V3_OK);
    pump(20);
    EXPECT_NE(GetWindow(parent, GW_CHILD), nullptr) << "the editor sits in the host's window";
    EXPECT_EQ(v->removed(view), V3_OK);
    pump(3);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    ASSERT_EQ(v->attached(view, parent, "HWND"), V3_OK);
    pump(3);
    v3_cpp_obj_unref(view); // let go of while attached
    pump(3);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    DestroyWindow(parent);
}
#endif
