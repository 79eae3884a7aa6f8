// Cost of the editor window's refresh tick on the headless platform: with nothing changed (the
// ten-a-second steady state), with every parameter moving its control and text, the same followed
// by the paint of what moved, and a paint of the whole front side.
#include "dibcontrols/cDIBPanel.h"
#include "dibcontrols/cDIBTimer.h"
#include "editor/TPluginEditorWindow.h"
#include "effect/aplugin.h"
#include "framework/platform/headless/headless.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

VstIntPtr QL_VSTCALL QuietHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) {
    return 0;
}

struct Editor {
    THeadlessPlatform platform;
    std::unique_ptr<APlugin> effect = std::make_unique<APlugin>(QuietHost);
    TNativeHandle host = platform.CreateHostWindow(Bounds(0, 0, 600, 369));
    std::unique_ptr<TPluginEditorWindow> window =
        std::make_unique<TPluginEditorWindow>(nullptr, host, &platform);

    Editor() {
        window->SetBounds(0, 0, window->ClientWidth(), window->ClientHeight());
        window->Show();
        window->HandleNeeded();
        Push(0.3f);
        window->Effect = effect.get();
        window->HostCanSync = true;
        window->SyncActive = true;
        window->LastSampleRate = 44100;
        window->SyncTempo = window->HostTempo = 120.0f;
        window->MsRange = 2000;
        Tick();
        window->Repaint();
        platform.PumpEvents();
    }
    ~Editor() {
        window.reset();
        platform.DestroyHostWindow(host);
    }
    // Every parameter at a value near base, each index a little apart so no two controls agree.
    void Push(float base) {
        for (int i = 0; i < TPluginEditorWindow::kParameterCount; ++i)
            window->SetParameterValue(i, base + float(i % 7) * 0.05f);
    }
    void Tick() { window->UpdaterTimer(window->updater); }
};

void BM_EditorTickUnchanged(benchmark::State& state) {
    Editor e;
    for (auto _ : state)
        e.Tick();
}
BENCHMARK(BM_EditorTickUnchanged)->Unit(benchmark::kMicrosecond);

void BM_EditorTickAllMoving(benchmark::State& state) {
    Editor e;
    bool high = false;
    for (auto _ : state) {
        high = !high;
        e.Push(high ? 0.6f : 0.3f); // buttons flip too: 1.0 only appears in neither set
        e.Tick();
    }
}
BENCHMARK(BM_EditorTickAllMoving)->Unit(benchmark::kMicrosecond);

void BM_EditorTickAllMovingWithPaint(benchmark::State& state) {
    Editor e;
    bool high = false;
    for (auto _ : state) {
        high = !high;
        e.Push(high ? 0.6f : 0.3f);
        e.Tick();
        e.platform.PumpEvents();
    }
}
BENCHMARK(BM_EditorTickAllMovingWithPaint)->Unit(benchmark::kMicrosecond);

void BM_EditorFullPaint(benchmark::State& state) {
    Editor e;
    for (auto _ : state) {
        e.window->FrontSideContainer->Invalidate();
        e.platform.PumpEvents();
    }
    benchmark::DoNotOptimize(
        e.platform.Surface(e.window->FrontSideContainer->Handle()).Pixels.data());
}
BENCHMARK(BM_EditorFullPaint)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
