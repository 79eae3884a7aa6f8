#include "shell/APluginEditor.h"

#include "effect/aplugin.h"
#include "effect/parameters.h"

APluginEditor::APluginEditor(APlugin* effect, TEditorViewFactory factory)
    : AEffEditor(effect), factory(factory) {}

APluginEditor::~APluginEditor() {
    if (window) {
        plugin().setEditorClosed(true);
        destroyWindow();
    }
    closedWhilePumping.reset();
}

APlugin& APluginEditor::plugin() const {
    return *static_cast<APlugin*>(effect);
}

VstInt32 APluginEditor::getRect(ERect** place) {
    rect.top = 0;
    rect.left = 0;
    if (IEditorView* view = window.get()) {
        rect.bottom = static_cast<VstInt16>(view->ClientHeight());
        rect.right = static_cast<VstInt16>(view->ClientWidth());
    }
    if (place) *place = &rect;
    return 1;
}

void APluginEditor::pushValues(IEditorView& view, bool all) {
    APlugin& effect = plugin();
    const APlugin::ChangeMask changed = effect.takeEditorChanges();
    for (int index = 0; index < ql::kNumParams; ++index)
        if (all || (changed[size_t(index) / 64] >> (index % 64) & 1))
            view.SetParameterValue(index, effect.param(index));
}

VstInt32 APluginEditor::open(void* parent) {
    parentWindow = parent;
    ++openCount;
    if (!window) {
        std::unique_ptr<IEditorView> created;
        try {
            created = factory ? factory(parent) : nullptr;
        } catch (...) {
            created = nullptr;
        }
        if (!created) {
            // No window could be made (no display, a parent that is not there): the host hears
            // 0 and this open does not count.
            --openCount;
            if (openCount == 0) parentWindow = nullptr;
            return 0;
        }
        created->SetBounds(0, 0, created->ClientWidth(), created->ClientHeight());
        pushValues(*created, true);
        created->SetEffect(&plugin());
        // Before the first idle copy the published fields are still zero; the sample-rate label
        // already shows the effect's own rate.
        TEditorTiming initial;
        initial.EffectSampleRate = plugin().getSampleRate();
        created->SetTiming(initial);
        window = std::move(created);
    }
    IEditorView* view = window.get();
    plugin().setEditorClosed(false);
    view->EnableUpdater();
    // The refresh moves the controls to the values just pushed; painting after it makes the
    // first picture on screen show them (painted before, it would show the form's defaults until
    // the next idle call).
    view->UpdaterTimer();
    view->Repaint();
    return 1;
}

void APluginEditor::destroyWindow() {
    if (!window) return;
    if (pumping)
        closedWhilePumping = std::move(window);
    else
        window.reset();
    parentWindow = nullptr;
}

void APluginEditor::close() {
    if (openCount > 0) --openCount;
    if (openCount != 0) return;
    plugin().setEditorClosed(true);
    destroyWindow();
    parentWindow = nullptr;
}

void APluginEditor::idle() {
    APlugin& effect = plugin();
    if (effect.isEditorClosed()) return;
    IEditorView* view = window.get();
    if (!view) return;
    pushValues(*view, false);

    TEditorTiming timing;
    timing.HostCanSync = effect.getHostHasTimeInfo();
    timing.SyncActive = effect.getTempoSynced();
    timing.LastSampleRate = effect.getCurrentSampleRate();
    timing.SyncTempo = static_cast<float>(effect.getCurrentTempo());
    timing.HostTempo = effect.getHostTempo();
    timing.MsRange = effect.getWholeNoteMs();
    timing.EffectSampleRate = effect.getSampleRate();
    view->SetTiming(timing);

    pumping = true;
    try {
        view->PumpEvents();
    } catch (...) {
        // Handlers report their own failures; nothing may reach the host.
    }
    pumping = false;
    closedWhilePumping.reset();
}

int APluginEditor::connectionFd() const {
    const IEditorView* view = window.get();
    return view ? view->ConnectionFd() : -1;
}
