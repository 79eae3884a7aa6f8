// The editor bridge as the plug-in installs it: its view is the real editor window, on a
// window-system connection of its own per open editor.
#include "shell/APluginEditor.h"

#include "dibcontrols/cDIBTimer.h"
#include "editor/TPluginEditorWindow.h"
#include "effect/editorbridge.h"
#include "framework/classes.h"
#ifndef QL_NO_NATIVE_PLATFORM
#include "framework/platform/native.h"
#endif

#include <memory>

namespace {

class TNativeEditorView final : public IEditorView {
  public:
    TNativeEditorView(std::unique_ptr<IPlatform> platform, void* parent)
        : fPlatform(std::move(platform)),
          fWindow(std::make_unique<TPluginEditorWindow>(nullptr, parent, fPlatform.get())) {
        fWindow->Show();
    }
    ~TNativeEditorView() override {
        // The window's native parts belong to the platform's connection: window first.
        fWindow.reset();
        fPlatform.reset();
    }

    int32_t ClientWidth() const override { return fWindow->ClientWidth(); }
    int32_t ClientHeight() const override { return fWindow->ClientHeight(); }
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override {
        fWindow->SetBounds(left, top, width, height);
    }
    void SetParameterValue(int32_t index, float value) override {
        fWindow->SetParameterValue(index, value);
    }
    void SetEffect(APlugin* effect) override { fWindow->Effect = effect; }
    void SetTiming(const TEditorTiming& timing) override { fWindow->SetTiming(timing); }
    void Repaint() override { fWindow->Repaint(); }
    void EnableUpdater() override {
        if (fWindow->updater) fWindow->updater->SetEnabled(true);
    }
    void UpdaterTimer() override { fWindow->UpdaterTimer(fWindow->updater); }
    void PumpEvents() override { fPlatform->PumpEvents(); }
    int ConnectionFd() const override { return fPlatform->ConnectionFd(); }

  private:
    std::unique_ptr<IPlatform> fPlatform;
    std::unique_ptr<TPluginEditorWindow> fWindow;
};

std::unique_ptr<IEditorView> NewNativeEditorView(void* parent) {
#ifdef QL_NO_NATIVE_PLATFORM
    (void)parent;
    return nullptr;
#else
    std::unique_ptr<IPlatform> platform = NewNativePlatform();
    if (!platform) return nullptr; // no display reachable
    try {
        return std::make_unique<TNativeEditorView>(std::move(platform), parent);
    } catch (const EOutOfResources&) {
        return nullptr; // the parent does not exist or has gone; the platform goes with this frame
    }
#endif
}

} // namespace

AEffEditor* createEditorBridge(APlugin* effect) {
    return new APluginEditor(effect, NewNativeEditorView);
}
