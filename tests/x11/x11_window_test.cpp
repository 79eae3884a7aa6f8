// Windows, pixels and teardown of the X11 backend: what a form shows inside a host's window, the
// blit of bottom-up and partial images, failures that must not end the host, and no leftovers.
#include "x11fixture.h"

#include "framework/platform/native.h"

#include <atomic>
#include <cstdlib>

namespace {

// A sink that paints a fixed picture when asked, from an image stored bottom-up.
class BottomUpSink final : public IWindowSink {
  public:
    BottomUpSink(int w, int h) : fWidth(w), fHeight(h), fStore(size_t(w) * size_t(h)) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                At(x, y) = 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 8) << 8 | 0x40;
    }
    // Pixel (x, y) counted from the top, stored in row h - 1 - y.
    uint32_t& At(int x, int y) {
        return fStore[size_t(fHeight - 1 - y) * size_t(fWidth) + size_t(x)];
    }
    TPixelView View() {
        return {fStore.data() + ptrdiff_t(fHeight - 1) * fWidth, fWidth, fHeight,
                -ptrdiff_t(fWidth)};
    }
    IPlatformWindow* Window = nullptr;
    int Paints = 0;

    void PlatformPaint(const TRect& r) override {
        ++Paints;
        Window->Blit(View(), r);
    }
    void PlatformMouseDown(TMouseButton, TShiftState, TPoint) override {}
    void PlatformMouseMove(TShiftState, TPoint) override {}
    void PlatformMouseUp(TMouseButton, TShiftState, TPoint) override {}
    void PlatformMouseLeave() override {}
    void PlatformKeyDown(uint16_t, TShiftState) override {}
    void PlatformKeyUp(uint16_t, TShiftState) override {}
    void PlatformChar(char32_t) override {}
    void PlatformFocusChanged(bool) override {}

  private:
    int fWidth, fHeight;
    std::vector<uint32_t> fStore;
};

} // namespace

class X11PixelTest : public X11Test, public ::testing::WithParamInterface<bool> {
  protected:
    std::unique_ptr<IPlatform> Platform() {
        return NewX11Platform(nullptr, TX11Options{.SharedMemory = GetParam()});
    }
};

INSTANTIATE_TEST_SUITE_P(Transfer, X11PixelTest, ::testing::Values(true, false),
                         [](const auto& param) {
                             return param.param ? "SharedMemory" : "PutImage";
                         });

TEST_P(X11PixelTest, FormInHostWindowShowsWhatTheHeadlessPlatformDraws) {
    const TSize hostSize{240, 170};
    const Window host = NewHost(Bounds(40, 40, hostSize.Width, hostSize.Height));
    auto platform = Platform();
    ASSERT_TRUE(platform);
    Scene scene(*platform, X11Handle(host));
    const std::vector<uint32_t> expected = HeadlessPicture(hostSize, "Quill 42");
    const TRect all = Bounds(0, 0, hostSize.Width, hostSize.Height);
    const int segments = OwnShmSegments();
    ASSERT_TRUE(PumpUntil(*platform, [&] { return Grab(host, all) == expected; }));
    // One segment for each of the two windows with shared memory, none without.
    EXPECT_EQ(OwnShmSegments(), segments + (GetParam() ? 2 : 0));

    // Spot checks that do not lean on the headless rendering.
    EXPECT_EQ(PixelAt(host, Scene::kForm.Left + 3, Scene::kForm.Bottom - 3), Rgb(clNavy));
    EXPECT_EQ(PixelAt(host, Scene::kForm.Left + Scene::kPanel.Left + 2,
                      Scene::kForm.Top + Scene::kPanel.Top + 2),
              Rgb(clRed));
    EXPECT_EQ(PixelAt(host, 2, 2), 0u); // the host's own area stays untouched
    int ink = 0;                        // text pixels inside the label
    for (uint32_t p : Grab(host, Bounds(Scene::kForm.Left + 8, Scene::kForm.Top + 8, 90, 20)))
        ink += p != Rgb(clWhite);
    EXPECT_GT(ink, 20);

    // A change reaches the screen on the next pumps, and nothing else changes.
    scene.label->SetCaption("Other");
    const std::vector<uint32_t> changed = HeadlessPicture(hostSize, "Other");
    EXPECT_TRUE(PumpUntil(*platform, [&] { return Grab(host, all) == changed; }));
}

TEST_P(X11PixelTest, BlitTakesBottomUpRowsAndOnlyTheRectangle) {
    const Window host = NewHost(Bounds(20, 20, 100, 60));
    auto platform = Platform();
    ASSERT_TRUE(platform);
    BottomUpSink sink(40, 24);
    auto window = platform->NewWindow(X11Handle(host), Bounds(5, 6, 40, 24), true, sink);
    ASSERT_TRUE(window);
    sink.Window = window.get();
    const auto expect = [&](int x, int y) { return sink.At(x, y) & 0xFFFFFF; };
    ASSERT_TRUE(
        PumpUntil(*platform, [&] { return PixelAt(host, 5 + 39, 6 + 23) == expect(39, 23); }));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(PixelAt(host, 5 + x, 6 + y), expect(x, y)) << x << "," << y;

    // Outside a paint (a synchronous repaint): only the rectangle changes. The first pictures'
    // exposures are all handled before, so the next pump paints nothing and only syncs.
    PumpFor(*platform, 50);
    const std::vector<uint32_t> before = Grab(host, Bounds(5, 6, 40, 24));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            sink.At(x, y) = 0xFF00FF00;
    const TRect part = Bounds(10, 4, 7, 5);
    window->Blit(sink.View(), part);
    const int paints = sink.Paints;
    platform->PumpEvents();
    ASSERT_EQ(sink.Paints, paints);
    const std::vector<uint32_t> after = Grab(host, Bounds(5, 6, 40, 24));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(after[size_t(y * 40 + x)],
                      part.Contains({x, y}) ? 0x00FF00u : before[size_t(y * 40 + x)])
                << x << "," << y;

    // Invalidate asks for a paint of that area at the next pump, not before.
    window->Invalidate(Bounds(0, 0, 3, 3));
    EXPECT_EQ(sink.Paints, paints);
    platform->PumpEvents();
    EXPECT_EQ(sink.Paints, paints + 1);
    EXPECT_EQ(PixelAt(host, 5, 6), 0x00FF00u);
}

TEST_F(X11Test, OpenAndCloseLeaveNoWindowsOrSharedMemoryBehind) {
    const Window host = NewHost(Bounds(30, 30, 240, 170));
    const int segments = OwnShmSegments();
    for (int round = 0; round < 3; ++round) {
        auto platform = NewX11Platform();
        ASSERT_TRUE(platform);
        {
            Scene scene(*platform, X11Handle(host));
            ASSERT_TRUE(PumpUntil(*platform, [&] {
                return PixelAt(host, Scene::kForm.Left + 2, Scene::kForm.Bottom - 2) == Rgb(clNavy);
            }));
            EXPECT_EQ(ChildCount(host), 1);
            EXPECT_EQ(ChildCount(X11WindowId(scene.form->Handle())), 1); // the panel
        }
        // Gone at once, without another pump: a host stops idling a closed editor.
        EXPECT_EQ(ChildCount(host), 0) << "round " << round;
        platform.reset();
        EXPECT_EQ(OwnShmSegments(), segments) << "round " << round;
    }
}

TEST_F(X11Test, BogusOrVanishedParentFailsWithoutEndingTheProcess) {
    auto platform = NewX11Platform();
    ASSERT_TRUE(platform);
    {
        // An id no client holds: the open fails, as the framework reports a refused window.
        TForm form(nullptr, X11Handle(0x3FFFFF0), platform.get());
        EXPECT_THROW(form.Show(), EOutOfResources);
    }
    // The same connection still works afterwards.
    const Window host = NewHost(Bounds(30, 30, 240, 170));
    auto scene = std::make_unique<Scene>(*platform, X11Handle(host));
    ASSERT_TRUE(PumpUntil(*platform, [&] {
        return PixelAt(host, Scene::kForm.Left + 2, Scene::kForm.Bottom - 2) == Rgb(clNavy);
    }));

    // The host destroys its window before closing the editor: every later call on the dead
    // windows raises protocol errors on our connection, which must stay ours.
    XDestroyWindow(dpy, host);
    XSync(dpy, False);
    hosts.clear();
    scene->label->SetCaption("after");
    scene->form->Invalidate();
    scene->form->Repaint();
    scene->panel->SetBounds(0, 0, 50, 50);
    PumpFor(*platform, 50);
    scene->form->SetCursor(crHandPoint);
    scene.reset();
    platform->PumpEvents();
    platform.reset();
    SUCCEED(); // reaching here is the test: Xlib's default handler would have exited
}

TEST(X11NoDisplay, OpeningAPlatformFailsCleanly) {
    EXPECT_EQ(NewX11Platform(":4711"), nullptr); // nobody serves this display
    const char* saved = getenv("DISPLAY");
    const std::string display = saved ? saved : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(NewX11Platform(), nullptr);
    EXPECT_EQ(NewNativePlatform(), nullptr);
    if (saved) setenv("DISPLAY", display.c_str(), 1);
}
