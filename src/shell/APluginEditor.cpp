#include "shell/APluginEditor.h"

#include "effect/aplugin.h"
#include "effect/parameters.h"

#include <thread>

APluginEditor::APluginEditor(APlugin* effect, TEditorViewFactory factory)
    : AEffEditor(effect), factory(factory) {}

APluginEditor::~APluginEditor() {
    if (window.load(std::memory_order_seq_cst)) {
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
    if (IEditorView* view = window.load(std::memory_order_relaxed)) {
        rect.bottom = static_cast<VstInt16>(view->ClientHeight());
        rect.right = static_cast<VstInt16>(view->ClientWidth());
    }
    if (place) *place = &rect;
    return 1;
}

void APluginEditor::pushValues(IEditorView& view) {
    const APlugin& effect = plugin();
    for (int index = 0; index < ql::kNumParams; ++index)
        view.SetParameterValue(index, effect.param(index));
}

VstInt32 APluginEditor::open(void* parent) {
    parentWindow = parent;
    ++openCount;
    IEditorView* view = window.load(std::memory_order_relaxed);
    if (!view) {
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
        // Requests before this point are covered by the push below.
        requestsPushed = updateRequests.load(std::memory_order_seq_cst);
        pushValues(*created);
        created->SetEffect(&plugin());
        view = created.release();
        window.store(view, std::memory_order_seq_cst);
    }
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
    IEditorView* view = window.exchange(nullptr, std::memory_order_seq_cst);
    if (!view) return;
    // An update that saw the window before the exchange may still be writing into it. This
    // thread waits; the updating one never does.
    while (updatesInFlight.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
    if (pumping)
        closedWhilePumping.reset(view);
    else
        delete view;
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
    IEditorView* view = window.load(std::memory_order_relaxed);
    if (!view) return;

    const uint32_t requests = updateRequests.load(std::memory_order_seq_cst);
    if (requests != requestsPushed) {
        requestsPushed = requests;
        pushValues(*view);
    }

    TEditorTiming timing;
    timing.HostCanSync = effect.getHostHasTimeInfo();
    timing.SyncActive = effect.getTempoSynced();
    timing.LastSampleRate = effect.getCurrentSampleRate();
    timing.SyncTempo = static_cast<float>(effect.getCurrentTempo());
    timing.HostTempo = effect.getHostTempo();
    timing.MsRange = effect.getWholeNoteMs();
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
    const IEditorView* view = window.load(std::memory_order_relaxed);
    return view ? view->ConnectionFd() : -1;
}

void APluginEditor::update() {
    updateRequests.fetch_add(1, std::memory_order_seq_cst);
    if (plugin().isEditorClosed()) return;
    updatesInFlight.fetch_add(1, std::memory_order_seq_cst);
    if (IEditorView* view = window.load(std::memory_order_seq_cst)) pushValues(*view);
    updatesInFlight.fetch_sub(1, std::memory_order_seq_cst);
}
