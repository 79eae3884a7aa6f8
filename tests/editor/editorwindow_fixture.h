// An editor window on the headless platform inside a stand-in host window, driven the way the
// editor bridge drives it, against a real effect whose host callback records every automation.
#pragma once

#include "dibcontrols/cDIBTimer.h"
#include "editor/TPluginEditorWindow.h"
#include "effect/aplugin.h"
#include "framework/formloader.h"
#include "framework/platform/headless/headless.h"
#include "valuemodel/numtext.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

struct TSent {
    VstInt32 Index;
    float Value;
    friend bool operator==(const TSent&, const TSent&) = default;
};

inline std::vector<TSent>& HostAutomations() {
    static std::vector<TSent> list;
    return list;
}

inline VstIntPtr QL_VSTCALL RecordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr,
                                          void*, float opt) {
    if (opcode == audioMasterAutomate) HostAutomations().push_back({index, opt});
    return 0;
}

// The effect, noting what the window passes to setParameterAutomated before the effect clamps
// it and tells the host.
class TRecordingPlugin : public APlugin {
  public:
    TRecordingPlugin() : APlugin(RecordingHost) {}
    void setParameterAutomated(VstInt32 index, float value) override {
        Passed.push_back({index, value});
        APlugin::setParameterAutomated(index, value);
    }
    std::vector<TSent> Passed;
};

class EditorWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::setDecimalSeparator('.');
        HostAutomations().clear();
        effect = std::make_unique<TRecordingPlugin>();
        host = platform.CreateHostWindow(Bounds(0, 0, 600, 369));
        window = std::make_unique<TPluginEditorWindow>(nullptr, host, &platform);
    }
    void TearDown() override {
        // Every automation the host heard carries exactly the value the window passed.
        EXPECT_EQ(HostAutomations(), effect->Passed);
        window.reset();
        platform.DestroyHostWindow(host);
    }

    // What the bridge does when the host opens the editor: values, effect, timer, one refresh.
    void Open() {
        window->SetBounds(0, 0, window->ClientWidth(), window->ClientHeight());
        window->Show();
        window->HandleNeeded();
        for (int i = 0; i < TPluginEditorWindow::kParameterCount; ++i)
            window->SetParameterValue(i, effect->param(i));
        window->Effect = effect.get();
        TEditorTiming initial;
        initial.EffectSampleRate = effect->getSampleRate();
        window->SetTiming(initial);
        window->updater->SetEnabled(true);
        Tick();
    }
    void Tick() { window->UpdaterTimer(window->updater); }
    // What the bridge copies on idle.
    void IdleCopy(bool hostHasTime, double tempo) {
        TEditorTiming timing;
        timing.HostCanSync = hostHasTime;
        timing.SyncActive = hostHasTime;
        timing.LastSampleRate = effect->getSampleRate();
        timing.SyncTempo = float(tempo);
        timing.HostTempo = hostHasTime ? float(tempo) : 0.0f;
        timing.MsRange = int32_t(240000.0 / tempo);
        timing.EffectSampleRate = effect->getSampleRate();
        window->SetTiming(timing);
    }
    std::vector<TSent> TakeSent() {
        std::vector<TSent> s = effect->Passed;
        effect->Passed.clear();
        HostAutomations().clear();
        return s;
    }
    template <class T> T& Get(const char* name) { return FindFormComponent<T>(*window, name); }
    TPoint CentreOf(const TControl& c) const {
        return {c.Left() + c.Width() / 2, c.Top() + c.Height() / 2};
    }

    THeadlessPlatform platform;
    TNativeHandle host = nullptr;
    std::unique_ptr<TRecordingPlugin> effect;
    std::unique_ptr<TPluginEditorWindow> window;
};
