// quillantrope-editor on Windows: a top-level window hosting the plug-in's editor, idled at 30 Hz
// from a timer with a playing host's time; prints the automation the editor sends. The same
// options as the X11 host.
#include "editorhost.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

// The window's client area as the screen shows it, through a 32-bit top-down DIB, as rows of RGB
// bytes; empty when it cannot be read.
std::vector<uint8_t> capture(HWND hwnd, int width, int height) {
    const HDC window = GetDC(hwnd);
    const HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<uint8_t> rgb;
    if (bitmap && bits) {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        const bool copied = BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
        if (copied) {
            rgb.resize(size_t(width) * size_t(height) * 3);
            const auto* px = static_cast<const uint32_t*>(bits);
            for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
                rgb[3 * i] = uint8_t(px[i] >> 16);
                rgb[3 * i + 1] = uint8_t(px[i] >> 8);
                rgb[3 * i + 2] = uint8_t(px[i]);
            }
        }
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, window);
    return rgb;
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return 1; // the editor covers the client area
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::string defaultPlugin() {
    const std::string dir = qlrender::executableDirectory();
    return dir.empty() ? std::string("Quillantrope.dll") : dir + "\\Quillantrope.dll";
}

constexpr DWORD kFrameStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// The frame window's size for a client area of `width` x `height`.
SIZE frameSize(int width, int height) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, kFrameStyle, FALSE, 0);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The host's frame window and its class, gone on exit after the effect.
struct Frame {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const wchar_t* className = L"QuillantropeEditorHost";
    HWND window = nullptr;
    ~Frame() {
        if (window) DestroyWindow(window);
        UnregisterClassW(className, instance);
    }
};

} // namespace

int main(int argc, char** argv) {
    qleditorhost::Options options;
    if (const int parsed = qleditorhost::parseOptions(argc, argv, options))
        return parsed == 1 ? 0 : 2;

    Frame frame; // destroyed after the effect: the editor leaves the window before it goes
    qleditorhost::HostedEffect effect;
    if (!effect.load(options, defaultPlugin())) return 1;
    int width = 0, height = 0;
    effect.editorSize(width, height);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = frame.instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = frame.className;
    RegisterClassExW(&wc);
    SIZE size = frameSize(width, height);
    frame.window = CreateWindowExW(0, frame.className, L"Quillantrope", kFrameStyle, 0, 0, size.cx,
                                   size.cy, nullptr, nullptr, frame.instance, nullptr);
    if (!frame.window) {
        std::fprintf(stderr, "quillantrope-editor: cannot create a window\n");
        return 1;
    }
    ShowWindow(frame.window, SW_SHOW);
    UpdateWindow(frame.window);

    if (!effect.openEditor(frame.window)) return 3;
    const int requestedWidth = width, requestedHeight = height;
    effect.editorSize(width, height);
    if (width != requestedWidth || height != requestedHeight) {
        size = frameSize(width, height);
        SetWindowPos(frame.window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    }
    std::printf("editor open %d x %d in window 0x%llx\n", width, height,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frame.window)));
    std::fflush(stdout);

    const ULONGLONG opened = GetTickCount64();
    int status = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, qleditorhost::HostedEffect::kIdleMs, nullptr);
    for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
            effect.idle();
            const ULONGLONG elapsed = GetTickCount64() - opened;
            if (!options.screenshot.empty() && elapsed >= ULONGLONG(options.afterMs)) {
                if (!qleditorhost::saveScreenshot(options.screenshot, width, height,
                                                  capture(frame.window, width, height)))
                    status = 1;
                break;
            }
            if (options.quitAfterMs >= 0 && elapsed >= ULONGLONG(options.quitAfterMs)) break;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    KillTimer(nullptr, timer);
    return status;
}
