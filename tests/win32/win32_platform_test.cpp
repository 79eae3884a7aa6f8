// The Win32 backend in a real (wine) window system: the class it registers and unregisters, child
// windows of a foreign parent stacked in creation order, paints and timers from the pump, input
// messages turned into sink calls, and windows that go away under it.
#include "framework/platform/native.h"
#include "framework/platform/win32/win32platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

struct TRecordingSink final : IWindowSink {
    std::vector<TRect> Paints;
    std::vector<std::pair<TMouseButton, TPoint>> Downs;
    std::vector<TPoint> Moves;
    std::vector<TShiftState> Shifts;
    std::vector<uint16_t> Keys;
    std::vector<char32_t> Chars;
    std::function<void()> OnDown;

    void PlatformPaint(const TRect& update) override { Paints.push_back(update); }
    void PlatformMouseDown(TMouseButton b, TShiftState s, TPoint p) override {
        Downs.emplace_back(b, p);
        Shifts.push_back(s);
        if (OnDown) OnDown();
    }
    void PlatformMouseMove(TShiftState, TPoint p) override { Moves.push_back(p); }
    void PlatformMouseUp(TMouseButton, TShiftState, TPoint) override {}
    void PlatformMouseLeave() override {}
    void PlatformKeyDown(uint16_t key, TShiftState) override { Keys.push_back(key); }
    void PlatformKeyUp(uint16_t, TShiftState) override {}
    void PlatformChar(char32_t ch) override { Chars.push_back(ch); }
    void PlatformFocusChanged(bool) override {}
};

// A host's window: a plain class of the test's own.
class Win32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QlTestHostWindow";
        RegisterClassW(&wc);
        host = CreateWindowExW(0, L"QlTestHostWindow", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host, nullptr);
        platform = NewNativePlatform();
        ASSERT_NE(platform, nullptr);
    }
    void TearDown() override {
        platform.reset();
        if (host) DestroyWindow(host);
    }

    HWND host = nullptr;
    std::unique_ptr<IPlatform> platform;
    TRecordingSink sink;
};

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[128] = {};
    GetClassNameW(hwnd, name, 128);
    return name;
}

TEST_F(Win32Test, ClassIsTheModulesOwnAndIsUnregisteredWithTheLastPlatform) {
    auto w = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    const std::wstring name = ClassOf(static_cast<HWND>(w->Handle()));
    EXPECT_EQ(name.rfind(L"QuillantropeWindow_", 0), 0u);
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    HINSTANCE module = GetModuleHandleW(nullptr);
    EXPECT_TRUE(GetClassInfoExW(module, name.c_str(), &info));
    // A second platform shares the class; only the last one's going unregisters it.
    auto second = NewNativePlatform();
    ASSERT_NE(second, nullptr);
    second.reset();
    EXPECT_TRUE(GetClassInfoExW(module, name.c_str(), &info));
    w.reset();
    platform.reset();
    EXPECT_FALSE(GetClassInfoExW(module, name.c_str(), &info));
}

TEST_F(Win32Test, ChildOfTheHostsWindowAtItsBounds) {
    auto w = platform->NewWindow(host, Bounds(7, 9, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    const HWND hwnd = static_cast<HWND>(w->Handle());
    EXPECT_EQ(GetParent(hwnd), host);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD);
    RECT r{};
    GetWindowRect(hwnd, &r);
    POINT origin{r.left, r.top};
    ScreenToClient(host, &origin);
    EXPECT_EQ(origin.x, 7);
    EXPECT_EQ(origin.y, 9);
    EXPECT_EQ(r.right - r.left, 50);
    EXPECT_EQ(r.bottom - r.top, 40);
    w->SetBounds(Bounds(1, 2, 30, 20));
    GetClientRect(hwnd, &r);
    EXPECT_EQ(r.right, 30);
    EXPECT_EQ(r.bottom, 20);
}

TEST_F(Win32Test, ALaterSiblingCoversAnEarlierOne) {
    // The framework stacks children in creation order, later ones on top (an editor's front side
    // is made after the page it covers).
    auto first = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    auto second = platform->NewWindow(host, Bounds(10, 10, 50, 40), true, sink);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const HWND earlier = static_cast<HWND>(first->Handle());
    const HWND later = static_cast<HWND>(second->Handle());
    EXPECT_EQ(GetWindow(host, GW_CHILD), later);
    EXPECT_EQ(GetWindow(later, GW_HWNDNEXT), earlier);
    EXPECT_EQ(ChildWindowFromPointEx(host, POINT{20, 20}, CWP_SKIPINVISIBLE), later);
    EXPECT_EQ(ChildWindowFromPointEx(host, POINT{5, 5}, CWP_SKIPINVISIBLE), earlier);
}

TEST_F(Win32Test, RefusesAParentThatIsNoWindow) {
    EXPECT_EQ(platform->NewWindow(reinterpret_cast<HWND>(uintptr_t(0x200001)), Bounds(0, 0, 10, 10),
                                  true, sink),
              nullptr);
}

TEST_F(Win32Test, EraseIsAnsweredWithoutPainting) {
    auto w = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    const HWND hwnd = static_cast<HWND>(w->Handle());
    const HDC dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    ReleaseDC(hwnd, dc);
}

TEST_F(Win32Test, InvalidationPaintsFromThePump) {
    ShowWindow(host, SW_SHOWNA);
    auto w = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    platform->PumpEvents();
    sink.Paints.clear();
    w->Invalidate(Bounds(3, 4, 10, 5));
    platform->PumpEvents();
    ASSERT_FALSE(sink.Paints.empty());
    const TRect& r = sink.Paints.back();
    EXPECT_LE(r.Left, 3);
    EXPECT_LE(r.Top, 4);
    EXPECT_GE(r.Right, 13);
    EXPECT_GE(r.Bottom, 9);
}

TEST_F(Win32Test, TimersTickFromThePumpUntilStopped) {
    int ticks = 0;
    const auto id = platform->StartTimer(10, [&] { ++ticks; });
    ASSERT_NE(id, 0u);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ticks < 2 && std::chrono::steady_clock::now() < end) {
        platform->PumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(ticks, 2);
    platform->StopTimer(id);
    const int stopped = ticks;
    for (int i = 0; i < 10; ++i) {
        platform->PumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(ticks, stopped);
}

TEST_F(Win32Test, MouseAndKeyMessagesReachTheSink) {
    auto w = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    const HWND hwnd = static_cast<HWND>(w->Handle());
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(5, 6));
    ASSERT_EQ(sink.Downs.size(), 1u);
    EXPECT_EQ(sink.Downs[0].first, mbLeft);
    EXPECT_EQ(sink.Downs[0].second, (TPoint{5, 6}));
    EXPECT_EQ(sink.Shifts[0] & (ssLeft | ssShift), ssLeft | ssShift);
    // Under capture the cursor may be left of or above the window: coordinates are signed.
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(WORD(int16_t(-3)), WORD(int16_t(-20))));
    ASSERT_EQ(sink.Moves.size(), 1u);
    EXPECT_EQ(sink.Moves[0], (TPoint{-3, -20}));
    SendMessageW(hwnd, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageW(hwnd, WM_CHAR, 0xD83D, 0); // a character beyond the basic plane, in halves
    SendMessageW(hwnd, WM_CHAR, 0xDE00, 0);
    EXPECT_EQ(sink.Keys, std::vector<uint16_t>{vkLeft});
    EXPECT_EQ(sink.Chars, std::vector<char32_t>{U'\U0001F600'});
}

TEST_F(Win32Test, AWindowClosedFromItsOwnHandlerIsGone) {
    auto w = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    const HWND hwnd = static_cast<HWND>(w->Handle());
    sink.OnDown = [&] { w.reset(); };
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    EXPECT_EQ(w, nullptr);
    EXPECT_FALSE(IsWindow(hwnd));
    platform->PumpEvents();
}

TEST_F(Win32Test, AHostThatDestroysItsWindowFirstLeavesAHandlelessWindow) {
    auto w = platform->NewWindow(host, Bounds(0, 0, 50, 40), true, sink);
    ASSERT_NE(w, nullptr);
    DestroyWindow(host);
    host = nullptr;
    EXPECT_EQ(w->Handle(), nullptr);
    w->Invalidate(Bounds(0, 0, 5, 5)); // nothing to reach, nothing to break
    w->SetBounds(Bounds(0, 0, 5, 5));
    platform->PumpEvents();
    w.reset();
}

} // namespace
