// The composed editor window as a host shows it, after the refresh has written every control.
// With QL_EDITOR_PNG set, the picture is also written there as a PNG for a look by eye.
#include "editorwindow_fixture.h"

#include "dibcontrols/cDIBPanel.h"
#include "framework/extctrls.h"
#include "framework/stdctrls.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdlib>
#include <vector>

namespace {

THeadlessImage RenderOpenEditor(THeadlessPlatform& platform, TPluginEditorWindow& window) {
    window.Repaint();
    platform.PumpEvents();
    return platform.Screenshot(window.Handle());
}

void WritePng(const THeadlessImage& image, const char* path) {
    std::vector<unsigned char> rgb(size_t(image.Width) * size_t(image.Height) * 3);
    for (size_t i = 0; i < image.Pixels.size(); ++i) {
        const uint32_t p = image.Pixels[i]; // 0x00RRGGBB
        rgb[i * 3 + 0] = uint8_t(p >> 16);
        rgb[i * 3 + 1] = uint8_t(p >> 8);
        rgb[i * 3 + 2] = uint8_t(p);
    }
    ASSERT_NE(stbi_write_png(path, image.Width, image.Height, 3, rgb.data(), image.Width * 3), 0)
        << path;
}

// Pixels of r in image that differ from the panel artwork beneath.
int DifferingFromPanel(const THeadlessImage& image, const TBitmap& panel, const TRect& r) {
    int n = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x)
            n += (image.At(x, y) & 0xFFFFFF) != (panel.ScanLine(y)[x] & 0xFFFFFF);
    return n;
}

TEST_F(EditorWindowTest, RendersTheRefreshedWindow) {
    Open();
    IdleCopy(true, 120.0);
    Tick();
    const THeadlessImage screen = RenderOpenEditor(platform, *window);
    ASSERT_EQ(screen.Width, 600);
    ASSERT_EQ(screen.Height, 369);
    const TBitmap& panel = Get<TImage>("bg").Picture();
    // The texts the refresh wrote are drawn over the panel.
    for (const char* name : {"kHzLabel", "BPMLabel", "HostCanSyncLabel", "VersionLabel",
                             "LeftDelayTimeInMsLabel", "DryLevelLabel", "LeftFilterFreqLabel"}) {
        const TLabel& label = Get<TLabel>(name);
        EXPECT_GT(DifferingFromPanel(screen, panel, label.BoundsRect()), 5) << name;
    }
    // No text is cut off by its label's stored size (the form's fonts are drawn with other faces).
    for (int i = 0; i < window->FrontSideContainer->ControlCount(); ++i)
        if (auto* label = dynamic_cast<TLabel*>(window->FrontSideContainer->Controls(i))) {
            EXPECT_GE(label->Width(), TextExtent(label->Font(), label->Caption()).Width)
                << label->Name() << " \"" << label->Caption() << "\"";
        }
    if (const char* path = std::getenv("QL_EDITOR_PNG")) WritePng(screen, path);
}

} // namespace
