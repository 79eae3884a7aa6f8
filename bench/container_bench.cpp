// Cost of one container paint on the headless platform: the editor-sized surface (600 x 371) with
// a background picture and 40 film-strip controls of 28 x 28, painted whole, and painted for one
// control's rectangle only. Both go the way a window paint does (invalidate, pump, blit).
#include "dibcontrols/cDIBControl.h"
#include "dibcontrols/cDIBImageList.h"
#include "dibcontrols/cDIBPanel.h"
#include "framework/extctrls.h"
#include "framework/forms.h"
#include "framework/platform/headless/headless.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 600, kHeight = 371, kFrames = 61, kFrame = 28, kKnobs = 40;

// Draws one frame of a keyed strip, as the knob does.
class StripControl : public TCustomDIBControl {
  public:
    StripControl(TComponent* owner, TCustomDIBImageList& list, int frame)
        : TCustomDIBControl(owner), fStrip(CreateImageLink()), fFrame(frame) {
        SetDIBImageList(&list);
        fStrip.SetDIBIndex(0);
    }

  protected:
    void PaintControl() override {
        TAbstractSuperDIB* strip = nullptr;
        if (fStrip.GetImage(strip)) strip->DrawFrame(0, 0, ScratchDIB(), kFrames, fFrame);
    }

  private:
    TDIBImageLink& fStrip;
    int fFrame;
};

struct Scene {
    THeadlessPlatform platform;
    TDIBImageList list;
    std::unique_ptr<TForm> form;
    TDIBContainer* container = nullptr;
    std::vector<StripControl*> knobs;

    Scene() {
        TMemoryDIB& strip = list.DIBImages().Add().DIB();
        strip.SetSize(kFrames * kFrame, kFrame);
        for (int y = 0; y < kFrame; ++y)
            for (int x = 0; x < kFrames * kFrame; ++x) {
                const int dx = x % kFrame - 14, dy = y - 14;
                strip.ScanLine(y)[x] =
                    dx * dx + dy * dy < 169 ? 0xFF000000u | uint32_t(x * 31) : 0x00FF00FFu;
            }
        strip.SetTransparentMode(tmFixed);
        strip.SetTransparentColor(0xFF00FF);
        strip.SetTransparent(true);

        form = std::make_unique<TForm>(nullptr, nullptr, &platform);
        form->SetBounds(0, 0, kWidth, kHeight);
        form->Show();
        container = new TDIBContainer(form.get());
        container->SetParent(form.get());
        container->SetBounds(0, 0, kWidth, kHeight);
        auto* panel = new TImage(container);
        panel->SetParent(container);
        TBitmap picture(kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                picture.ScanLine(y)[x] = 0xFF000000u | uint32_t(x * 7 + y * 13) * 0x010101u;
        panel->SetPicture(std::move(picture));
        panel->SetBounds(0, 0, kWidth, kHeight);
        for (int k = 0; k < kKnobs; ++k) {
            auto* knob = new StripControl(container, list, (k * 7) % kFrames);
            knob->SetBounds(10 + (k % 10) * 58, 20 + (k / 10) * 85, kFrame, kFrame);
            knobs.push_back(knob);
        }
        platform.PumpEvents();
    }
};

void BM_ContainerFullPaint(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        scene.container->Invalidate();
        scene.platform.PumpEvents();
    }
    benchmark::DoNotOptimize(scene.platform.Surface(scene.container->Handle()).Pixels.data());
}
BENCHMARK(BM_ContainerFullPaint)->Unit(benchmark::kMicrosecond);

void BM_ContainerOneControlPaint(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        scene.knobs[17]->Invalidate();
        scene.platform.PumpEvents();
    }
    benchmark::DoNotOptimize(scene.platform.Surface(scene.container->Handle()).Pixels.data());
}
BENCHMARK(BM_ContainerOneControlPaint)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
