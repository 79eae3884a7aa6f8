#include "formats/bridge/pluginbridge.h"

#include "effect/aplugin.h"
#include "effect/dsp.h"
#include "effect/timing.h"
#include "shell/pluginfactory.h"
#include "valuemodel/numtext.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace ql::formats {

namespace {
// The bridge whose effect is being made: its constructor already asks the host, before the
// record can carry the bridge.
thread_local PluginBridge* tConstructing = nullptr;
} // namespace

PluginBridge::PluginBridge(HostNames names)
    : vendor(names.vendor ? names.vendor : ""), product(names.product ? names.product : "") {
    tConstructing = this;
    effect = createVstEffect(&PluginBridge::hostCallback);
    tConstructing = nullptr;
    if (effect) {
        effect->user = this;
        dispatch(effOpen);
    }
}

PluginBridge::~PluginBridge() {
    if (!effect) return;
    if (editorOpen) closeEditor();
    dispatch(effClose); // the effect deletes itself
}

VstIntPtr QL_VSTCALL PluginBridge::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                VstIntPtr value, void* ptr, float opt) {
    PluginBridge* bridge =
        effect && effect->user ? static_cast<PluginBridge*>(effect->user) : tConstructing;
    return bridge ? bridge->answer(opcode, index, value, ptr, opt) : 0;
}

VstIntPtr PluginBridge::answer(VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float opt) {
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterGetTime:
        return timeValid ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
    case audioMasterTempoAt:
        // A VST 2 host answers its tempo map at the position; the format's host gave one tempo.
        return std::min(dsp::roundToInt(knownTempo * 10000.0), INT32_MAX); // tempo <= 214748
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
        if (!ptr) return 0;
        copyText(static_cast<char*>(ptr), kVstMaxVendorStrLen,
                 (opcode == audioMasterGetVendorString ? vendor : product).c_str());
        return 1;
    case audioMasterAutomate:
        // Only the editor automates, on the user-interface thread.
        editedSinceIdle = true;
        edits.edit(index, opt);
        if (editListener) editListener(editListenerContext);
        return 1;
    default:
        return 0;
    }
}

VstIntPtr PluginBridge::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                 float opt) const {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

APlugin& PluginBridge::plugin() const {
    return *static_cast<APlugin*>(static_cast<AudioEffect*>(effect->object));
}

void PluginBridge::setSampleRate(double rate) {
    sampleRate = rate;
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
}

void PluginBridge::setBlockSize(std::int32_t frames) {
    dispatch(effSetBlockSize, 0, frames);
}

void PluginBridge::start() {
    // A new run of the audio: the host tells its tempo and position afresh.
    tempoKnown = false;
    knownTempo = 0.0;
    blockPosition = 0.0;
    dispatch(effMainsChanged, 0, 1);
}

void PluginBridge::stop() {
    dispatch(effMainsChanged, 0, 0);
}

void PluginBridge::process(float** inputs, float** outputs, std::int32_t frames,
                           const Transport& transport) {
    // A tempo that is no number of beats per minute is no tempo (and could not be answered to
    // the tempo request).
    const bool hasTempo = transport.present && transport.hasTempo && transport.tempo > 0.0 &&
                          transport.tempo <= kMaxTempo;
    if (hasTempo) {
        knownTempo = transport.tempo;
        tempoKnown = true;
    }
    // A record only for a host that gave time; its tempo flag only for a tempo it really gave.
    // A transport that never carried a tempo is no time information: the effect keeps its own.
    timeValid = transport.present && tempoKnown;
    timeInfo = VstTimeInfo{};
    timeInfo.samplePos = transport.hasSamplePos ? transport.samplePos : blockPosition;
    timeInfo.sampleRate = sampleRate;
    if (hasTempo) {
        timeInfo.tempo = transport.tempo;
        timeInfo.flags = kVstTempoValid;
    }
    effect->processReplacing(effect, inputs, outputs, frames);
    if (frames > 0) blockPosition += frames;
}

void PluginBridge::setParameter(std::int32_t index, float value) {
    effect->setParameter(effect, index, value);
}

float PluginBridge::parameter(std::int32_t index) const {
    return effect->getParameter(effect, index);
}

std::int32_t PluginBridge::currentProgram() const {
    return static_cast<std::int32_t>(dispatch(effGetProgram));
}

void PluginBridge::selectProgram(std::int32_t program) {
    dispatch(effSetProgram, 0, program);
}

std::string PluginBridge::programName(std::int32_t program) const {
    // The full name: a VST 2 host's buffer would cut it to 24 characters.
    if (program < 0 || program >= kNumPrograms) return {};
    return plugin().program(program).getName();
}

std::vector<std::uint8_t> PluginBridge::saveState() const {
    return encodeState(plugin().captureState());
}

StateResult PluginBridge::loadState(const void* data, std::size_t size) {
    EffectState state;
    const StateResult result = decodeState(data, size, state);
    if (result == StateResult::Ok) plugin().restoreState(state);
    return result;
}

ParamTextContext PluginBridge::textContext() const {
    const APlugin& p = plugin();
    return {p.getCurrentSampleRate(), wholeNoteMillis(p.getCurrentTempo())};
}

std::size_t PluginBridge::formatValue(std::int32_t index, float value, char* out,
                                      std::size_t capacity) const {
    return formatParamValue(index, value, textContext(), out, capacity);
}

bool PluginBridge::parseValue(std::int32_t index, std::string_view text, float& value) const {
    return parseParamValue(index, text, textContext(), value);
}

bool PluginBridge::openEditor(void* parent) {
    if (editorOpen) return true;
    editorOpen = dispatch(effEditOpen, 0, 0, parent) != 0;
    return editorOpen;
}

void PluginBridge::idleEditor() {
    if (!editorOpen) return;
    editedSinceIdle = false;
    dispatch(effEditIdle);
    // A gesture ends when a whole idle call passed without an edit (the editor says nothing
    // when a drag ends).
    if (!editedSinceIdle) edits.endGesture();
}

void PluginBridge::closeEditor() {
    if (!editorOpen) return;
    dispatch(effEditClose);
    editorOpen = false;
    edits.endGesture();
}

int PluginBridge::editorConnection() const {
    const AEffEditor* editor = editorOpen ? plugin().getEditor() : nullptr;
    return editor ? editor->connectionFd() : -1;
}

void PluginBridge::setEditListener(EditListener listener, void* context) {
    editListener = listener;
    editListenerContext = context;
}

} // namespace ql::formats
